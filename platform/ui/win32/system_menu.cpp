// Items of a window's system menu, and the Ctrl keys that choose them: a thread message
// hook sees every key that this thread takes from its queue (the system's dialog loop and
// the framework's own waits alike) and turns the items' keys into WM_SYSCOMMAND.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/ui/framework.h"
#include "platform/ui/ui_thread.h"
#include "platform/ui/win32/wide_text.h"
#include "platform/ui/win32/win32_app.h"

namespace {

struct KeyCommand {
    HWND window;
    UINT key;
    UINT id;
};

// UI thread only, as is the hook.
std::vector<KeyCommand>& KeyCommands() {
    static std::vector<KeyCommand> commands;
    return commands;
}
HHOOK g_hook = nullptr;

LRESULT CALLBACK GetMessageHook(int code, WPARAM wp, LPARAM lp) {
    auto* msg = reinterpret_cast<MSG*>(lp);
    if (code == HC_ACTION && wp == PM_REMOVE && msg->message == WM_KEYDOWN &&
        (GetKeyState(VK_CONTROL) & 0x8000) && !(GetKeyState(VK_MENU) & 0x8000)) {
        for (const KeyCommand& c : KeyCommands()) {
            if (c.key == msg->wParam && msg->hwnd &&
                (msg->hwnd == c.window || IsChild(c.window, msg->hwnd))) {
                PostMessageW(c.window, WM_SYSCOMMAND, c.id, 0);
                msg->message = WM_NULL;  // the focused control never sees it
                break;
            }
        }
    }
    return CallNextHookEx(g_hook, code, wp, lp);
}

}  // namespace

BOOL CWnd::AppendSystemMenuItem(UINT id, const char* text, char ctrlKey) {
    return tarvic::ui::OnUiThread([&]() -> BOOL {
        const HMENU menu = m_hWnd ? GetSystemMenu(m_hWnd, FALSE) : nullptr;
        if (!menu) {
            return FALSE;
        }
        // The program's items come after the system's, set apart by a line.
        if (GetMenuItemID(menu, GetMenuItemCount(menu) - 1) >= 0xF000) {
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        }
        std::wstring label = tarvic::ui::Wide(text);
        if (ctrlKey != 0) {
            label += L"\tCtrl+";
            label += static_cast<wchar_t>(ctrlKey);
            KeyCommands().push_back({m_hWnd, static_cast<UINT>(ctrlKey), id});
            if (!g_hook) {
                g_hook =
                    SetWindowsHookExW(WH_GETMESSAGE, GetMessageHook, nullptr, GetCurrentThreadId());
            }
        }
        return AppendMenuW(menu, MF_STRING, id, label.c_str());
    });
}

void CWnd::CheckSystemMenuItem(UINT id, BOOL checked) {
    tarvic::ui::OnUiThread([&] {
        if (const HMENU menu = m_hWnd ? GetSystemMenu(m_hWnd, FALSE) : nullptr) {
            CheckMenuItem(menu, id, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
        }
    });
}

namespace tarvic::ui {

void ForgetSystemMenuKeys(HWND window) {
    auto& commands = KeyCommands();
    std::erase_if(commands, [window](const KeyCommand& c) { return c.window == window; });
    if (commands.empty() && g_hook) {
        UnhookWindowsHookEx(g_hook);
        g_hook = nullptr;
    }
}

}  // namespace tarvic::ui
