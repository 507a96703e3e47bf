// The UI thread and the calls other threads make on it. A call from another thread is a
// SendMessage to a message-only window of the UI thread: Windows carries it out on that
// thread, also inside a modal loop or a message box, and returns once it has run.
#include <windows.h>

#include <atomic>

#include "platform/ui/ui_thread.h"
#include "platform/ui/win32/win32_app.h"

namespace tarvic::ui {
namespace {

constexpr UINT kRunCall = WM_APP + 1;

std::atomic<DWORD> g_uiThread{0};
std::atomic<HWND> g_callWindow{nullptr};

struct Call {
    const std::function<void()>* fn;
    bool ran = false;
};

LRESULT CALLBACK CallWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == kRunCall) {
        auto* call = reinterpret_cast<Call*>(lp);
        (*call->fn)();
        call->ran = true;
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

void StartServingCalls() {
    if (g_callWindow.load() != nullptr) {
        return;
    }
    WNDCLASSW wc{};
    wc.lpfnWndProc = CallWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"tarvicUiCalls";
    RegisterClassW(&wc);
    g_uiThread = GetCurrentThreadId();
    g_callWindow = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   wc.hInstance, nullptr);
}

bool IsUiThread() {
    return g_uiThread.load() == GetCurrentThreadId();
}

bool RunOnUiThread(const std::function<void()>& fn) {
    if (IsUiThread()) {
        fn();
        return true;
    }
    const HWND window = g_callWindow.load();
    if (window == nullptr) {
        return false;
    }
    Call call{&fn};
    // Fails, with ran still false, once the UI thread and its window have gone.
    SendMessageW(window, kRunCall, 0, reinterpret_cast<LPARAM>(&call));
    return call.ran;
}

bool ServeMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return false;
        }
        // Dialog keys (Tab, Enter, Esc) of the window the message is for.
        const HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
        if (root == nullptr || !IsDialogMessageW(root, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return true;
}

}  // namespace tarvic::ui
