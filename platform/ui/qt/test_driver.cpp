// The test driver over Qt: widgets found through the framework's handles, input given
// with QTest as the keyboard and mouse would give it; the driver's primitives over QTimer
// and QMessageBox.
#include "platform/ui/test_driver.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <map>

#include "platform/ui/backend.h"
#include "platform/ui/qt/handles.h"
#include "platform/ui/qt/qt_app.h"
#include "platform/ui/qt/widgets.h"
#include "platform/ui/test_driver_backend.h"

namespace tarvic::uitest {
namespace {

QWidget* Window(const CWnd& dlg) {
    return tarvic::ui::ToWidget(dlg.GetSafeHwnd());
}

QWidget* Control(const CWnd& dlg, int id) {
    const CWnd* item = dlg.GetDlgItem(id);
    return item ? tarvic::ui::ToWidget(item->GetSafeHwnd()) : nullptr;
}

std::vector<QMessageBox*> ShownBoxes() {
    std::vector<QMessageBox*> boxes;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
            boxes.push_back(box);
        }
    }
    return boxes;
}

BoxIcon IconOf(const QMessageBox* box) {
    switch (box->icon()) {
        case QMessageBox::Information:
            return BoxIcon::Information;
        case QMessageBox::Warning:
            return BoxIcon::Warning;
        case QMessageBox::Critical:
            return BoxIcon::Error;
        case QMessageBox::Question:
            return BoxIcon::Question;
        default:
            return BoxIcon::None;
    }
}

Image ToImage(const QImage& source) {
    const QImage argb = source.convertToFormat(QImage::Format_ARGB32);
    Image image;
    image.width = argb.width();
    image.height = argb.height();
    image.pixels.reserve(static_cast<size_t>(image.width) * image.height);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            image.pixels.push_back(argb.pixel(x, y));
        }
    }
    return image;
}

}  // namespace

int RunUi(int& argc, char** argv, const std::function<int()>& body) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    tarvic::ui::SetUpApplication();
    return body();
}

std::pair<int, int> VisibleListEntries(const CWnd& dlg, int id) {
    auto* list = qobject_cast<QListWidget*>(Control(dlg, id));
    if (!list || !list->isVisible() || list->count() == 0) {
        return {-1, -1};
    }
    const QRect area = list->viewport()->rect();
    int first = -1;
    int last = -1;
    for (int i = 0; i < list->count(); ++i) {
        if (list->visualItemRect(list->item(i)).intersects(area)) {
            first = first < 0 ? i : first;
            last = i;
        }
    }
    return {first, last};
}

void ScrollListToTop(CWnd& dlg, int id) {
    if (auto* list = qobject_cast<QListWidget*>(Control(dlg, id))) {
        list->verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMinimum);
    }
}

namespace {

QAction* SystemMenuItem(const CWnd& dlg, const std::string& utf8) {
    QWidget* window = Window(dlg);
    if (!window || window->contextMenuPolicy() != Qt::ActionsContextMenu) {
        return nullptr;
    }
    for (QAction* action : window->actions()) {
        if (action->text() == QString::fromStdString(utf8)) {
            return action;
        }
    }
    return nullptr;
}

}  // namespace

bool ChooseSystemMenuItem(CWnd& dlg, const std::string& utf8) {
    QAction* action = SystemMenuItem(dlg, utf8);
    if (!action || !action->isEnabled()) {
        return false;
    }
    action->trigger();
    return true;
}

std::optional<bool> SystemMenuItemChecked(const CWnd& dlg, const std::string& utf8) {
    const QAction* action = SystemMenuItem(dlg, utf8);
    if (!action) {
        return std::nullopt;
    }
    return action->isChecked();
}

bool IsOpen(const CWnd& dlg) {
    const QWidget* w = Window(dlg);
    return w && w->isVisible();
}

void PressKey(CWnd& dlg, Key key) {
    QWidget* window = Window(dlg);
    if (!window) {
        return;
    }
    QWidget* target = window->focusWidget() ? window->focusWidget() : window;
    static const Qt::Key kKeys[] = {Qt::Key_Return, Qt::Key_Escape, Qt::Key_Tab,
                                    Qt::Key_Up,     Qt::Key_Down,   Qt::Key_L};
    QTest::keyClick(target, kKeys[static_cast<int>(key)],
                    key == Key::CtrlL ? Qt::ControlModifier : Qt::NoModifier);
}

void Click(CWnd& dlg, int id) {
    if (QWidget* w = Control(dlg, id)) {
        QTest::mouseClick(w, Qt::LeftButton);
    }
}

void ClickCloseBox(CWnd& dlg) {
    if (QWidget* w = Window(dlg)) {
        w->close();
    }
}

void SelectComboEntry(CWnd& dlg, int id, int index) {
    auto* combo = qobject_cast<QComboBox*>(Control(dlg, id));
    if (!combo || index < 0 || index >= combo->count()) {
        return;
    }
    combo->setFocus(Qt::TabFocusReason);
    while (combo->currentIndex() != index) {
        const int before = combo->currentIndex();
        QTest::keyClick(combo, before < index ? Qt::Key_Down : Qt::Key_Up);
        if (combo->currentIndex() == before) {
            return;  // the key did not move it (disabled)
        }
    }
}

void TypeText(CWnd& dlg, int id, const std::string& utf8) {
    QWidget* w = Control(dlg, id);
    QLineEdit* edit = qobject_cast<QLineEdit*>(w);
    if (auto* combo = qobject_cast<QComboBox*>(w)) {
        edit = combo->lineEdit();
    }
    if (!edit || !edit->isEnabled()) {
        return;
    }
    edit->setFocus(Qt::TabFocusReason);
    edit->selectAll();
    if (utf8.empty()) {
        QTest::keyClick(edit, Qt::Key_Delete);
    } else {
        // QTest's key clicks know ASCII only; other letters come as text with no key.
        for (const char32_t c : QString::fromStdString(utf8).toUcs4()) {
            if (c < 0x80) {
                QTest::keyClick(edit, static_cast<char>(c));
            } else {
                QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString::fromUcs4(&c, 1),
                                    Qt::NoModifier);
            }
        }
    }
}

int FocusedControlId(const CWnd& dlg) {
    const QWidget* window = Window(dlg);
    const QWidget* focus = window ? window->focusWidget() : nullptr;
    if (!focus) {
        return 0;
    }
    for (const auto& c : tarvic::ui::UiBackend::Controls(&dlg)) {
        const QWidget* w = tarvic::ui::ToWidget(c->GetSafeHwnd());
        if (w && (w == focus || w->isAncestorOf(focus))) {
            return c->GetDlgCtrlID();
        }
    }
    return 0;
}

bool IsDefaultButton(const CWnd& dlg, int id) {
    const auto* button = qobject_cast<const QPushButton*>(Control(dlg, id));
    return button && button->isDefault();
}

std::string ShownText(const CWnd& dlg, int id) {
    return tarvic::ui::ShownText(Control(dlg, id)).toStdString();
}

std::vector<std::string> ListEntries(const CWnd& dlg, int id) {
    std::vector<std::string> entries;
    if (auto* list = qobject_cast<const QListWidget*>(Control(dlg, id))) {
        for (int i = 0; i < list->count(); ++i) {
            entries.push_back(list->item(i)->text().toStdString());
        }
    }
    return entries;
}

std::vector<ControlInfo> Controls(const CWnd& dlg) {
    std::vector<ControlInfo> infos;
    for (const auto& c : tarvic::ui::UiBackend::Controls(&dlg)) {
        const QWidget* w = tarvic::ui::ToWidget(c->GetSafeHwnd());
        if (!w) {
            continue;
        }
        ControlInfo info;
        info.id = c->GetDlgCtrlID();
        if (qobject_cast<const QPushButton*>(w)) {
            info.className = "button";
        } else if (qobject_cast<const QLineEdit*>(w)) {
            info.className = "edit";
        } else if (qobject_cast<const QLabel*>(w)) {
            info.className = "static";
        } else if (qobject_cast<const QComboBox*>(w)) {
            info.className = "combobox";
        } else if (qobject_cast<const QListWidget*>(w)) {
            info.className = "listbox";
        }
        const QString text = tarvic::ui::ShownText(w);
        info.text = text.toStdString();
        const QRect g = w->geometry();
        info.rect = {g.x(), g.y(), g.width(), g.height()};
        info.textWidth = w->fontMetrics().horizontalAdvance(text);
        info.visible = w->isVisible();
        infos.push_back(info);
    }
    return infos;
}

int TextWidth(const CWnd& dlg, const std::string& utf8) {
    const QWidget* w = Window(dlg);
    return w ? w->fontMetrics().horizontalAdvance(QString::fromStdString(utf8)) : 0;
}

int LineHeight(const CWnd& dlg) {
    const QWidget* w = Window(dlg);
    return w ? w->fontMetrics().height() : 0;
}

std::vector<Size> WindowIconSizes(const CWnd& dlg) {
    std::vector<Size> sizes;
    if (const QWidget* w = Window(dlg)) {
        for (const QSize& s : w->windowIcon().availableSizes()) {
            sizes.push_back({s.width(), s.height()});
        }
    }
    return sizes;
}

Image IconImage(HICON icon, bool large) {
    const tarvic::ui::IconData* data = tarvic::ui::ToIcon(icon);
    return data ? ToImage(large ? data->large : data->small) : Image();
}

Image PaintedWindow(const CWnd& dlg) {
    QWidget* w = Window(dlg);
    if (!w) {
        return {};
    }
    QImage image(w->size(), QImage::Format_ARGB32);
    image.fill(Qt::black);
    w->render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
    return ToImage(image);
}

void Resize(CWnd& dlg, int width, int height) {
    if (QWidget* w = Window(dlg)) {
        w->setFixedSize(width, height);
    }
}

void Minimise(CWnd& dlg) {
    if (QWidget* w = Window(dlg)) {
        w->showMinimized();
    }
}

namespace backend {

namespace {

std::map<TimerId, QTimer*>& Timers() {
    static std::map<TimerId, QTimer*> timers;
    return timers;
}

}  // namespace

TimerId StartTimer(int ms, std::function<void()> fn) {
    static TimerId last = 0;
    const TimerId id = ++last;
    auto* timer = new QTimer(QCoreApplication::instance());
    QObject::connect(timer, &QTimer::timeout, [fn = std::move(fn)] { fn(); });
    Timers()[id] = timer;
    timer->start(ms);
    return id;
}

void StopTimer(TimerId id) {
    const auto it = Timers().find(id);
    if (it == Timers().end()) {
        return;
    }
    // Later: fn may be running from this very timer.
    it->second->stop();
    it->second->deleteLater();
    Timers().erase(it);
}

std::vector<Box> Boxes() {
    std::vector<Box> boxes;
    for (const QMessageBox* box : ShownBoxes()) {
        boxes.push_back(box);
    }
    return boxes;
}

MessageBoxInfo Describe(Box b) {
    const auto* box = static_cast<const QMessageBox*>(b);
    return {box->windowTitle().toStdString(), box->text().toStdString(), IconOf(box),
            box->windowModality() != Qt::NonModal};
}

bool PressOk(Box b) {
    auto* box = const_cast<QMessageBox*>(static_cast<const QMessageBox*>(b));
    QAbstractButton* ok = box->button(QMessageBox::Ok);
    if (!ok) {
        return false;
    }
    QTest::mouseClick(ok, Qt::LeftButton);
    return true;
}

}  // namespace backend

}  // namespace tarvic::uitest
