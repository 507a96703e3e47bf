// Message boxes: the system's own, with the texts converted from Windows-1251 and shown
// through the wide-character call. A box asked for by another thread has no owner, so the
// dialog keeps taking input; the framework knows it, so that CancelMessageBoxes can end it.
#include <windows.h>

#include <mutex>
#include <set>

#include "platform/ui/backend.h"
#include "platform/ui/framework.h"
#include "platform/ui/ui_thread.h"
#include "platform/ui/win32/wide_text.h"
#include "platform/ui/win32/win32_app.h"

namespace tarvic::ui {
namespace {

std::mutex g_mutex;
std::set<HWND> g_boxes;  // under g_mutex: the boxes that other threads have up
thread_local HWND t_box = nullptr;

// The first window made during the box's call is the box; it is refused when the boxes
// were cancelled meanwhile (the call then returns at once).
LRESULT CALLBACK WatchBox(int code, WPARAM wp, LPARAM lp) {
    if (code == HCBT_CREATEWND && t_box == nullptr) {
        const bool known = UnlessBoxesCancelled([wp] {
            t_box = reinterpret_cast<HWND>(wp);
            std::lock_guard lock(g_mutex);
            g_boxes.insert(t_box);
        });
        if (!known) {
            return 1;
        }
    }
    return CallNextHookEx(nullptr, code, wp, lp);
}

}  // namespace

int WINAPI ShowMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type, WORD language) {
    const std::wstring wText = Wide(text);
    const std::wstring wCaption = Wide(caption);
    if (IsUiThread()) {
        // A task-modal box disables the thread's windows, and the focus is not given back
        // when they are enabled again: without it the dialog would take no key.
        const HWND focus = GetFocus();
        const int result = MessageBoxExW(owner, wText.c_str(), wCaption.c_str(), type, language);
        if (focus && IsWindow(focus) && IsWindowEnabled(focus)) {
            SetFocus(focus);
        }
        return result;
    }
    if (BoxesCancelled()) {
        return IDCANCEL;
    }
    t_box = nullptr;
    const HHOOK hook = SetWindowsHookExW(WH_CBT, WatchBox, nullptr, GetCurrentThreadId());
    int result = MessageBoxExW(nullptr, wText.c_str(), wCaption.c_str(), type, language);
    if (hook) {
        UnhookWindowsHookEx(hook);
    }
    {
        std::lock_guard lock(g_mutex);
        g_boxes.erase(t_box);
    }
    t_box = nullptr;
    return BoxesCancelled() ? IDCANCEL : result;
}

void CloseMessageBoxes() {
    std::lock_guard lock(g_mutex);
    for (HWND box : g_boxes) {
        // The box's own thread ends it, as if its OK had been pressed.
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }
}

}  // namespace tarvic::ui
