// The program's main dialog, run as a person would run it, under the offscreen platform.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <thread>

#include "app/tarvic.h"
#include "app/tarvicDlg.h"
#include "platform/ui/test_driver.h"
#include "tests/support/temp_dir.h"

namespace tarvic {
namespace {

CComboBox* Combo(CTarvicDlg& dlg, int id) {
    return static_cast<CComboBox*>(dlg.GetDlgItem(id));
}

TEST(MainDialog, FirstDisplay) {
    CTarvicDlg dlg;
    uitest::RunModal(dlg, [&] {
        for (const int id : {IDC_GPRS_PORT, IDC_485_PORT}) {
            CComboBox* list = Combo(dlg, id);
            ASSERT_NE(dynamic_cast<CComboBox*>(dlg.GetDlgItem(id)), nullptr);
            ASSERT_EQ(list->GetCount(), 8);
            for (int i = 0; i < 8; ++i) {
                CString text;
                EXPECT_GT(list->GetLBText(i, text), 0);
                EXPECT_EQ(text, "COM" + std::to_string(i + 1));
            }
        }
        EXPECT_EQ(Combo(dlg, IDC_GPRS_PORT)->GetCurSel(), 0);
        EXPECT_EQ(Combo(dlg, IDC_485_PORT)->GetCurSel(), 3);
        EXPECT_EQ(uitest::ShownText(dlg, IDC_GPRS_PORT), "COM1");
        EXPECT_EQ(uitest::ShownText(dlg, IDC_485_PORT), "COM4");

        // A bare host name: no scheme, no path, no port, at least one dot.
        CString host;
        dlg.GetDlgItemText(IDC_URL, host);
        EXPECT_FALSE(host.empty());
        EXPECT_EQ(host.find_first_of(":/ "), std::string::npos) << host;
        EXPECT_NE(host.find('.'), std::string::npos) << host;

        EXPECT_EQ(uitest::FocusedControlId(dlg), IDOK);
        EXPECT_TRUE(uitest::IsDefaultButton(dlg, IDOK));
        EXPECT_EQ(uitest::ShownText(dlg, IDOK), "ПУСК");
        EXPECT_FALSE(dlg.GetDlgItem(IDC_LOG)->IsWindowVisible());
        EXPECT_TRUE(dlg.GetDlgItem(IDC_URL)->IsWindowVisible());
        EXPECT_EQ(uitest::SystemMenuItemChecked(dlg, "Журнал"), false);

        CString title;
        dlg.GetWindowText(title);
        EXPECT_EQ(title, "tarvic GPRS");
        std::vector<std::string> labels;
        for (const auto& c : uitest::Controls(dlg)) {
            if (c.className == "static") {
                EXPECT_TRUE(c.visible);
                labels.push_back(c.text);
            }
        }
        std::sort(labels.begin(), labels.end());
        EXPECT_EQ(labels, (std::vector<std::string>{"485-й", "url"}));
        const auto sizes = uitest::WindowIconSizes(dlg);
        auto has = [&](uitest::Size size) {
            return std::find(sizes.begin(), sizes.end(), size) != sizes.end();
        };
        EXPECT_TRUE(has({32, 32}));
        EXPECT_TRUE(has({16, 16}));
    });
}

TEST(MainDialog, ChoosingAnEntryGivesItsIndexAndTypingGivesNone) {
    CTarvicDlg dlg;
    int afterChoice = -2;
    int afterTyping = -2;
    int other = -2;
    int afterLeaving = -2;
    std::string shownAfterLeaving;
    uitest::RunModal(dlg, [&] {
        uitest::SelectComboEntry(dlg, IDC_GPRS_PORT, 5);
        EXPECT_EQ(uitest::ShownText(dlg, IDC_GPRS_PORT), "COM6");
        afterChoice = Combo(dlg, IDC_GPRS_PORT)->GetCurSel();
        // The checks read only the selected index, never the field's text.
        uitest::TypeText(dlg, IDC_485_PORT, "COM2");
        afterTyping = Combo(dlg, IDC_485_PORT)->GetCurSel();
        other = Combo(dlg, IDC_GPRS_PORT)->GetCurSel();
        // Leaving the field ends its editing; the text an entry has still selects none.
        uitest::PressKey(dlg, uitest::Key::Tab);
        afterLeaving = Combo(dlg, IDC_485_PORT)->GetCurSel();
        shownAfterLeaving = uitest::ShownText(dlg, IDC_485_PORT);
    });
    EXPECT_EQ(afterChoice, 5);
    EXPECT_EQ(afterTyping, CB_ERR);
    EXPECT_EQ(other, 5);
    EXPECT_EQ(afterLeaving, CB_ERR);
    EXPECT_EQ(shownAfterLeaving, "COM2");
}

// A letter that Windows-1251 lacks becomes '?' on its way from the field, never a
// look-alike ASCII letter, so that a host refused on one system is refused on every one.
TEST(MainDialog, AHostWithFullWidthLettersIsRefused) {
    struct Case {
        const char* typed;  // UTF-8
        const char* read;   // what the field gives the program
    };
    const Case cases[] = {
        {"\xef\xbd\x85xample.com", "?xample.com"},  // U+FF45 for the e
        {"\xef\xbd\x85\xef\xbd\x98\xef\xbd\x81\xef\xbd\x8d\xef\xbd\x90\xef\xbd\x8c\xef\xbd\x85.com",
         "???????.com"},  // all full width
        {"example\xef\xbc\x8e"
         "com",
         "example?com"},  // U+FF0E for the dot
    };
    for (const Case& c : cases) {
        CTarvicDlg dlg;
        CString read;
        std::optional<uitest::MessageBoxInfo> box;
        uitest::RunModal(dlg, [&] {
            uitest::TypeText(dlg, IDC_URL, c.typed);
            dlg.GetDlgItem(IDC_URL)->GetWindowText(read);
            box = uitest::ClickAndDismissBox(dlg, IDOK);
        });
        EXPECT_EQ(std::string(read), c.read) << c.typed;
        ASSERT_TRUE(box) << c.typed;
        EXPECT_EQ(box->text, "Неверный адрес сервера") << c.typed;
    }
}

TEST(MainDialog, TheApplicationCarriesOutTheHelpCommandOnly) {
    EXPECT_TRUE(theApp.OnCmdMsg(ID_HELP));
    EXPECT_FALSE(theApp.OnCmdMsg(IDOK));
    EXPECT_FALSE(theApp.OnCmdMsg(ID_HELP + 1));
}

TEST(MainDialog, EscAndTheCloseBoxEndItEnterAndStartDoNot) {
    struct Case {
        const char* name;
        std::function<void(CTarvicDlg&)> act;
        bool ends;
    };
    const Case cases[] = {
        {"Esc", [](CTarvicDlg& d) { uitest::PressKey(d, uitest::Key::Escape); }, true},
        {"close box", [](CTarvicDlg& d) { uitest::ClickCloseBox(d); }, true},
        {"Enter", [](CTarvicDlg& d) { uitest::PressKey(d, uitest::Key::Enter); }, false},
        {"Enter in the URL field",
         [](CTarvicDlg& d) {
             uitest::TypeText(d, IDC_URL, "example.org");
             uitest::PressKey(d, uitest::Key::Enter);
         },
         false},
        {"click on START", [](CTarvicDlg& d) { uitest::Click(d, IDOK); }, false},
    };
    // START opens COM1: make it a port that is certainly missing, never a real device of
    // the machine that runs the tests. (Under Wine, COM1 of the test prefix leads into its
    // ports folder, where nothing is while this test runs; the port directory is Linux's.)
#ifndef _WIN32
    const tarvic::test::TempDir home("tarvic-ui");
    std::filesystem::create_directories(home.Path() + "/tarvic/ports");
    std::filesystem::create_symlink(home.Path() + "/missing/tty",
                                    home.Path() + "/tarvic/ports/com1");
    tarvic::test::SetEnv("XDG_CONFIG_HOME", home.Path());
    tarvic::test::SetEnv("XDG_STATE_HOME", home.Path() + "/state");  // START's transcripts
#endif
    for (const Case& c : cases) {
        CTarvicDlg dlg;
        bool openAfter = false;
        const INT_PTR result = uitest::RunModal(dlg, [&] {
            // START may answer with a box (no such port here); a person dismisses it.
            uitest::DismissingBoxes([&] {
                c.act(dlg);
                uitest::Pump(50);
                openAfter = uitest::IsOpen(dlg);
                if (openAfter) {
                    uitest::PressKey(dlg, uitest::Key::Escape);
                }
            });
        });
        EXPECT_EQ(openAfter, !c.ends) << c.name;
        EXPECT_EQ(result, IDCANCEL) << c.name;
    }
}

TEST(MainDialog, TheLogStaysHiddenAndInOrderWhenAnotherThreadFillsIt) {
    CTarvicDlg dlg;
    std::vector<std::string> entries;
    bool visible = true;
    uitest::RunModal(dlg, [&] {
        std::atomic<bool> done{false};
        std::thread worker([&] {
            auto* log = static_cast<CListBox*>(dlg.GetDlgItem(IDC_LOG));
            log->AddString("Tread OK");
            for (int i = 0; i < 500; ++i) {
                log->AddString(("AT+" + std::to_string(i)).c_str());
            }
            done = true;
        });
        // The UI thread keeps serving the dialog in the meantime.
        while (!done) {
            uitest::PressKey(dlg, uitest::Key::Tab);
            uitest::Pump(1);
        }
        worker.join();
        entries = uitest::ListEntries(dlg, IDC_LOG);
        visible = dlg.GetDlgItem(IDC_LOG)->IsWindowVisible();
    });
    ASSERT_EQ(entries.size(), 501u);
    EXPECT_EQ(entries[0], "Tread OK");
    for (int i = 0; i < 500; ++i) {
        EXPECT_EQ(entries[i + 1], "AT+" + std::to_string(i));
    }
    EXPECT_FALSE(visible);
}

// The focus from START on as Tab moves it round the dialog once.
std::vector<int> TabOrder(CTarvicDlg& dlg) {
    std::vector<int> order = {uitest::FocusedControlId(dlg)};
    for (int i = 0; i < 8; ++i) {
        uitest::PressKey(dlg, uitest::Key::Tab);
        const int id = uitest::FocusedControlId(dlg);
        if (id == order.front()) {
            break;
        }
        order.push_back(id);
    }
    return order;
}

TEST(MainDialog, CtrlLAndTheMenuItemShowAndHideTheLogInItsPlaceAndChangeNothingElse) {
    struct Way {
        const char* name;
        std::function<void(CTarvicDlg&)> toggle;
    };
    const Way ways[] = {
        {"Ctrl+L", [](CTarvicDlg& d) { uitest::PressKey(d, uitest::Key::CtrlL); }},
        {"the menu item",
         [](CTarvicDlg& d) { EXPECT_TRUE(uitest::ChooseSystemMenuItem(d, "Журнал")); }},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        CTarvicDlg dlg;
        uitest::RunModal(dlg, [&] {
            RECT before{};
            dlg.GetClientRect(&before);
            const auto controls = uitest::Controls(dlg);
            const std::vector<int> hiddenOrder = TabOrder(dlg);
            ASSERT_EQ(uitest::FocusedControlId(dlg), IDOK);

            way.toggle(dlg);
            uitest::Pump(20);
            EXPECT_TRUE(dlg.GetDlgItem(IDC_LOG)->IsWindowVisible());
            EXPECT_EQ(uitest::SystemMenuItemChecked(dlg, "Журнал"), true);
            EXPECT_EQ(uitest::FocusedControlId(dlg), IDOK);
            EXPECT_TRUE(uitest::IsDefaultButton(dlg, IDOK));
            RECT after{};
            dlg.GetClientRect(&after);
            EXPECT_EQ(after.right - after.left, before.right - before.left);
            EXPECT_EQ(after.bottom - after.top, before.bottom - before.top);
            const auto shown = uitest::Controls(dlg);
            ASSERT_EQ(shown.size(), controls.size());
            for (size_t i = 0; i < shown.size(); ++i) {
                SCOPED_TRACE(shown[i].id);
                EXPECT_EQ(shown[i].rect.x, controls[i].rect.x);
                EXPECT_EQ(shown[i].rect.y, controls[i].rect.y);
                EXPECT_EQ(shown[i].rect.width, controls[i].rect.width);
                EXPECT_EQ(shown[i].rect.height, controls[i].rect.height);
                EXPECT_EQ(shown[i].visible, controls[i].visible || shown[i].id == IDC_LOG);
            }
            // The list takes its template place in the tab order; the others keep theirs.
            std::vector<int> shownOrder = TabOrder(dlg);
            EXPECT_NE(std::find(shownOrder.begin(), shownOrder.end(), IDC_LOG), shownOrder.end());
            shownOrder.erase(std::remove(shownOrder.begin(), shownOrder.end(), IDC_LOG),
                             shownOrder.end());
            EXPECT_EQ(shownOrder, hiddenOrder);

            way.toggle(dlg);
            uitest::Pump(20);
            EXPECT_FALSE(dlg.GetDlgItem(IDC_LOG)->IsWindowVisible());
            EXPECT_EQ(uitest::SystemMenuItemChecked(dlg, "Журнал"), false);
            EXPECT_EQ(uitest::FocusedControlId(dlg), IDOK);
        });
    }
}

TEST(MainDialog, TheShownLogFollowsItsNewestEntryUntilTheUserScrollsUp) {
    CTarvicDlg dlg;
    std::pair<int, int> following, scrolledUp;
    uitest::RunModal(dlg, [&] {
        uitest::PressKey(dlg, uitest::Key::CtrlL);
        auto* log = static_cast<CListBox*>(dlg.GetDlgItem(IDC_LOG));
        for (int i = 0; i < 100; ++i) {
            log->AddString(("entry " + std::to_string(i)).c_str());
        }
        uitest::Pump(50);
        following = uitest::VisibleListEntries(dlg, IDC_LOG);
        uitest::ScrollListToTop(dlg, IDC_LOG);
        for (int i = 100; i < 120; ++i) {
            log->AddString(("entry " + std::to_string(i)).c_str());
        }
        uitest::Pump(50);
        scrolledUp = uitest::VisibleListEntries(dlg, IDC_LOG);
    });
    EXPECT_GT(following.first, 0);
    EXPECT_EQ(following.second, 99);
    EXPECT_EQ(scrolledUp.first, 0);
    EXPECT_LT(scrolledUp.second, 99);
}

// The two 16-colour images first, then every size in 32-bit colour with alpha, the largest
// stored as PNG (a directory size of 0 means 256).
TEST(MainDialog, TheIconHasTwoSixteenColourImagesAndEverySizeInColour) {
    std::ifstream file(std::string(TARVIC_RES_DIR) + "/tarvic.ico", std::ios::binary);
    ASSERT_TRUE(file.is_open());
    const std::string ico{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    auto byte = [&](size_t at) { return static_cast<uint8_t>(ico[at]); };
    auto u16 = [&](size_t at) { return byte(at) | byte(at + 1) << 8; };
    auto u32 = [&](size_t at) { return uint32_t(u16(at)) | uint32_t(u16(at + 2)) << 16; };
    struct Row {
        int size, colours, bits;
        bool png;
    };
    const Row rows[] = {{32, 16, 4, false}, {16, 16, 4, false},  {16, 0, 32, false},
                        {24, 0, 32, false}, {32, 0, 32, false},  {48, 0, 32, false},
                        {64, 0, 32, false}, {128, 0, 32, false}, {256, 0, 32, true}};
    constexpr size_t kCount = sizeof rows / sizeof rows[0];
    ASSERT_GE(ico.size(), 6u + kCount * 16);
    EXPECT_EQ(u16(2), 1);  // icon
    ASSERT_EQ(u16(4), static_cast<int>(kCount));
    for (size_t i = 0; i < kCount; ++i) {
        const Row& r = rows[i];
        const size_t entry = 6 + 16 * i;
        EXPECT_EQ(byte(entry) == 0 ? 256 : byte(entry), r.size) << i;
        EXPECT_EQ(byte(entry + 2), r.colours) << i;
        EXPECT_EQ(u16(entry + 6), r.bits) << i;
        const size_t offset = u32(entry + 12);
        ASSERT_LT(offset + 40, ico.size());
        if (r.png) {
            EXPECT_EQ(ico.substr(offset, 8), std::string("\x89PNG\r\n\x1a\n", 8)) << i;
            EXPECT_EQ(byte(offset + 25), 6) << i;  // RGBA
        } else {
            EXPECT_EQ(u32(offset + 4), uint32_t(r.size)) << i;  // the image's own header agrees
            EXPECT_EQ(u16(offset + 14), r.bits) << i;
        }
    }
    const HICON icon = AfxGetApp()->LoadIcon(IDR_MAINFRAME);
    ASSERT_NE(icon, nullptr);
    const uitest::Image large = uitest::IconImage(icon, true);
    const uitest::Image small = uitest::IconImage(icon, false);
    EXPECT_EQ((uitest::Size{large.width, large.height}), (uitest::Size{32, 32}));
    EXPECT_EQ((uitest::Size{small.width, small.height}), (uitest::Size{16, 16}));
}

// Windows gives a minimised dialog no client area of its own to paint on; this painting
// (the same code, with the system's DrawIcon on Windows) is tested on Linux.
#ifndef _WIN32
// True when every opaque pixel of the icon is on the image at (x, y).
bool IconAt(const uitest::Image& image, const uitest::Image& icon, int x, int y) {
    int compared = 0;
    for (int j = 0; j < icon.height; ++j) {
        for (int i = 0; i < icon.width; ++i) {
            const uint32_t p = icon.At(i, j);
            if ((p >> 24) != 255 || !image.Has(x + i, y + j)) {
                continue;
            }
            ++compared;
            if ((image.At(x + i, y + j) & 0xFFFFFF) != (p & 0xFFFFFF)) {
                return false;
            }
        }
    }
    return compared > 100;
}

TEST(MainDialog, TheMinimisedDialogCentresItsIconRoundingTowardZero) {
    struct Case {
        int width, height;
        int x, y;
    };
    const Case cases[] = {
        {36, 36, 2, 2},
        {30, 30, 0, 0},  // (30 - 32 + 1) / 2 is 0, not -1
        {31, 40, 0, 4},
        {80, 33, 24, 1},
    };
    const uitest::Image icon = uitest::IconImage(AfxGetApp()->LoadIcon(IDR_MAINFRAME), true);
    ASSERT_EQ(icon.width, 32);
    for (const Case& c : cases) {
        CTarvicDlg dlg;
        uitest::Image shown;
        uitest::Image normal;
        uitest::RunModal(dlg, [&] {
            uitest::Resize(dlg, c.width, c.height);
            // The dialog's own painting, without the controls on top of it.
            normal = uitest::PaintedWindow(dlg);
            uitest::Minimise(dlg);
            ASSERT_TRUE(uitest::WaitUntil([&] { return dlg.IsIconic() == TRUE; }));
            shown = uitest::PaintedWindow(dlg);
        });
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        EXPECT_TRUE(IconAt(shown, icon, c.x, c.y));
        EXPECT_FALSE(IconAt(shown, icon, c.x - 1, c.y));
        EXPECT_FALSE(IconAt(shown, icon, c.x, c.y - 1));
        EXPECT_FALSE(IconAt(normal, icon, c.x, c.y));  // not minimised: no icon painted
    }
}

#endif  // _WIN32

TEST(MainDialog, QueryDragIconAnswersTheApplicationIcon) {
    CTarvicDlg dlg;
    LRESULT answer = 0;
    HICON big = nullptr;
    uitest::RunModal(dlg, [&] {
        // From another thread, as the check thread would: the UI thread serves it.
        std::atomic<bool> done{false};
        std::thread worker([&] {
            answer = dlg.SendMessage(WM_QUERYDRAGICON);
            done = true;
        });
        EXPECT_TRUE(uitest::WaitUntil([&] { return done.load(); }));
        worker.join();
        big = dlg.GetIcon(TRUE);
    });
    EXPECT_NE(big, nullptr);
    EXPECT_EQ(reinterpret_cast<HICON>(answer), big);
    EXPECT_EQ(big, AfxGetApp()->LoadIcon(IDR_MAINFRAME));
}

}  // namespace
}  // namespace tarvic
