// The test driver over Win32: windows found through the framework's handles, keys posted to
// the window that has the focus as the keyboard would send them, boxes found among the
// process's dialog windows; the driver's primitives over the system's timers and boxes.
#include "platform/ui/test_driver.h"

#include <windows.h>

#include <algorithm>
#include <iterator>
#include <map>

#include "platform/ui/backend.h"
#include "platform/ui/test_driver_backend.h"
#include "platform/ui/win32/win32_app.h"

namespace tarvic::uitest {
namespace {

// A message box's text is the static control with this identifier; its icon is the static
// control that shows one.
constexpr int kBoxTextId = 0xFFFF;

std::string Utf8(const std::wstring& w) {
    if (w.empty()) {
        return std::string();
    }
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr,
                        nullptr);
    return out;
}

std::wstring FromUtf8(const std::string& s) {
    if (s.empty()) {
        return std::wstring();
    }
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
    return out;
}

std::wstring TextOf(HWND h) {
    const int n = GetWindowTextLengthW(h);
    std::wstring text(static_cast<size_t>(n) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(h, text.data(), n + 1)));
    return text;
}

HWND Control(const CWnd& dlg, int id) {
    const CWnd* item = dlg.GetDlgItem(id);
    return item ? item->GetSafeHwnd() : nullptr;
}

struct Found {
    std::vector<HWND> boxes;
};

BOOL CALLBACK CollectBox(HWND h, LPARAM lp) {
    wchar_t cls[16] = {};
    GetClassNameW(h, cls, 16);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid == GetCurrentProcessId() && lstrcmpW(cls, L"#32770") == 0 && IsWindowVisible(h) &&
        GetDlgItem(h, kBoxTextId) != nullptr) {
        reinterpret_cast<Found*>(lp)->boxes.push_back(h);
    }
    return TRUE;
}

// Oldest first: the system lists top-level windows newest first.
std::vector<HWND> ShownBoxes() {
    Found found;
    EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&found));
    return std::vector<HWND>(found.boxes.rbegin(), found.boxes.rend());
}

BoxIcon IconOf(HWND box) {
    HWND iconControl = GetWindow(box, GW_CHILD);
    while (iconControl && (GetWindowLongW(iconControl, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) {
        iconControl = GetWindow(iconControl, GW_HWNDNEXT);
    }
    if (!iconControl) {
        return BoxIcon::None;
    }
    const HICON icon = reinterpret_cast<HICON>(SendMessageW(iconControl, STM_GETICON, 0, 0));
    // The system's icons: information, warning, error, question.
    const std::pair<LPCWSTR, BoxIcon> known[] = {{MAKEINTRESOURCEW(32516), BoxIcon::Information},
                                                 {MAKEINTRESOURCEW(32515), BoxIcon::Warning},
                                                 {MAKEINTRESOURCEW(32513), BoxIcon::Error},
                                                 {MAKEINTRESOURCEW(32514), BoxIcon::Question}};
    for (const auto& [name, kind] : known) {
        if (LoadIconW(nullptr, name) == icon) {
            return kind;
        }
    }
    return BoxIcon::None;
}

// Posts the key to the window that has the focus (else the dialog) and serves it.
void SendKey(HWND dlg, UINT vk) {
    HWND target = GetFocus();
    if (!target) {
        target = dlg;
    }
    PostMessageW(target, WM_KEYDOWN, vk, 1);
    PostMessageW(target, WM_KEYUP, vk, 0xC0000001);
    tarvic::ui::ServeMessages();
}

int TextWidthIn(HWND h, HFONT font, const std::wstring& text) {
    HDC dc = GetDC(h);
    const HGDIOBJ old = SelectObject(dc, font);
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(h, dc);
    return size.cx;
}

HFONT FontOf(HWND h) {
    return reinterpret_cast<HFONT>(SendMessageW(h, WM_GETFONT, 0, 0));
}

Image ToImage(HICON icon, int width, int height) {
    Image image;
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bmp) {
        DeleteDC(dc);
        return image;
    }
    const HGDIOBJ old = SelectObject(dc, bmp);
    DrawIconEx(dc, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
    GdiFlush();
    image.width = width;
    image.height = height;
    const auto* p = static_cast<const uint32_t*>(bits);
    image.pixels.assign(p, p + static_cast<size_t>(width) * height);
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
    return image;
}

}  // namespace

int RunUi(int&, char**, const std::function<int()>& body) {
    tarvic::ui::StartServingCalls();
    return body();
}

bool IsOpen(const CWnd& dlg) {
    const HWND h = dlg.GetSafeHwnd();
    return h && IsWindowVisible(h);
}

void PressKey(CWnd& dlg, Key key) {
    static const UINT kKeys[] = {VK_RETURN, VK_ESCAPE, VK_TAB, VK_UP, VK_DOWN, 'L'};
    const HWND h = dlg.GetSafeHwnd();
    if (!h) {
        return;
    }
    if (key != Key::CtrlL) {
        SendKey(h, kKeys[static_cast<int>(key)]);
        return;
    }
    // Ctrl held while the key comes, as the keyboard would have it.
    BYTE state[256] = {};
    GetKeyboardState(state);
    BYTE held[256];
    std::copy(std::begin(state), std::end(state), std::begin(held));
    held[VK_CONTROL] = held[VK_LCONTROL] = 0x80;
    SetKeyboardState(held);
    SendKey(h, 'L');
    SetKeyboardState(state);
    tarvic::ui::ServeMessages();
}

std::pair<int, int> VisibleListEntries(const CWnd& dlg, int id) {
    const HWND list = Control(dlg, id);
    const int count = list ? static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0)) : 0;
    if (!list || !IsWindowVisible(list) || count <= 0) {
        return {-1, -1};
    }
    RECT client{};
    GetClientRect(list, &client);
    const int itemHeight = static_cast<int>(SendMessageW(list, LB_GETITEMHEIGHT, 0, 0));
    const int shown = itemHeight > 0 ? (client.bottom + itemHeight - 1) / itemHeight : 1;
    const int top = static_cast<int>(SendMessageW(list, LB_GETTOPINDEX, 0, 0));
    return {top, std::min(count, top + shown) - 1};
}

void ScrollListToTop(CWnd& dlg, int id) {
    if (const HWND list = Control(dlg, id)) {
        SendMessageW(list, WM_VSCROLL, SB_TOP, 0);
        SendMessageW(list, WM_VSCROLL, SB_ENDSCROLL, 0);
    }
}

namespace {

// The id of the system-menu item whose text (before its key) is utf8, or 0.
UINT SystemMenuItem(const CWnd& dlg, const std::string& utf8) {
    const HWND h = dlg.GetSafeHwnd();
    const HMENU menu = h ? GetSystemMenu(h, FALSE) : nullptr;
    if (!menu) {
        return 0;
    }
    const std::wstring wanted = FromUtf8(utf8);
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        wchar_t text[128] = {};
        GetMenuStringW(menu, static_cast<UINT>(i), text, 128, MF_BYPOSITION);
        std::wstring label = text;
        label = label.substr(0, label.find(L'\t'));
        if (label == wanted) {
            return GetMenuItemID(menu, i);
        }
    }
    return 0;
}

}  // namespace

bool ChooseSystemMenuItem(CWnd& dlg, const std::string& utf8) {
    const UINT id = SystemMenuItem(dlg, utf8);
    if (id == 0) {
        return false;
    }
    // What the system sends when the item is chosen with the mouse.
    PostMessageW(dlg.GetSafeHwnd(), WM_SYSCOMMAND, id, 0);
    tarvic::ui::ServeMessages();
    return true;
}

std::optional<bool> SystemMenuItemChecked(const CWnd& dlg, const std::string& utf8) {
    const UINT id = SystemMenuItem(dlg, utf8);
    if (id == 0) {
        return std::nullopt;
    }
    return (GetMenuState(GetSystemMenu(dlg.GetSafeHwnd(), FALSE), id, MF_BYCOMMAND) & MF_CHECKED) !=
           0;
}

void Click(CWnd& dlg, int id) {
    if (const HWND h = Control(dlg, id)) {
        SendMessageW(h, BM_CLICK, 0, 0);
    }
}

void ClickCloseBox(CWnd& dlg) {
    if (const HWND h = dlg.GetSafeHwnd()) {
        PostMessageW(h, WM_SYSCOMMAND, SC_CLOSE, 0);
        tarvic::ui::ServeMessages();
    }
}

void SelectComboEntry(CWnd& dlg, int id, int index) {
    const HWND combo = Control(dlg, id);
    const int count = combo ? static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0)) : 0;
    if (!combo || index < 0 || index >= count || !IsWindowEnabled(combo)) {
        return;
    }
    SetFocus(combo);
    while (static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0)) != index) {
        const int before = static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0));
        SendKey(dlg.GetSafeHwnd(), before < index ? VK_DOWN : VK_UP);
        if (static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0)) == before) {
            return;  // the key did not move it
        }
    }
}

void TypeText(CWnd& dlg, int id, const std::string& utf8) {
    HWND edit = Control(dlg, id);
    if (edit) {
        wchar_t cls[16] = {};
        GetClassNameW(edit, cls, 16);
        if (lstrcmpiW(cls, L"ComboBox") == 0) {
            edit = GetWindow(edit, GW_CHILD);
        }
    }
    if (!edit || !IsWindowEnabled(edit)) {
        return;
    }
    SetFocus(edit);
    SendMessageW(edit, EM_SETSEL, 0, -1);
    if (utf8.empty()) {
        SendKey(dlg.GetSafeHwnd(), VK_DELETE);
        return;
    }
    for (wchar_t c : FromUtf8(utf8)) {
        PostMessageW(edit, WM_CHAR, c, 1);
    }
    tarvic::ui::ServeMessages();
}

int FocusedControlId(const CWnd& dlg) {
    const HWND window = dlg.GetSafeHwnd();
    HWND focus = GetFocus();
    while (focus && GetParent(focus) != window) {
        focus = GetParent(focus);
    }
    return focus ? GetDlgCtrlID(focus) : 0;
}

bool IsDefaultButton(const CWnd& dlg, int id) {
    const HWND h = Control(dlg, id);
    return h && (GetWindowLongW(h, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
}

std::string ShownText(const CWnd& dlg, int id) {
    const HWND h = Control(dlg, id);
    return h ? Utf8(TextOf(h)) : std::string();
}

std::vector<std::string> ListEntries(const CWnd& dlg, int id) {
    std::vector<std::string> entries;
    const HWND h = Control(dlg, id);
    const int n = h ? static_cast<int>(SendMessageW(h, LB_GETCOUNT, 0, 0)) : 0;
    for (int i = 0; i < n; ++i) {
        std::wstring text(static_cast<size_t>(SendMessageW(h, LB_GETTEXTLEN, i, 0)) + 1, L'\0');
        text.resize(static_cast<size_t>(
            SendMessageW(h, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()))));
        entries.push_back(Utf8(text));
    }
    return entries;
}

std::vector<ControlInfo> Controls(const CWnd& dlg) {
    std::vector<ControlInfo> infos;
    const HWND window = dlg.GetSafeHwnd();
    for (const auto& c : tarvic::ui::UiBackend::Controls(&dlg)) {
        const HWND h = c->GetSafeHwnd();
        if (!h) {
            continue;
        }
        ControlInfo info;
        info.id = c->GetDlgCtrlID();
        wchar_t cls[32] = {};
        GetClassNameW(h, cls, 32);
        CharLowerW(cls);
        info.className = Utf8(cls);
        const std::wstring text = TextOf(h);
        info.text = Utf8(text);
        RECT r{};
        GetWindowRect(h, &r);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
        info.rect = {r.left, r.top, r.right - r.left, r.bottom - r.top};
        info.textWidth = TextWidthIn(h, FontOf(h), text);
        info.visible = IsWindowVisible(h) != FALSE;
        infos.push_back(info);
    }
    return infos;
}

int TextWidth(const CWnd& dlg, const std::string& utf8) {
    const HWND h = dlg.GetSafeHwnd();
    return h ? TextWidthIn(h, FontOf(h), FromUtf8(utf8)) : 0;
}

int LineHeight(const CWnd& dlg) {
    const HWND h = dlg.GetSafeHwnd();
    if (!h) {
        return 0;
    }
    HDC dc = GetDC(h);
    const HGDIOBJ old = SelectObject(dc, FontOf(h));
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    SelectObject(dc, old);
    ReleaseDC(h, dc);
    return tm.tmHeight;
}

std::vector<Size> WindowIconSizes(const CWnd& dlg) {
    std::vector<Size> sizes;
    const HWND h = dlg.GetSafeHwnd();
    if (!h) {
        return sizes;
    }
    // What the system shows: the big icon as it is, the small one at the small icon size.
    if (SendMessageW(h, WM_GETICON, ICON_BIG, 0)) {
        sizes.push_back({GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON)});
    }
    if (SendMessageW(h, WM_GETICON, ICON_SMALL, 0)) {
        sizes.push_back({GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON)});
    }
    return sizes;
}

Image IconImage(HICON icon, bool large) {
    if (!icon) {
        return Image();
    }
    return large ? ToImage(icon, GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON))
                 : ToImage(icon, GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON));
}

void Resize(CWnd& dlg, int width, int height) {
    const HWND h = dlg.GetSafeHwnd();
    if (!h) {
        return;
    }
    RECT r{0, 0, width, height};
    AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongW(h, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongW(h, GWL_EXSTYLE)));
    SetWindowPos(h, nullptr, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER);
}

void Minimise(CWnd& dlg) {
    if (const HWND h = dlg.GetSafeHwnd()) {
        ShowWindow(h, SW_MINIMIZE);
    }
}

namespace backend {

namespace {

std::map<UINT_PTR, std::function<void()>>& Timers() {
    static std::map<UINT_PTR, std::function<void()>> timers;
    return timers;
}

void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD) {
    auto it = Timers().find(id);
    if (it == Timers().end()) {
        KillTimer(nullptr, id);
        return;
    }
    // A copy: fn may stop its own timer.
    const std::function<void()> fn = it->second;
    fn();
}

}  // namespace

TimerId StartTimer(int ms, std::function<void()> fn) {
    const UINT_PTR id = SetTimer(nullptr, 0, static_cast<UINT>(ms), OnTimer);
    Timers()[id] = std::move(fn);
    return id;
}

void StopTimer(TimerId id) {
    if (Timers().erase(id) > 0) {
        KillTimer(nullptr, id);
    }
}

std::vector<Box> Boxes() {
    std::vector<Box> boxes;
    for (HWND box : ShownBoxes()) {
        boxes.push_back(box);
    }
    return boxes;
}

MessageBoxInfo Describe(Box b) {
    const HWND box = static_cast<HWND>(const_cast<void*>(b));
    // A box that blocks input has disabled the other windows of its thread.
    bool modal = false;
    for (HWND other = GetWindow(GetDesktopWindow(), GW_CHILD); other;
         other = GetWindow(other, GW_HWNDNEXT)) {
        DWORD pid = 0;
        const DWORD tid = GetWindowThreadProcessId(other, &pid);
        if (other != box && pid == GetCurrentProcessId() &&
            tid == GetWindowThreadProcessId(box, nullptr) && IsWindowVisible(other) &&
            !IsWindowEnabled(other)) {
            modal = true;
        }
    }
    return {Utf8(TextOf(box)), Utf8(TextOf(GetDlgItem(box, kBoxTextId))), IconOf(box), modal};
}

bool PressOk(Box b) {
    const HWND ok = GetDlgItem(static_cast<HWND>(const_cast<void*>(b)), IDOK);
    if (!ok) {
        return false;
    }
    // Served by the box's own thread.
    PostMessageW(ok, BM_CLICK, 0, 0);
    return true;
}

}  // namespace backend

}  // namespace tarvic::uitest
