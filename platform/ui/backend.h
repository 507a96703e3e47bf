// What a back end of the dialog framework provides, and its access to the framework
// classes' internals. The toolkit-neutral core holds the message maps, data exchange, the
// dialog's default OK/Cancel, control lookup, the application object and the UI thread's
// waits (framework.cpp), the message boxes' cancel flag (message_box_cancel.cpp) and the
// test driver's waits and box handling (test_driver.cpp); a back end (qt/ on Linux, win32/ on
// Windows) provides the rest:
//
//  - the UI thread: tarvic::ui::IsUiThread, tarvic::ui::RunOnUiThread (ui_thread.h);
//  - windows and controls: CWnd::SetWindowText, GetWindowText, EnableWindow,
//    IsWindowEnabled, IsWindowVisible, ShowWindow, AppendSystemMenuItem,
//    CheckSystemMenuItem, SetIcon, IsIconic, GetClientRect, DefWindowProc; every member of
//    CComboBox and CListBox (a list box's AddString shows the new entry unless the user
//    has scrolled away from the end);
//  - the modal loop: CDialog::DoModal (with its CDialog::ModalState), CDialog::EndDialog,
//    CWinApp::Run, WaitForThreadServingMessages (a wait for a thread that serves the
//    events meanwhile), and one pass of the event loop, tarvic::ui::ServeEventsOnce
//    (below), over which the core waits (PumpMessagesUntil);
//  - painting: CDC::DrawIcon, CPaintDC's constructor and destructor;
//  - resources: CWinApp::LoadIcon and the dialog templates (DoModal finds the template by
//    CDialog's id: the Qt back end reads the script itself, qt/resource_script.cpp, the
//    Win32 one has it compiled in), and the CMake function tarvic_ui_add_resources() that
//    gives a program its resource script (and the variable TARVIC_UI_TEST_ENVIRONMENT, what
//    a test that shows windows needs in its environment);
//  - message boxes: MessageBoxExA and tarvic::ui::CloseMessageBoxes (below), under the
//    core's cancel flag (CancelMessageBoxes, message_box_cancel.cpp); GetSystemMetrics
//    where the system has none;
//  - the targets tarvic_ui (the framework), tarvic_ui_main (main(), which starts the
//    application object) and tarvic_ui_driver (test_driver.h, for tests and benchmarks:
//    the core's test_driver.cpp over the back end's test_driver_backend.h, and the input
//    and inspection calls).
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "platform/ui/framework.h"

namespace tarvic::ui {

// On the UI thread: serves the events and other threads' calls that are waiting, or waits
// up to 5 ms for one. False when the application has been told to quit.
bool ServeEventsOnce();

// The message boxes' cancel flag, kept by the core. A dialog's start allows boxes again.
void AllowMessageBoxes();
bool BoxesCancelled();
// Runs fn under the flag's lock unless boxes are cancelled; whether it ran. A box made
// known to the back end from fn is sure to be closed by a CancelMessageBoxes.
bool UnlessBoxesCancelled(const std::function<void()>& fn);
// The back end's part of CancelMessageBoxes, after the flag is set: ends every box that a
// non-UI thread has up, its call returning IDCANCEL.
void CloseMessageBoxes();

// Friend of the framework classes.
struct UiBackend {
    static HWND& Hwnd(CWnd* w) { return w->m_hWnd; }
    static void SetId(CWnd* w, int id) { w->m_nID = id; }
    static std::vector<std::unique_ptr<CWnd>>& Controls(CWnd* w) { return w->m_controls; }
    static const std::vector<std::unique_ptr<CWnd>>& Controls(const CWnd* w) {
        return w->m_controls;
    }
    static LRESULT Dispatch(CWnd* w, UINT msg, WPARAM wp, LPARAM lp) {
        return w->WindowProc(msg, wp, lp);
    }
    // A command from a control or the keyboard: IDOK and IDCANCEL go to OnOK and OnCancel.
    static void Command(CDialog* d, int id);
    static void Cancel(CDialog* d) { Command(d, IDCANCEL); }
    static BOOL InitDialog(CDialog* d) { return d->OnInitDialog(); }
};

}  // namespace tarvic::ui
