// Drives a real dialog the way a person would, for tests under Qt's offscreen platform.
// Everything here runs on the test's main thread, which is the UI thread.
//
//   CTarvicDlg dlg;
//   const INT_PTR result = uitest::RunModal(dlg, [&] {
//       uitest::SelectComboEntry(dlg, IDC_GPRS_PORT, 5);
//       uitest::Click(dlg, IDOK);
//       auto box = uitest::WaitForMessageBox();
//       ASSERT_TRUE(box);
//       uitest::ClickMessageBoxOk();
//       uitest::PressKey(dlg, uitest::Key::Escape);
//   });
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/framework.h"

namespace uitest {

constexpr INT_PTR kTimedOut = -2;

// Runs dlg.DoModal() on this thread. script runs inside the dialog's event loop once the
// window is up. When script returns and the dialog is still open, the driver closes it as
// the close box would (OnCancel). If timeoutMs passes first, open boxes are dismissed, the
// dialog is ended and kTimedOut is returned; otherwise DoModal's result.
INT_PTR RunModal(CDialog& dlg, const std::function<void()>& script, int timeoutMs = 60000);

// Serves events until cond() holds or timeoutMs has passed; returns cond().
bool WaitUntil(const std::function<bool()>& cond, int timeoutMs = 5000);
// Serves events for ms milliseconds.
void Pump(int ms);

bool IsOpen(const CWnd& dlg);

enum class Key { Enter, Escape, Tab, Up, Down };
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

}  // namespace uitest
