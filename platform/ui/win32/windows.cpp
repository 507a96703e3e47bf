// The framework's windows and controls over the system's own. Every call is carried out
// on the UI thread (see ui_thread.cpp), where the window handles live.
#include <windows.h>

#include <vector>

#include "platform/ui/framework.h"
#include "platform/ui/ui_thread.h"
#include "platform/ui/win32/wide_text.h"
#include "platform/ui/win32/win32_app.h"

using tarvic::ui::OnUiThread;
using tarvic::ui::OnUiThreadOr;

namespace {

// A control's text through the wide-character calls.
CString TextOf(HWND h) {
    const int n = GetWindowTextLengthW(h);
    std::vector<wchar_t> buf(static_cast<size_t>(n) + 1);
    const int got = GetWindowTextW(h, buf.data(), n + 1);
    return tarvic::ui::FromWide(buf.data(), got);
}

CString ItemText(HWND h, UINT lenMsg, UINT textMsg, int index, int error) {
    const LRESULT n = SendMessageW(h, lenMsg, static_cast<WPARAM>(index), 0);
    if (n == error) {
        return CString();
    }
    std::vector<wchar_t> buf(static_cast<size_t>(n) + 1);
    const LRESULT got =
        SendMessageW(h, textMsg, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buf.data()));
    return got == error ? CString() : tarvic::ui::FromWide(buf.data(), static_cast<int>(got));
}

// True when the focus is on (or inside) an enabled tab stop of the dialog.
bool FocusIsOnATabStop(HWND dialog) {
    HWND control = GetFocus();
    while (control && GetParent(control) != dialog) {
        control = GetParent(control);
    }
    return control && IsWindowEnabled(control) && IsWindowVisible(control) &&
           (GetWindowLongW(control, GWL_STYLE) & WS_TABSTOP);
}

bool IsDefaultButton(HWND h) {
    const HWND parent = GetParent(h);
    const LRESULT def = parent ? SendMessageW(parent, DM_GETDEFID, 0, 0) : 0;
    return HIWORD(def) == DC_HASDEFID && LOWORD(def) == GetDlgCtrlID(h);
}

}  // namespace

namespace tarvic::ui {

// With its list open, a combo box selects the entry that text typed into its field names,
// and Enter keeps it. Typed text chooses no entry, with the list open or closed: when the
// list closes after typing, the field keeps the text and no entry is selected.
bool OnComboNotification(HWND combo, UINT code) {
    static const wchar_t* const kTyped = L"tarvicTypedWhileOpen";
    switch (code) {
        case CBN_EDITCHANGE:
            if (SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0)) {
                SetPropW(combo, kTyped, reinterpret_cast<HANDLE>(1));
            }
            return true;
        case CBN_SELCHANGE:
            // An entry chosen in the open list with the arrow keys or the mouse.
            RemovePropW(combo, kTyped);
            return true;
        case CBN_CLOSEUP:
            if (RemovePropW(combo, kTyped) != nullptr) {
                std::vector<wchar_t> typed(static_cast<size_t>(GetWindowTextLengthW(combo)) + 1);
                GetWindowTextW(combo, typed.data(), static_cast<int>(typed.size()));
                SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
                SetWindowTextW(combo, typed.data());
            }
            return true;
        default:
            return false;
    }
}

}  // namespace tarvic::ui

// CWnd

void CWnd::SetWindowText(const char* text) {
    OnUiThread([&] {
        if (m_hWnd) {
            SetWindowTextW(m_hWnd, tarvic::ui::Wide(text).c_str());
        }
    });
}

int CWnd::GetWindowText(CString& out) const {
    out = OnUiThread([&] { return m_hWnd ? TextOf(m_hWnd) : CString(); });
    return static_cast<int>(out.size());
}

BOOL CWnd::EnableWindow(BOOL enable) {
    return OnUiThread([&]() -> BOOL {
        if (!m_hWnd) {
            return FALSE;
        }
        const HWND parent = GetParent(m_hWnd);
        const auto holdsFocus = [&] {
            const HWND focus = GetFocus();
            // A drop-down combo box keeps its focus in its own edit field.
            return focus == m_hWnd || (focus && IsChild(m_hWnd, focus));
        };
        // The focus leaves a control before it is disabled, as the dialog manager moves
        // it (to the next tab stop), so that it never stays inside a disabled control.
        if (!enable && parent && holdsFocus()) {
            SendMessageW(parent, WM_NEXTDLGCTL, 0, FALSE);
        }
        const BOOL wasDisabled = ::EnableWindow(m_hWnd, enable);
        if (!parent) {
            return wasDisabled;
        }
        const bool focusUsable = FocusIsOnATabStop(parent);
        if (!enable && !focusUsable) {
            // No other tab stop was left: a dialog whose focus is nowhere takes no key (Esc
            // among them), so the dialog itself takes it over.
            SetFocus(parent);
        } else if (enable && !focusUsable && IsDefaultButton(m_hWnd)) {
            // The inputs are back: the focus returns to the default button, START.
            SendMessageW(parent, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(m_hWnd), TRUE);
        }
        return wasDisabled;
    });
}

BOOL CWnd::IsWindowEnabled() const {
    return OnUiThread([&]() -> BOOL { return m_hWnd ? ::IsWindowEnabled(m_hWnd) : FALSE; });
}

BOOL CWnd::IsWindowVisible() const {
    return OnUiThread([&]() -> BOOL { return m_hWnd ? ::IsWindowVisible(m_hWnd) : FALSE; });
}

BOOL CWnd::ShowWindow(int nCmdShow) {
    return OnUiThread([&]() -> BOOL {
        if (!m_hWnd) {
            return FALSE;
        }
        // A control that goes with the focus hands it on, as Tab would: a dialog whose
        // focus is nowhere takes no key.
        if (nCmdShow == SW_HIDE && GetFocus() == m_hWnd && GetParent(m_hWnd)) {
            SendMessageW(GetParent(m_hWnd), WM_NEXTDLGCTL, 0, FALSE);
        }
        return ::ShowWindow(m_hWnd, nCmdShow);
    });
}

HICON CWnd::SetIcon(HICON icon, BOOL big) {
    return OnUiThread([&]() -> HICON {
        HICON& slot = big ? m_hIconBig : m_hIconSmall;
        const HICON previous = slot;
        slot = icon;
        if (m_hWnd) {
            SendMessageW(m_hWnd, WM_SETICON, big ? ICON_BIG : ICON_SMALL,
                         reinterpret_cast<LPARAM>(icon));
        }
        return previous;
    });
}

BOOL CWnd::IsIconic() const {
    return OnUiThread([&]() -> BOOL { return m_hWnd ? ::IsIconic(m_hWnd) : FALSE; });
}

void CWnd::GetClientRect(LPRECT rect) const {
    if (!rect) {
        return;
    }
    *rect = OnUiThread([&] {
        RECT r{0, 0, 0, 0};
        if (m_hWnd) {
            ::GetClientRect(m_hWnd, &r);
        }
        return r;
    });
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return m_hWnd ? ::DefWindowProcW(m_hWnd, message, wParam, lParam) : 0;
}

// CComboBox, CListBox

int CComboBox::AddString(const char* text) {
    return OnUiThreadOr(
        [&] {
            const HWND h = GetSafeHwnd();
            const std::wstring s = tarvic::ui::Wide(text);
            return h ? static_cast<int>(
                           SendMessageW(h, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s.c_str())))
                     : CB_ERR;
        },
        CB_ERR);
}

int CComboBox::SetCurSel(int index) {
    return OnUiThreadOr(
        [&] {
            const HWND h = GetSafeHwnd();
            return h ? static_cast<int>(
                           SendMessageW(h, CB_SETCURSEL, static_cast<WPARAM>(index), 0))
                     : CB_ERR;
        },
        CB_ERR);
}

int CComboBox::GetCurSel() const {
    return OnUiThreadOr(
        [&] {
            const HWND h = GetSafeHwnd();
            return h ? static_cast<int>(SendMessageW(h, CB_GETCURSEL, 0, 0)) : CB_ERR;
        },
        CB_ERR);
}

int CComboBox::GetCount() const {
    return OnUiThreadOr(
        [&] {
            const HWND h = GetSafeHwnd();
            return h ? static_cast<int>(SendMessageW(h, CB_GETCOUNT, 0, 0)) : CB_ERR;
        },
        CB_ERR);
}

int CComboBox::GetLBText(int index, CString& out) const {
    out.clear();
    const bool found = OnUiThreadOr(
        [&] {
            const HWND h = GetSafeHwnd();
            const int count = h ? static_cast<int>(SendMessageW(h, CB_GETCOUNT, 0, 0)) : 0;
            if (index < 0 || index >= count) {
                return false;
            }
            out = ItemText(h, CB_GETLBTEXTLEN, CB_GETLBTEXT, index, CB_ERR);
            return true;
        },
        false);
    return found ? static_cast<int>(out.size()) : CB_ERR;
}

int CListBox::AddString(const char* text) {
    return OnUiThreadOr(
        [&] {
            const HWND h = GetSafeHwnd();
            if (!h) {
                return LB_ERR;
            }
            // At the end the list stays at the end; anywhere else where the user put it.
            RECT client{};
            ::GetClientRect(h, &client);
            const int itemHeight = static_cast<int>(SendMessageW(h, LB_GETITEMHEIGHT, 0, 0));
            const int shown = itemHeight > 0 ? (client.bottom - client.top) / itemHeight : 1;
            const int top = static_cast<int>(SendMessageW(h, LB_GETTOPINDEX, 0, 0));
            const int count = static_cast<int>(SendMessageW(h, LB_GETCOUNT, 0, 0));
            const bool atEnd = top + shown >= count;
            const std::wstring s = tarvic::ui::Wide(text);
            const int index = static_cast<int>(
                SendMessageW(h, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s.c_str())));
            if (atEnd && index >= 0) {
                SendMessageW(h, LB_SETTOPINDEX, static_cast<WPARAM>(index), 0);
            }
            return index;
        },
        LB_ERR);
}

int CListBox::DeleteString(int index) {
    return OnUiThreadOr(
        [&] {
            const HWND h = GetSafeHwnd();
            // The list answers the number of entries left, or LB_ERR for a wrong index.
            return h ? static_cast<int>(SendMessageW(h, LB_DELETESTRING, index, 0)) : LB_ERR;
        },
        LB_ERR);
}

int CListBox::GetCount() const {
    return OnUiThreadOr(
        [&] {
            const HWND h = GetSafeHwnd();
            return h ? static_cast<int>(SendMessageW(h, LB_GETCOUNT, 0, 0)) : LB_ERR;
        },
        LB_ERR);
}

int CListBox::GetText(int index, CString& out) const {
    out.clear();
    const bool found = OnUiThreadOr(
        [&] {
            const HWND h = GetSafeHwnd();
            const int count = h ? static_cast<int>(SendMessageW(h, LB_GETCOUNT, 0, 0)) : 0;
            if (index < 0 || index >= count) {
                return false;
            }
            out = ItemText(h, LB_GETTEXTLEN, LB_GETTEXT, index, LB_ERR);
            return true;
        },
        false);
    return found ? static_cast<int>(out.size()) : LB_ERR;
}
