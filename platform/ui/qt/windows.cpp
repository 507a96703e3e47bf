// The framework's windows and controls over Qt widgets, and painting on them.
#include <QAction>
#include <QComboBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>

#include "platform/ui/backend.h"
#include "platform/ui/cp1251.h"
#include "platform/ui/framework.h"
#include "platform/ui/qt/handles.h"
#include "platform/ui/qt/widgets.h"
#include "platform/ui/ui_thread.h"

using tarvic::ui::OnUiThread;
using tarvic::ui::OnUiThreadOr;
using tarvic::ui::ToWidget;

namespace {

QString FromCp1251(const char* text) {
    return QString::fromStdString(tarvic::ui::Cp1251ToUtf8(text ? text : ""));
}

int ToCp1251(const QString& text, CString& out) {
    out = tarvic::ui::Utf8ToCp1251(text.toStdString());
    return static_cast<int>(out.size());
}

template <class W>
W* As(HWND h) {
    return dynamic_cast<W*>(ToWidget(h));
}

}  // namespace

// CWnd

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
    return ToCp1251(OnUiThread([&] { return tarvic::ui::ShownText(ToWidget(m_hWnd)); }), out);
}

BOOL CWnd::EnableWindow(BOOL enable) {
    return OnUiThread([&]() -> BOOL {
        QWidget* w = ToWidget(m_hWnd);
        if (!w) {
            return FALSE;
        }
        const bool wasDisabled = !w->isEnabled();
        w->setEnabled(enable != FALSE);
        // The inputs are back after a run: with the focus on no enabled control, it returns
        // to the default button, START.
        const auto* button = qobject_cast<QPushButton*>(w);
        const QWidget* focus = w->window()->focusWidget();
        if (enable && button && button->isDefault() && (!focus || !focus->isEnabled())) {
            w->setFocus(Qt::OtherFocusReason);
        }
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

BOOL CWnd::ShowWindow(int nCmdShow) {
    return OnUiThread([&]() -> BOOL {
        QWidget* w = ToWidget(m_hWnd);
        if (!w) {
            return FALSE;
        }
        const bool wasVisible = w->isVisible();
        w->setVisible(nCmdShow != SW_HIDE);
        return wasVisible ? TRUE : FALSE;
    });
}

BOOL CWnd::AppendSystemMenuItem(UINT id, const char* text, char ctrlKey) {
    return OnUiThread([&]() -> BOOL {
        QWidget* w = ToWidget(m_hWnd);
        if (!w || !w->isWindow()) {
            return FALSE;
        }
        // A window has no system menu of its own here: its background's context menu
        // holds the items, and their keys work anywhere in the window.
        auto* action = new QAction(FromCp1251(text), w);
        action->setObjectName(tarvic::ui::SystemMenuItemName(id));
        action->setCheckable(true);
        if (ctrlKey != 0) {
            action->setShortcut(
                QKeySequence(QKeyCombination(Qt::ControlModifier, Qt::Key(ctrlKey))));
            action->setShortcutContext(Qt::WindowShortcut);
        }
        QObject::connect(action, &QAction::triggered, w, [this, action, id] {
            // The check mark is the window's to set, as on Windows.
            {
                const QSignalBlocker quiet(action);
                action->setChecked(!action->isChecked());
            }
            tarvic::ui::UiBackend::Dispatch(this, WM_SYSCOMMAND, id, 0);
        });
        w->addAction(action);
        w->setContextMenuPolicy(Qt::ActionsContextMenu);
        return TRUE;
    });
}

void CWnd::CheckSystemMenuItem(UINT id, BOOL checked) {
    OnUiThread([&] {
        QWidget* w = ToWidget(m_hWnd);
        auto* action = w ? w->findChild<QAction*>(tarvic::ui::SystemMenuItemName(id),
                                                  Qt::FindDirectChildrenOnly)
                         : nullptr;
        if (action) {
            const QSignalBlocker quiet(action);
            action->setChecked(checked != FALSE);
        }
    });
}

HICON CWnd::SetIcon(HICON icon, BOOL big) {
    return OnUiThread([&]() -> HICON {
        HICON& slot = big ? m_hIconBig : m_hIconSmall;
        const HICON previous = slot;
        slot = icon;
        if (QWidget* w = ToWidget(m_hWnd)) {
            tarvic::ui::SetWindowIcons(w, m_hIconBig, m_hIconSmall);
        }
        return previous;
    });
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

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM) {
    QWidget* w = ToWidget(m_hWnd);
    if (message == WM_ICONERASEBKGND) {
        QPainter* painter = tarvic::ui::ToPainter(reinterpret_cast<HDC>(wParam));
        if (w && painter && painter->isActive()) {
            painter->fillRect(w->rect(), w->palette().window());
            return 1;
        }
    }
    // WM_PAINT: the toolkit paints the window and its controls itself.
    return 0;
}

// CComboBox, CListBox

int CComboBox::AddString(const char* text) {
    return OnUiThreadOr(
        [&] {
            auto* c = As<tarvic::ui::ComboWidget>(GetSafeHwnd());
            return c ? c->Add(FromCp1251(text)) : CB_ERR;
        },
        CB_ERR);
}

int CComboBox::SetCurSel(int index) {
    return OnUiThreadOr(
        [&] {
            auto* c = As<tarvic::ui::ComboWidget>(GetSafeHwnd());
            return c ? c->Select(index) : CB_ERR;
        },
        CB_ERR);
}

int CComboBox::GetCurSel() const {
    return OnUiThreadOr(
        [&] {
            auto* c = As<tarvic::ui::ComboWidget>(GetSafeHwnd());
            return c ? c->Selection() : CB_ERR;
        },
        CB_ERR);
}

int CComboBox::GetCount() const {
    return OnUiThreadOr(
        [&] {
            auto* c = As<tarvic::ui::ComboWidget>(GetSafeHwnd());
            return c ? c->count() : CB_ERR;
        },
        CB_ERR);
}

int CComboBox::GetLBText(int index, CString& out) const {
    out.clear();
    const QString text = OnUiThread([&] {
        auto* c = As<tarvic::ui::ComboWidget>(GetSafeHwnd());
        return c && index >= 0 && index < c->count() ? c->itemText(index) : QString();
    });
    return text.isNull() ? CB_ERR : ToCp1251(text, out);
}

int CListBox::AddString(const char* text) {
    return OnUiThreadOr(
        [&] {
            auto* l = As<tarvic::ui::ListWidget>(GetSafeHwnd());
            return l ? l->Add(FromCp1251(text)) : LB_ERR;
        },
        LB_ERR);
}

int CListBox::DeleteString(int index) {
    return OnUiThreadOr(
        [&] {
            auto* l = As<tarvic::ui::ListWidget>(GetSafeHwnd());
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
            auto* l = As<tarvic::ui::ListWidget>(GetSafeHwnd());
            return l ? l->count() : LB_ERR;
        },
        LB_ERR);
}

int CListBox::GetText(int index, CString& out) const {
    out.clear();
    const QString text = OnUiThread([&] {
        auto* l = As<tarvic::ui::ListWidget>(GetSafeHwnd());
        return l && index >= 0 && index < l->count() ? l->item(index)->text() : QString();
    });
    return text.isNull() ? LB_ERR : ToCp1251(text, out);
}

// Painting

BOOL CDC::DrawIcon(int x, int y, HICON icon) {
    QPainter* painter = tarvic::ui::ToPainter(m_hDC);
    const tarvic::ui::IconData* data = tarvic::ui::ToIcon(icon);
    if (!painter || !data || !painter->isActive()) {
        return FALSE;
    }
    painter->drawImage(QPoint(x, y), data->large);
    return TRUE;
}

CPaintDC::CPaintDC(CWnd* wnd) : m_pWnd(wnd) {
    QWidget* w = wnd && tarvic::ui::IsUiThread() ? ToWidget(wnd->GetSafeHwnd()) : nullptr;
    if (w) {
        auto* painter = new QPainter(w);
        if (painter->isActive()) {
            m_hDC = tarvic::ui::ToHdc(painter);
        } else {
            delete painter;
        }
    }
}

CPaintDC::~CPaintDC() {
    delete tarvic::ui::ToPainter(m_hDC);
}

int WINAPI GetSystemMetrics(int index) {
    return index == SM_CXICON || index == SM_CYICON ? 32 : 0;
}
