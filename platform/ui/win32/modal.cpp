// The modal loop: a dialog's run from the template in the program's resources to
// EndDialog, the UI thread's waits, and the program's icons.
#include <windows.h>

#include "platform/ui/backend.h"
#include "platform/ui/ui_thread.h"
#include "platform/ui/win32/win32_app.h"

using tarvic::ui::UiBackend;

struct CDialog::ModalState {
    bool ended = false;
};

namespace {

// The dialog's controls, in template order (the order in which the system made them).
// A dialog object that runs again keeps its control objects: callers may hold them.
void AdoptControls(CDialog* dlg, HWND hwnd) {
    auto& controls = UiBackend::Controls(dlg);
    const bool again = !controls.empty();
    size_t i = 0;
    for (HWND child = GetWindow(hwnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (again) {
            if (i < controls.size()) {
                UiBackend::Hwnd(controls[i++].get()) = child;
            }
            continue;
        }
        wchar_t cls[32] = {};
        GetClassNameW(child, cls, 32);
        std::unique_ptr<CWnd> c;
        if (lstrcmpiW(cls, L"ComboBox") == 0) {
            c = std::make_unique<CComboBox>();
        } else if (lstrcmpiW(cls, L"ListBox") == 0) {
            c = std::make_unique<CListBox>();
        } else {
            c = std::make_unique<CWnd>();
        }
        UiBackend::Hwnd(c.get()) = child;
        UiBackend::SetId(c.get(), GetDlgCtrlID(child));
        controls.push_back(std::move(c));
    }
}

INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* dlg = reinterpret_cast<CDialog*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (msg) {
        case WM_INITDIALOG: {
            dlg = reinterpret_cast<CDialog*>(lp);
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, lp);
            UiBackend::Hwnd(dlg) = hwnd;
            AdoptControls(dlg, hwnd);
            // Icons set before the window existed.
            dlg->SetIcon(dlg->GetIcon(TRUE), TRUE);
            dlg->SetIcon(dlg->GetIcon(FALSE), FALSE);
            // TRUE: the system puts the focus on the first tab stop.
            return UiBackend::InitDialog(dlg);
        }
        case WM_COMMAND:
            if (lp != 0 &&
                tarvic::ui::OnComboNotification(reinterpret_cast<HWND>(lp), HIWORD(wp))) {
                return TRUE;
            }
            // Enter (the default button), START itself, Esc and the close box.
            if (dlg && HIWORD(wp) == BN_CLICKED && (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL)) {
                UiBackend::Command(dlg, LOWORD(wp));
                return TRUE;
            }
            return FALSE;
        case WM_PAINT:
            if (dlg) {
                UiBackend::Dispatch(dlg, msg, wp, lp);
                return TRUE;
            }
            return FALSE;
        case WM_SYSCOMMAND:
            // The program's own items (the system's are from 0xF000 on).
            if (dlg && (wp & 0xFFF0) < 0xF000) {
                UiBackend::Dispatch(dlg, msg, wp & 0xFFF0, lp);
                return TRUE;
            }
            return FALSE;
        case WM_DESTROY:
            tarvic::ui::ForgetSystemMenuKeys(hwnd);
            return FALSE;
        case WM_QUERYDRAGICON:
            // A dialog procedure returns this one's answer itself.
            return dlg ? static_cast<INT_PTR>(UiBackend::Dispatch(dlg, msg, wp, lp)) : FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

INT_PTR CDialog::DoModal() {
    // Windows belong to the UI thread; a dialog is run there or not at all.
    if (!tarvic::ui::IsUiThread() || m_pModal) {
        return -1;
    }
    tarvic::ui::StartServingCalls();
    tarvic::ui::AllowMessageBoxes();
    ModalState state;
    m_pModal = &state;
    const HWND parent = m_pParentWnd ? m_pParentWnd->GetSafeHwnd() : nullptr;
    const INT_PTR result =
        DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_nIDTemplate), parent,
                        DialogProc, reinterpret_cast<LPARAM>(this));
    m_pModal = nullptr;
    for (const auto& c : UiBackend::Controls(this)) {
        UiBackend::Hwnd(c.get()) = nullptr;
    }
    UiBackend::Hwnd(this) = nullptr;
    return result;
}

void CDialog::EndDialog(int result) {
    tarvic::ui::OnUiThread([&] {
        if (m_pModal && !m_pModal->ended && GetSafeHwnd()) {
            m_pModal->ended = true;
            ::EndDialog(GetSafeHwnd(), result);
        }
    });
}

int CWinApp::Run() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

HICON CWinApp::LoadIcon(UINT id) const {
    // Shared: the system keeps it for the life of the program.
    return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id),
                                         IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
}

void WaitForThreadServingMessages(HANDLE thread) {
    if (!tarvic::ui::IsUiThread()) {
        WaitForSingleObject(thread, INFINITE);
        return;
    }
    tarvic::ui::StartServingCalls();
    // The thread's control calls are sent messages: the wait wakes for them, and for the
    // thread's end, without polling. A WM_QUIT must not end the wait before the thread has.
    bool quit = false;
    int quitCode = 0;
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT) ==
           WAIT_OBJECT_0 + 1) {
        quit = !tarvic::ui::ServeMessages(&quitCode) || quit;
    }
    if (quit) {
        PostQuitMessage(quitCode);
    }
}

bool tarvic::ui::ServeEventsOnce() {
    StartServingCalls();
    if (!ServeMessages()) {
        return false;
    }
    // Sent messages (other threads' calls) also end the wait.
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    return true;
}
