// The framework's windows, controls and application object over Qt Widgets.
#include <QApplication>
#include <QEventLoop>
#include <QFontMetrics>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "platform/ui/cp1251.h"
#include "platform/ui/qt/backend.h"
#include "platform/ui/qt/qt_app.h"
#include "platform/ui/qt/ui_thread.h"

using ui::OnUiThread;
using ui::OnUiThreadOr;
using ui::ToHwnd;
using ui::ToWidget;

namespace {

QString FromCp1251(const char* text) {
    return QString::fromStdString(ui::Cp1251ToUtf8(text ? text : ""));
}

int ToCp1251(const QString& text, CString& out) {
    out = ui::Utf8ToCp1251(text.toStdString());
    return static_cast<int>(out.size());
}

// Rounds to nearest, as the Windows dialog manager does.
int MulDiv(int value, int num, int den) {
    const long long p = static_cast<long long>(value) * num;
    return static_cast<int>(p >= 0 ? (p + den / 2) / den : -((-p + den / 2) / den));
}

std::atomic<CWinApp*> g_app{nullptr};

}  // namespace

namespace ui {

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

ComboWidget::ComboWidget(QWidget* parent, bool editable, bool sorted)
    : QComboBox(parent), m_sorted(sorted) {
    if (editable) {
        // When editing finishes (Enter, leaving the field) the box selects the entry whose
        // text was typed; typed text must never select one. Our own field lets the handlers
        // below run before and after the box's own.
        auto* edit = new QLineEdit(this);
        connect(edit, &QLineEdit::editingFinished, this, [this] { m_bFinishingEdit = true; });
        setLineEdit(edit);
        connect(edit, &QLineEdit::editingFinished, this, [this] {
            m_bFinishingEdit = false;
            if (m_sel < 0 && currentIndex() >= 0) {
                const QString typed = currentText();
                const QSignalBlocker quiet(this);
                setCurrentIndex(-1);
                setEditText(typed);
            }
        });
        setCompleter(nullptr);
        connect(edit, &QLineEdit::textEdited, this, [this] { m_sel = -1; });
    }
    setInsertPolicy(QComboBox::NoInsert);
    setDuplicatesEnabled(true);
    connect(this, &QComboBox::activated, this, [this](int index) {
        if (!m_bFinishingEdit) {
            m_sel = index;
        }
    });
}

int ComboWidget::Add(const QString& text) {
    int index = count();
    if (m_sorted) {
        index = 0;
        while (index < count() &&
               QString::compare(itemText(index), text, Qt::CaseInsensitive) <= 0) {
            ++index;
        }
    }
    const QString typed = currentText();
    const QSignalBlocker quiet(this);
    insertItem(index, text);
    if (m_sel >= index) {
        ++m_sel;
    }
    // Adding an entry never selects one (Qt would select the first entry of an empty list).
    if (currentIndex() != m_sel) {
        setCurrentIndex(m_sel);
    }
    if (m_sel < 0 && isEditable()) {
        setEditText(typed);
    }
    return index;
}

int ComboWidget::Select(int index) {
    if (index < 0 || index >= count()) {
        setCurrentIndex(-1);
        m_sel = -1;
        return CB_ERR;
    }
    setCurrentIndex(index);
    m_sel = index;
    return index;
}

int ListWidget::Add(const QString& text) {
    int index = count();
    if (m_sorted) {
        index = 0;
        while (index < count() &&
               QString::compare(item(index)->text(), text, Qt::CaseInsensitive) <= 0) {
            ++index;
        }
    }
    insertItem(index, text);
    return index;
}

DialogWindow::DialogWindow(CDialog* owner, QWidget* parent) : QDialog(parent), m_owner(owner) {}

void DialogWindow::reject() {
    if (m_owner) {
        UiBackend::Cancel(m_owner);
    }
}

void DialogWindow::accept() {
    if (m_owner) {
        UiBackend::Command(m_owner, IDOK);
    }
}

void DialogWindow::paintEvent(QPaintEvent* e) {
    if (m_owner) {
        UiBackend::Dispatch(m_owner, WM_PAINT, 0, 0);
    } else {
        QDialog::paintEvent(e);
    }
}

void UiBackend::Command(CDialog* d, int id) {
    if (id == IDOK) {
        d->OnOK();
    } else if (id == IDCANCEL) {
        d->OnCancel();
    }
}

namespace {

void ApplyIcons(QWidget* w, HICON big, HICON small) {
    QIcon icon;
    if (const IconData* b = ToIcon(big)) {
        icon.addPixmap(QPixmap::fromImage(b->large));
    }
    if (const IconData* s = ToIcon(small)) {
        icon.addPixmap(QPixmap::fromImage(s->small));
    }
    w->setWindowIcon(icon);
}

}  // namespace

namespace {

// Builds the dialog's controls from its template, in template order (the tab order), and
// binds the control objects to them. Control objects of an earlier run are reused, so that
// pointers handed out by GetDlgItem stay valid for the dialog object's life.
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

}  // namespace
}  // namespace ui

using ui::UiBackend;

// CWnd

CWnd::CWnd() = default;
CWnd::~CWnd() = default;

CWnd* CWnd::GetDlgItem(int id) const {
    return OnUiThread([&]() -> CWnd* {
        for (const auto& c : m_controls) {
            if (c->m_nID == id) {
                return c.get();
            }
        }
        return nullptr;
    });
}

void CWnd::SetDlgItemText(int id, const char* text) {
    if (CWnd* item = GetDlgItem(id)) {
        item->SetWindowText(text);
    }
}

int CWnd::GetDlgItemText(int id, CString& out) const {
    out.clear();
    CWnd* item = GetDlgItem(id);
    return item ? item->GetWindowText(out) : 0;
}

void CWnd::SetWindowText(const char* text) {
    OnUiThread([&] {
        QWidget* w = ToWidget(m_hWnd);
        if (!w) {
            return;
        }
        const QString s = FromCp1251(text);
        if (auto* edit = qobject_cast<QLineEdit*>(w)) {
            edit->setText(s);
        } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
            if (combo->isEditable()) {
                combo->setEditText(s);
            }
        } else if (auto* button = qobject_cast<QPushButton*>(w)) {
            button->setText(s);
        } else if (auto* label = qobject_cast<QLabel*>(w)) {
            label->setText(s);
        } else if (w->isWindow()) {
            w->setWindowTitle(s);
        }
    });
}

int CWnd::GetWindowText(CString& out) const {
    QString text = OnUiThread([&] {
        const QWidget* w = ToWidget(m_hWnd);
        if (!w) {
            return QString();
        }
        if (auto* edit = qobject_cast<const QLineEdit*>(w)) {
            return edit->text();
        }
        if (auto* combo = qobject_cast<const QComboBox*>(w)) {
            return combo->currentText();
        }
        if (auto* button = qobject_cast<const QPushButton*>(w)) {
            return button->text();
        }
        if (auto* label = qobject_cast<const QLabel*>(w)) {
            return label->text();
        }
        return w->isWindow() ? w->windowTitle() : QString();
    });
    return ToCp1251(text, out);
}

BOOL CWnd::EnableWindow(BOOL enable) {
    return OnUiThread([&]() -> BOOL {
        QWidget* w = ToWidget(m_hWnd);
        if (!w) {
            return FALSE;
        }
        const bool wasDisabled = !w->isEnabled();
        w->setEnabled(enable != FALSE);
        return wasDisabled ? TRUE : FALSE;
    });
}

BOOL CWnd::IsWindowEnabled() const {
    return OnUiThread([&]() -> BOOL {
        const QWidget* w = ToWidget(m_hWnd);
        return w && w->isEnabled() ? TRUE : FALSE;
    });
}

BOOL CWnd::IsWindowVisible() const {
    return OnUiThread([&]() -> BOOL {
        const QWidget* w = ToWidget(m_hWnd);
        return w && w->isVisible() ? TRUE : FALSE;
    });
}

HICON CWnd::SetIcon(HICON icon, BOOL big) {
    return OnUiThread([&]() -> HICON {
        HICON& slot = big ? m_hIconBig : m_hIconSmall;
        const HICON previous = slot;
        slot = icon;
        if (QWidget* w = ToWidget(m_hWnd)) {
            ui::ApplyIcons(w, m_hIconBig, m_hIconSmall);
        }
        return previous;
    });
}

HICON CWnd::GetIcon(BOOL big) const {
    return OnUiThread([&] { return big ? m_hIconBig : m_hIconSmall; });
}

BOOL CWnd::IsIconic() const {
    return OnUiThread([&]() -> BOOL {
        const QWidget* w = ToWidget(m_hWnd);
        return w && w->isMinimized() ? TRUE : FALSE;
    });
}

void CWnd::GetClientRect(LPRECT rect) const {
    if (!rect) {
        return;
    }
    *rect = OnUiThread([&] {
        RECT r{0, 0, 0, 0};
        if (const QWidget* w = ToWidget(m_hWnd)) {
            r.right = w->width();
            r.bottom = w->height();
        }
        return r;
    });
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return OnUiThreadOr([&] { return WindowProc(message, wParam, lParam); }, LRESULT{0});
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    for (const MessageMapEntry& entry : GetMessageMap()) {
        if (entry.message == message) {
            return entry.handler(this, wParam, lParam);
        }
    }
    return DefWindowProc(message, wParam, lParam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM) {
    QWidget* w = ToWidget(m_hWnd);
    if (message == WM_ICONERASEBKGND) {
        QPainter* painter = ui::ToPainter(reinterpret_cast<HDC>(wParam));
        if (w && painter && painter->isActive()) {
            painter->fillRect(w->rect(), w->palette().window());
            return 1;
        }
    }
    // WM_PAINT: the toolkit paints the window and its controls itself.
    return 0;
}

const MessageMap& CWnd::GetMessageMap() const {
    static const MessageMap none;
    return none;
}

// CComboBox, CListBox

namespace {

template <class W>
W* As(HWND h) {
    return dynamic_cast<W*>(ToWidget(h));
}

}  // namespace

int CComboBox::AddString(const char* text) {
    return OnUiThreadOr(
        [&] {
            auto* c = As<ui::ComboWidget>(GetSafeHwnd());
            return c ? c->Add(FromCp1251(text)) : CB_ERR;
        },
        CB_ERR);
}

int CComboBox::SetCurSel(int index) {
    return OnUiThreadOr(
        [&] {
            auto* c = As<ui::ComboWidget>(GetSafeHwnd());
            return c ? c->Select(index) : CB_ERR;
        },
        CB_ERR);
}

int CComboBox::GetCurSel() const {
    return OnUiThreadOr(
        [&] {
            auto* c = As<ui::ComboWidget>(GetSafeHwnd());
            return c ? c->Selection() : CB_ERR;
        },
        CB_ERR);
}

int CComboBox::GetCount() const {
    return OnUiThreadOr(
        [&] {
            auto* c = As<ui::ComboWidget>(GetSafeHwnd());
            return c ? c->count() : CB_ERR;
        },
        CB_ERR);
}

int CComboBox::GetLBText(int index, CString& out) const {
    out.clear();
    const QString text = OnUiThread([&] {
        auto* c = As<ui::ComboWidget>(GetSafeHwnd());
        return c && index >= 0 && index < c->count() ? c->itemText(index) : QString();
    });
    return text.isNull() ? CB_ERR : ToCp1251(text, out);
}

int CListBox::AddString(const char* text) {
    return OnUiThreadOr(
        [&] {
            auto* l = As<ui::ListWidget>(GetSafeHwnd());
            return l ? l->Add(FromCp1251(text)) : LB_ERR;
        },
        LB_ERR);
}

int CListBox::DeleteString(int index) {
    return OnUiThreadOr(
        [&] {
            auto* l = As<ui::ListWidget>(GetSafeHwnd());
            if (!l || index < 0 || index >= l->count()) {
                return LB_ERR;
            }
            delete l->takeItem(index);
            return l->count();
        },
        LB_ERR);
}

int CListBox::GetCount() const {
    return OnUiThreadOr(
        [&] {
            auto* l = As<ui::ListWidget>(GetSafeHwnd());
            return l ? l->count() : LB_ERR;
        },
        LB_ERR);
}

int CListBox::GetText(int index, CString& out) const {
    out.clear();
    const QString text = OnUiThread([&] {
        auto* l = As<ui::ListWidget>(GetSafeHwnd());
        return l && index >= 0 && index < l->count() ? l->item(index)->text() : QString();
    });
    return text.isNull() ? LB_ERR : ToCp1251(text, out);
}

// CDialog

struct CDialog::ModalState {
    QEventLoop loop;
    int result = -1;
    bool ended = false;
    QWidget* window = nullptr;
};

CDialog::CDialog(UINT templateId, CWnd* parent) : m_nIDTemplate(templateId), m_pParentWnd(parent) {}

CDialog::~CDialog() = default;

INT_PTR CDialog::DoModal() {
    // Windows belong to the UI thread; a dialog is run there or not at all.
    if (!ui::IsUiThread() || m_pModal) {
        return -1;
    }
    ui::StartServingCalls();
    ui::AllowMessageBoxes();
    const ui::rc::Dialog* t = ui::AppResources().FindDialog(static_cast<int>(m_nIDTemplate));
    if (!t) {
        return -1;
    }
    QWidget* parent = m_pParentWnd ? ToWidget(m_pParentWnd->GetSafeHwnd()) : nullptr;
    auto* window = new ui::DialogWindow(this, parent);
    // Modal to its owner only: boxes that other threads show must still take input.
    window->setWindowModality(parent ? Qt::WindowModal : Qt::NonModal);
    ui::BuildDialog(this, window, *t);
    const QScreen* screen = window->screen();
    if (screen) {
        const ui::DialogUnits du(window->font());
        window->move(screen->availableGeometry().topLeft() + QPoint(du.X(t->x), du.Y(t->y)));
    }

    ModalState state;
    state.window = window;
    m_pModal = &state;
    UiBackend::Hwnd(this) = ToHwnd(window);
    ui::ApplyIcons(window, GetIcon(TRUE), GetIcon(FALSE));

    const BOOL focusFirst = OnInitDialog();
    if (!state.ended) {
        if (focusFirst) {
            for (const auto& c : UiBackend::Controls(this)) {
                QWidget* w = ToWidget(c->GetSafeHwnd());
                if ((w->focusPolicy() & Qt::TabFocus) && !w->isHidden() && w->isEnabled()) {
                    w->setFocus(Qt::TabFocusReason);
                    break;
                }
            }
        }
        window->show();
        window->raise();
        window->activateWindow();
        state.loop.exec(QEventLoop::DialogExec);
    }

    m_pModal = nullptr;
    for (const auto& c : UiBackend::Controls(this)) {
        UiBackend::Hwnd(c.get()) = nullptr;
    }
    UiBackend::Hwnd(this) = nullptr;
    window->Detach();
    window->hide();
    delete window;
    return state.result;
}

void CDialog::EndDialog(int result) {
    OnUiThread([&] {
        if (!m_pModal) {
            return;
        }
        m_pModal->result = result;
        m_pModal->ended = true;
        m_pModal->window->hide();
        m_pModal->loop.exit();
    });
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
    CDataExchange dx(this, saveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (UpdateData(TRUE)) {
        EndDialog(IDOK);
    }
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

void CDialog::OnPaint() {
    DefWindowProc(WM_PAINT, 0, 0);
}

// Painting

BOOL CDC::DrawIcon(int x, int y, HICON icon) {
    QPainter* painter = ui::ToPainter(m_hDC);
    const ui::IconData* data = ui::ToIcon(icon);
    if (!painter || !data || !painter->isActive()) {
        return FALSE;
    }
    painter->drawImage(QPoint(x, y), data->large);
    return TRUE;
}

CPaintDC::CPaintDC(CWnd* wnd) : m_pWnd(wnd) {
    QWidget* w = wnd && ui::IsUiThread() ? ToWidget(wnd->GetSafeHwnd()) : nullptr;
    if (w) {
        auto* painter = new QPainter(w);
        if (painter->isActive()) {
            m_hDC = ui::ToHdc(painter);
        } else {
            delete painter;
        }
    }
}

CPaintDC::~CPaintDC() {
    delete ui::ToPainter(m_hDC);
}

int WINAPI GetSystemMetrics(int index) {
    return index == SM_CXICON || index == SM_CYICON ? 32 : 0;
}

// Application

CWinApp::CWinApp(const char* name) {
    if (name) {
        m_strAppName = name;
    }
    g_app = this;
}

CWinApp::~CWinApp() {
    CWinApp* self = this;
    g_app.compare_exchange_strong(self, nullptr);
}

BOOL CWinApp::InitInstance() {
    return TRUE;
}

int CWinApp::Run() {
    return QApplication::exec();
}

HICON CWinApp::LoadIcon(UINT id) const {
    return ui::ToHicon(ui::LoadAppIcon(static_cast<int>(id)));
}

CWinApp* AfxGetApp() {
    return g_app;
}

void PumpMessagesUntil(const std::function<bool()>& done) {
    if (!ui::IsUiThread()) {
        while (!done()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return;
    }
    ui::StartServingCalls();
    // Wakes the wait below, so that done() is looked at even when no event comes.
    QTimer tick;
    tick.start(5);
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        ui::ServePendingCalls();
    }
}
