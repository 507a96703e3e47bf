// The resource script reader, on the program's own script and on small scripts of its own.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/ui/framework.h"
#include "platform/ui/qt/resource_script.h"
#include "res/resource.h"

namespace tarvic {
namespace {

using namespace ui::rc;

std::string FileText(const std::string& name) {
    std::ifstream in(std::string(TARVIC_RES_DIR) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The program's script with its identifier header, as the back ends read them.
const Script& ProgramScript() {
    static const Script script = [] {
        Symbols symbols = BuiltinSymbols();
        ReadHeader(FileText("resource.h"), symbols);
        Script s;
        std::string error;
        EXPECT_TRUE(ReadScript(FileText("tarvic.rc"), symbols, s, &error)) << error;
        return s;
    }();
    return script;
}

bool Read(const char* text, Script& script, std::string* error = nullptr) {
    Symbols symbols = BuiltinSymbols();
    ReadHeader("#define IDD_X 7\n#define IDC_A 100\n#define IDI_X 5 // icon\n", symbols);
    return ReadScript(text, symbols, script, error);
}

TEST(ResourceScript, TheProgramsDialogTemplate) {
    const Dialog* d = ProgramScript().FindDialog(IDD_TARVIC_DIALOG);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->caption, "tarvic GPRS");
    EXPECT_EQ(d->cx, 137);
    EXPECT_EQ(d->cy, 106);
    EXPECT_EQ(d->fontFace, "MS Sans Serif");
    EXPECT_EQ(d->fontPoints, 8);
    EXPECT_EQ(d->style & (style::kPopup | style::kVisible | style::kCaption | style::kSysMenu),
              style::kPopup | style::kVisible | style::kCaption | style::kSysMenu);

    struct Row {
        int id;
        const char* cls;
        const char* text;
        int x, y, cx, cy;
        bool visible, tabStop;
        uint32_t kind;  // low style bits: button type, static alignment, combo type
    };
    const Row rows[] = {
        {IDOK, "button", "ПУСК", 70, 5, 50, 14, true, true, style::kDefPushButton},
        {IDC_URL, "edit", "", 30, 40, 90, 15, true, true, 0},
        {-1, "static", "url", 5, 40, 15, 15, true, false, 0},
        {IDC_GPRS_PORT, "combobox", "", 5, 5, 60, 140, true, true, 2},
        {IDC_LOG, "listbox", "", 5, 60, 125, 45, false, true, 1},
        {IDC_485_PORT, "combobox", "", 5, 20, 60, 140, true, true, 2},
        {-1, "static", "485-й", 70, 20, 40, 15, true, false, 0},
    };
    ASSERT_EQ(d->controls.size(), std::size(rows));
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row& r = rows[i];
        const Control& c = d->controls[i];
        SCOPED_TRACE("control " + std::to_string(i));
        EXPECT_EQ(c.id, r.id);
        EXPECT_EQ(c.className, r.cls);
        EXPECT_EQ(c.text, r.text);
        EXPECT_EQ(c.x, r.x);
        EXPECT_EQ(c.y, r.y);
        EXPECT_EQ(c.cx, r.cx);
        EXPECT_EQ(c.cy, r.cy);
        EXPECT_EQ((c.style & style::kVisible) != 0, r.visible);
        EXPECT_EQ((c.style & style::kTabStop) != 0, r.tabStop);
        EXPECT_EQ(c.style & 0x3u, r.kind);
        EXPECT_NE(c.style & style::kChild, 0u);
    }
    EXPECT_NE(d->controls[3].style & style::kComboSort, 0u);
    EXPECT_NE(d->controls[5].style & style::kComboSort, 0u);
    EXPECT_EQ(d->controls[4].style & style::kListSort, 0u);
    EXPECT_EQ(ProgramScript().icons.at(IDR_MAINFRAME), "tarvic.ico");
}

TEST(ResourceScript, DefaultsNotAndGenericControls) {
    Script s;
    std::string error;
    ASSERT_TRUE(Read(R"(
        /* a block comment
           over lines */
        IDI_X ICON "res\\x.ico"
        1 VERSIONINFO
         FILEVERSION 1,0,0,1
        BEGIN
            BLOCK "StringFileInfo"
            BEGIN
                VALUE "FileVersion", "1, 0, 0, 1\0"
            END
        END
        IDD_X DIALOGEX 1, 2, 30, 40
        CAPTION "a ""quoted"" caption"
        BEGIN
            PUSHBUTTON "Go", IDC_A, 1, 2, 3, 4, NOT WS_TABSTOP | WS_DISABLED
            CONTROL "", 101, "Button", BS_DEFPUSHBUTTON | WS_TABSTOP, 5, 6, 7, 8
            LISTBOX 102, 0, 0, 9, 9, LBS_STANDARD
            RTEXT "r", IDC_STATIC, 0, 0, 9, 9
            COMBOBOX 103, 0, 0, 9, 9
            COMBOBOX 104, 0, 0, 9, 9, CBS_DROPDOWN
        END
    )",
                     s, &error))
        << error;
    EXPECT_EQ(s.icons.at(5), "res\\x.ico");
    const Dialog* d = s.FindDialog(7);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->caption, "a \"quoted\" caption");
    ASSERT_EQ(d->controls.size(), 6u);
    EXPECT_EQ(d->controls[0].style & style::kTabStop, 0u);  // NOT takes the default away
    EXPECT_NE(d->controls[0].style & style::kDisabled, 0u);
    EXPECT_EQ(d->controls[1].className, "button");
    EXPECT_EQ(d->controls[1].x, 5);
    EXPECT_EQ(d->controls[1].cy, 8);
    EXPECT_EQ(d->controls[1].style & 0xFu, style::kDefPushButton);
    EXPECT_NE(d->controls[2].style & style::kListSort, 0u);
    EXPECT_EQ(d->controls[3].id, -1);
    EXPECT_EQ(d->controls[3].style & style::kStaticAlignMask, 2u);
    // A combo box's type is simple only when the statement names none.
    EXPECT_EQ(d->controls[4].style & style::kComboTypeMask, 1u);
    EXPECT_EQ(d->controls[5].style & style::kComboTypeMask, 2u);
}

TEST(ResourceScript, FaultsNameTheLine) {
    struct Case {
        const char* text;
        const char* where;
    };
    const Case cases[] = {
        {"IDD_X DIALOGEX 0, 0, 1, 1\nBEGIN\n  LTEXT \"a\", IDC_NOPE, 0, 0, 1, 1\nEND\n", "line 3"},
        {"IDD_X DIALOGEX 0, 0, 1\nBEGIN\nEND\n", "line 2"},
        {"IDD_X DIALOGEX 0, 0, 1, 1\nBEGIN\n  SCROLLBAR 1, 0, 0, 1, 1\nEND\n", "line 3"},
        {"IDD_X DIALOGEX 0, 0, 1, 1\nBEGIN\n", "END"},
        {"IDD_X WHATEVER \"x\"\n", "line 1"},
    };
    for (const Case& c : cases) {
        Script s;
        std::string error;
        EXPECT_FALSE(Read(c.text, s, &error)) << c.text;
        EXPECT_NE(error.find(c.where), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace tarvic
