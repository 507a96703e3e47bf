#include "platform/ui/qt/dialog_template.h"

#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

#include "platform/ui/backend.h"
#include "platform/ui/qt/handles.h"
#include "platform/ui/qt/widgets.h"

namespace ui {
namespace {

// Rounds to nearest, as the Windows dialog manager does.
int MulDiv(int value, int num, int den) {
    const long long p = static_cast<long long>(value) * num;
    return static_cast<int>(p >= 0 ? (p + den / 2) / den : -((-p + den / 2) / den));
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics fm(font);
    const int cx = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    baseX = (cx / 26 + 1) / 2;
    baseY = fm.height();
}

int DialogUnits::X(int du) const {
    return MulDiv(du, baseX, 4);
}
int DialogUnits::Y(int du) const {
    return MulDiv(du, baseY, 8);
}

QFont DialogFont(const rc::Dialog& d) {
    QFont font(QString::fromStdString(d.fontFace.empty() ? "Sans Serif" : d.fontFace));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(d.fontPoints > 0 ? d.fontPoints : 8);
    return font;
}

void BuildDialog(CDialog* dlg, DialogWindow* window, const rc::Dialog& t) {
    using namespace rc::style;
    const QFont font = DialogFont(t);
    window->setFont(font);
    const DialogUnits du(font);
    window->setWindowTitle(QString::fromStdString(t.caption));
    window->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    window->setFixedSize(du.X(t.cx), du.Y(t.cy));

    auto& controls = UiBackend::Controls(dlg);
    QWidget* previousTabStop = nullptr;
    for (size_t i = 0; i < t.controls.size(); ++i) {
        const rc::Control& c = t.controls[i];
        const QString text = QString::fromStdString(c.text);
        const int id = c.id;
        QWidget* w = nullptr;
        int height = du.Y(c.cy);
        std::unique_ptr<CWnd> object;
        if (c.className == "button") {
            auto* button = new QPushButton(text, window);
            button->setAutoDefault(false);
            button->setDefault((c.style & 0x0Fu) == kDefPushButton);
            QObject::connect(button, &QPushButton::clicked, window,
                             [dlg, id] { UiBackend::Command(dlg, id); });
            w = button;
        } else if (c.className == "edit") {
            auto* edit = new QLineEdit(window);
            edit->setFrame((c.style & kBorder) != 0 || (c.exStyle & 0x200u) != 0);
            w = edit;
        } else if (c.className == "static") {
            auto* label = new QLabel(text, window);
            const uint32_t align = c.style & kStaticAlignMask;
            const Qt::Alignment horizontal = align == 1   ? Qt::AlignHCenter
                                             : align == 2 ? Qt::AlignRight
                                                          : Qt::AlignLeft;
            // A one-line label sits on the middle line of its box, level with the field
            // beside it; longer texts wrap from the top.
            const bool oneLine =
                QFontMetrics(font).horizontalAdvance(text) <= du.X(c.cx) && !text.contains('\n');
            label->setAlignment(horizontal | (oneLine ? Qt::AlignVCenter : Qt::AlignTop));
            label->setWordWrap(!oneLine);
            w = label;
        } else if (c.className == "combobox") {
            const bool editable = (c.style & kComboTypeMask) != kComboDropDownList;
            auto* combo = new ComboWidget(window, editable, (c.style & kComboSort) != 0);
            // The template's height includes the dropped-down list; the field itself is
            // as high as the font needs.
            height = std::min(height, combo->sizeHint().height());
            w = combo;
            object = std::make_unique<CComboBox>();
        } else if (c.className == "listbox") {
            w = new ListWidget(window, (c.style & kListSort) != 0);
            object = std::make_unique<CListBox>();
        } else {
            w = new QWidget(window);
        }
        w->setObjectName(QStringLiteral("control_%1").arg(id));
        w->setGeometry(du.X(c.x), du.Y(c.y), du.X(c.cx), height);
        if ((c.style & kVisible) == 0) {
            w->hide();
        }
        w->setEnabled((c.style & kDisabled) == 0);
        const bool tabStop = (c.style & kTabStop) != 0;
        if (c.className == "static") {
            w->setFocusPolicy(Qt::NoFocus);
        } else {
            w->setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);
        }
        if (tabStop) {
            if (previousTabStop) {
                QWidget::setTabOrder(previousTabStop, w);
            }
            previousTabStop = w;
        }
        if (i >= controls.size()) {
            controls.push_back(object ? std::move(object) : std::make_unique<CWnd>());
        }
        UiBackend::SetId(controls[i].get(), id);
        UiBackend::Hwnd(controls[i].get()) = ToHwnd(w);
    }
}

}  // namespace ui
