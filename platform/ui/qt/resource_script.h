// Reads the parts of a Windows resource script (.rc) that the dialogs need: dialog
// templates and icon file names. The same script is compiled by the resource compiler on
// Windows, so the dialog is described once.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tarvic::ui::rc {

// Window and control style bits, with their values in the resource compiler's headers.
namespace style {
constexpr uint32_t kPopup = 0x80000000u;
constexpr uint32_t kChild = 0x40000000u;
constexpr uint32_t kVisible = 0x10000000u;
constexpr uint32_t kDisabled = 0x08000000u;
constexpr uint32_t kCaption = 0x00C00000u;
constexpr uint32_t kBorder = 0x00800000u;
constexpr uint32_t kSysMenu = 0x00080000u;
constexpr uint32_t kGroup = 0x00020000u;
constexpr uint32_t kTabStop = 0x00010000u;
constexpr uint32_t kDefPushButton = 0x0001u;    // BS_DEFPUSHBUTTON
constexpr uint32_t kStaticAlignMask = 0x0003u;  // SS_LEFT 0, SS_CENTER 1, SS_RIGHT 2
constexpr uint32_t kComboTypeMask = 0x0003u;    // CBS_SIMPLE 1, CBS_DROPDOWN 2, CBS_DROPDOWNLIST 3
constexpr uint32_t kComboDropDownList = 0x0003u;
constexpr uint32_t kComboSort = 0x0100u;
constexpr uint32_t kListSort = 0x0002u;
}  // namespace style

struct Control {
    std::string className;  // "button", "edit", "static", "combobox", "listbox"
    std::string text;       // UTF-8
    int id = 0;
    int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
    uint32_t style = 0;
    uint32_t exStyle = 0;
};

struct Dialog {
    int id = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    uint32_t style = 0;
    uint32_t exStyle = 0;
    std::string caption;  // UTF-8
    std::string fontFace;
    int fontPoints = 8;
    std::vector<Control> controls;  // template order, which is also the tab order
};

struct Script {
    std::vector<Dialog> dialogs;
    std::map<int, std::string> icons;  // resource id -> file name as written in the script

    const Dialog* FindDialog(int id) const;
};

using Symbols = std::map<std::string, long, std::less<>>;

// The resource compiler's own names (IDOK, IDC_STATIC, WS_*, DS_*, BS_*, ...).
Symbols BuiltinSymbols();

// Adds the "#define NAME number" lines of a resource header to symbols.
void ReadHeader(std::string_view text, Symbols& symbols);

// False, with a message naming the line, when the script holds something it cannot read.
bool ReadScript(std::string_view text, const Symbols& symbols, Script& out, std::string* error);

}  // namespace tarvic::ui::rc
