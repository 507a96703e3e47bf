// Drives a real dialog the way a person would, for tests and benchmarks. The interface is
// the same for every back end: the waits, timers and box handling are written once
// (test_driver.cpp) over a few primitives that each back end provides beside its input and
// inspection calls (qt/test_driver.cpp, win32/test_driver.cpp), so the same tests drive
// each. Everything here runs on the program's main thread, which is the
// UI thread (see RunUi).
//
//   CTarvicDlg dlg;
//   const INT_PTR result = tarvic::uitest::RunModal(dlg, [&] {
//       tarvic::uitest::SelectComboEntry(dlg, IDC_GPRS_PORT, 5);
//       tarvic::uitest::Click(dlg, IDOK);
//       auto box = tarvic::uitest::WaitForMessageBox();
//       ASSERT_TRUE(box);
//       tarvic::uitest::ClickMessageBoxOk();
//       tarvic::uitest::PressKey(dlg, tarvic::uitest::Key::Escape);
//   });
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui/framework.h"

namespace tarvic::uitest {

constexpr INT_PTR kTimedOut = -2;

// Makes this thread the UI thread with the toolkit's application object, runs body and
// returns its result: main() of a program that drives dialogs. Without a display named by
// the environment the windows are off screen.
int RunUi(int& argc, char** argv, const std::function<int()>& body);

// Runs dlg.DoModal() on this thread. script runs inside the dialog's event loop once the
// window is up. When script returns and the dialog is still open, the driver closes it as
// the close box would (OnCancel). If timeoutMs passes first, open boxes are dismissed, the
// dialog is ended and kTimedOut is returned; otherwise DoModal's result.
INT_PTR RunModal(CDialog& dlg, const std::function<void()>& script, int timeoutMs = 60000);

// Serves events until cond() holds or timeoutMs has passed; returns cond().
bool WaitUntil(const std::function<bool()>& cond, int timeoutMs = 5000);
// Serves events for ms milliseconds.
void Pump(int ms);
// Runs fn from the event loop once the caller is back in it (a dialog's loop or a wait):
// for dealing with a box that the caller is about to bring up on this thread.
void Soon(const std::function<void()>& fn);
// Runs act while every message box that comes up is dismissed with OK, as a person would.
void DismissingBoxes(const std::function<void()>& act);

bool IsOpen(const CWnd& dlg);

enum class Key { Enter, Escape, Tab, Up, Down, CtrlL };
// The key goes to the control that has the focus, as typed on the keyboard.
void PressKey(CWnd& dlg, Key key);
void Click(CWnd& dlg, int id);
// What the window manager does when the title bar's close box is clicked.
void ClickCloseBox(CWnd& dlg);
// Chooses the entry with the arrow keys, from the entry selected now.
void SelectComboEntry(CWnd& dlg, int id, int index);
// Replaces the text of an edit field or a combo box's field by typing (UTF-8).
void TypeText(CWnd& dlg, int id, const std::string& utf8);

// The control that has the focus (0 if none) and the default button's state.
int FocusedControlId(const CWnd& dlg);
bool IsDefaultButton(const CWnd& dlg, int id);
// What the control shows, as UTF-8 (edit, combo box field, button, label).
std::string ShownText(const CWnd& dlg, int id);
// A list box's entries as UTF-8.
std::vector<std::string> ListEntries(const CWnd& dlg, int id);
// The first and the last entry of a list box that can be seen; -1 and -1 when none can.
std::pair<int, int> VisibleListEntries(const CWnd& dlg, int id);
// Scrolls a list box to its first entry, as the user would with its scroll bar.
void ScrollListToTop(CWnd& dlg, int id);

// The item of the window's system menu with this text (UTF-8; on Linux the context menu of
// the dialog's background, which stands in for it): chooses it, false when there is none.
bool ChooseSystemMenuItem(CWnd& dlg, const std::string& utf8);
// Whether that item has its check mark; nothing when there is no such item.
std::optional<bool> SystemMenuItemChecked(const CWnd& dlg, const std::string& utf8);

// Pixels, in the dialog's client area.
struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
    bool Contains(const Rect& r) const {
        return r.x >= x && r.y >= y && r.x + r.width <= x + width && r.y + r.height <= y + height;
    }
    bool Intersects(const Rect& r) const {
        return x < r.x + r.width && r.x < x + width && y < r.y + r.height && r.y < y + height;
    }
};
struct ControlInfo {
    int id = 0;
    std::string className;  // as in the template: "button", "static", "combobox" ...
    std::string text;       // what it shows, UTF-8
    Rect rect;
    int textWidth = 0;  // the width of text in the control's font
    bool visible = false;
};
// Every control of the dialog, in template order.
std::vector<ControlInfo> Controls(const CWnd& dlg);
// The width of a UTF-8 text and the height of a line in the dialog's font.
int TextWidth(const CWnd& dlg, const std::string& utf8);
int LineHeight(const CWnd& dlg);

struct Size {
    int width = 0, height = 0;
    bool operator==(const Size&) const = default;
};
// The sizes of the images the window's icon has (title bar, task switcher).
std::vector<Size> WindowIconSizes(const CWnd& dlg);

struct Image {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;  // 0xAARRGGBB, row after row
    bool Has(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
    uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};
// The icon's large (SM_CXICON x SM_CYICON) or small image.
Image IconImage(HICON icon, bool large);
// What the dialog paints itself on a black client area, without its controls. Not on
// Windows, where a minimised dialog has no client area of its own.
Image PaintedWindow(const CWnd& dlg);
// Gives the dialog's client area this size, also when its template fixes the size.
void Resize(CWnd& dlg, int width, int height);
// Minimises the dialog as its title bar's button would.
void Minimise(CWnd& dlg);

enum class BoxIcon { None, Information, Warning, Error, Question };
struct MessageBoxInfo {
    std::string caption;  // UTF-8
    std::string text;     // UTF-8
    BoxIcon icon = BoxIcon::None;
    bool modal = false;  // blocks input to the other windows
};
std::vector<MessageBoxInfo> OpenMessageBoxes();
std::optional<MessageBoxInfo> WaitForMessageBox(int timeoutMs = 5000);
// Clicks OK on the box that is up (the oldest, if there are several); false if none is.
bool ClickMessageBoxOk();
// Clicks the control when the click is expected to bring up a box on the UI thread itself,
// which holds the click until it is dismissed: the box is read and dismissed from inside
// its own loop. Returns what it showed, or nothing if no box came within timeoutMs.
std::optional<MessageBoxInfo> ClickAndDismissBox(CWnd& dlg, int id, int timeoutMs = 5000);

}  // namespace tarvic::uitest
