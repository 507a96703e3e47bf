// Building a dialog's window and controls from its resource template.
#pragma once

#include <QFont>

#include "platform/ui/framework.h"
#include "platform/ui/qt/resource_script.h"

namespace tarvic::ui {

class DialogWindow;

// Converts dialog units with the font's metrics, as the Windows dialog manager does.
struct DialogUnits {
    explicit DialogUnits(const QFont& font);
    int X(int du) const;
    int Y(int du) const;
    int baseX;  // average character width
    int baseY;  // character height
};

// The template's font, or the nearest installed one.
QFont DialogFont(const rc::Dialog& d);

// Builds the dialog's controls from its template, in template order (the tab order), and
// binds the control objects to them. Control objects of an earlier run are reused, so that
// pointers handed out by GetDlgItem stay valid for the dialog object's life.
void BuildDialog(CDialog* dlg, DialogWindow* window, const rc::Dialog& t);

}  // namespace tarvic::ui
