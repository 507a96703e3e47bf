// The program's resources as embedded by tarvic_ui_add_resources(): its resource script and
// the icons the script names.
#pragma once

#include "platform/ui/qt/handles.h"
#include "platform/ui/qt/resource_script.h"

namespace tarvic::ui {

// The embedded resource script, read once.
const rc::Script& AppResources();
// The icon resource id, loaded once and kept for the life of the program; nullptr if the
// script names no such icon or its file cannot be read.
const IconData* LoadAppIcon(int id);

}  // namespace tarvic::ui
