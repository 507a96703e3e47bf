// The framework with a plain dialog on the program's template: layout from dialog units,
// tab order, control calls and message boxes from another thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <thread>

#include "platform/ui/test_driver.h"
#include "res/resource.h"

namespace tarvic {
namespace {

const char kCantOpen[] =
    "\xcd\xe5 \xf3\xe4\xe0\xe5\xf2\xf1\xff \xee\xf2\xea\xf0\xfb\xf2\xfc COM "
    "\xef\xee\xf0\xf2";  // Windows-1251
const char kCantOpenUtf8[] = "Не удается открыть COM порт";

class Dialog : public CDialog {
  public:
    Dialog() : CDialog(IDD_TARVIC_DIALOG) {}
};

TEST(Framework, DialogUnitsGiveAWindowWhoseControlsFitAndDoNotOverlap) {
    Dialog dlg;
    uitest::RunModal(dlg, [&] {
        RECT client{};
        dlg.GetClientRect(&client);
        ASSERT_GT(client.right, 0);
        // The Windows rule, from the font's own metrics.
        const int bx =
            (uitest::TextWidth(dlg, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 26 +
             1) /
            2;
        const int by = uitest::LineHeight(dlg);
        EXPECT_EQ(client.right, (137 * bx + 2) / 4);
        EXPECT_EQ(client.bottom, (106 * by + 4) / 8);

        const auto controls = uitest::Controls(dlg);
        auto rectOf = [&](int id) {
            for (const auto& c : controls) {
                if (c.id == id) {
                    return c.rect;
                }
            }
            ADD_FAILURE() << "no control " << id;
            return uitest::Rect{};
        };
        const int ids[] = {IDOK, IDC_URL, IDC_GPRS_PORT, IDC_LOG, IDC_485_PORT};
        std::vector<uitest::Rect> rects;
        for (int id : ids) {
            rects.push_back(rectOf(id));
        }
        for (const auto& label : controls) {
            if (label.className != "static") {
                continue;
            }
            rects.push_back(label.rect);
            // Nothing clipped: the text fits its label.
            EXPECT_LE(label.textWidth, label.rect.width) << label.text;
        }
        const auto start = std::find_if(controls.begin(), controls.end(),
                                        [](const auto& c) { return c.id == IDOK; });
        ASSERT_NE(start, controls.end());
        EXPECT_EQ(start->className, "button");
        EXPECT_EQ(start->text, "ПУСК");
        EXPECT_LT(start->textWidth, start->rect.width);
        ASSERT_EQ(rects.size(), 7u);
        const uitest::Rect window{0, 0, client.right, client.bottom};
        for (size_t i = 0; i < rects.size(); ++i) {
            EXPECT_TRUE(window.Contains(rects[i])) << i;
            EXPECT_GT(rects[i].width, 0);
            EXPECT_GT(rects[i].height, 0);
            for (size_t j = i + 1; j < rects.size(); ++j) {
                EXPECT_FALSE(rects[i].Intersects(rects[j])) << i << " and " << j;
            }
        }
        // Positions follow the template: START right of the GPRS list, the RS-485 list under it.
        const uitest::Rect gprs = rects[2];
        EXPECT_GE(rects[0].x, gprs.x + gprs.width);
        EXPECT_GE(rects[4].y, gprs.y + gprs.height);
        EXPECT_EQ(rects[4].x, gprs.x);
    });
}

TEST(Framework, TabGoesThroughTheControlsInTemplateOrder) {
    Dialog dlg;
    std::vector<int> order;
    uitest::RunModal(dlg, [&] {
        for (int i = 0; i < 5; ++i) {
            order.push_back(uitest::FocusedControlId(dlg));
            uitest::PressKey(dlg, uitest::Key::Tab);
        }
    });
    // The labels take no focus and the hidden log list is skipped.
    EXPECT_EQ(order, (std::vector<int>{IDOK, IDC_URL, IDC_GPRS_PORT, IDC_485_PORT, IDOK}));
}

TEST(Framework, CallsAndABoxFromAnotherThreadWhileTheDialogRuns) {
    Dialog dlg;
    std::atomic<bool> threadDone{false};
    int boxResult = 0;
    int count = 0;
    CString url;
    BOOL enabledBefore = FALSE;
    std::vector<std::string> shownWhileBoxUp;
    uitest::RunModal(dlg, [&] {
        std::thread worker([&] {
            auto* log = static_cast<CListBox*>(dlg.GetDlgItem(IDC_LOG));
            for (int i = 0; i < 200; ++i) {
                log->AddString(("line " + std::to_string(i)).c_str());
            }
            count = log->GetCount();
            dlg.SetDlgItemText(IDC_URL, "host.example");
            dlg.GetDlgItemText(IDC_URL, url);
            enabledBefore = dlg.GetDlgItem(IDOK)->EnableWindow(FALSE);
            boxResult =
                MessageBoxExA(nullptr, kCantOpen, "ERROR", MB_OK | MB_ICONERROR | MB_TASKMODAL, 4);
            threadDone = true;
        });
        const auto box = uitest::WaitForMessageBox();
        ASSERT_TRUE(box.has_value());
        EXPECT_EQ(box->text, kCantOpenUtf8);
        EXPECT_EQ(box->caption, "ERROR");
        EXPECT_EQ(box->icon, uitest::BoxIcon::Error);
        EXPECT_FALSE(box->modal);
        // The dialog still takes input while the box waits, and the caller still waits.
        uitest::TypeText(dlg, IDC_URL, "typed.example");
        shownWhileBoxUp.push_back(uitest::ShownText(dlg, IDC_URL));
        uitest::Pump(50);
        EXPECT_FALSE(threadDone);
        EXPECT_TRUE(uitest::ClickMessageBoxOk());
        EXPECT_TRUE(uitest::WaitUntil([&] { return threadDone.load(); }));
        worker.join();
        EXPECT_FALSE(dlg.GetDlgItem(IDOK)->IsWindowEnabled());
    });
    EXPECT_EQ(count, 200);
    EXPECT_EQ(url, "host.example");
    EXPECT_FALSE(enabledBefore);
    EXPECT_EQ(boxResult, IDOK);
    EXPECT_EQ(shownWhileBoxUp, std::vector<std::string>{"typed.example"});
}

TEST(Framework, ABoxFromTheUiThreadIsModal) {
    Dialog dlg;
    std::optional<uitest::MessageBoxInfo> seen;
    int result = 0;
    uitest::RunModal(dlg, [&] {
        uitest::Soon([&] {
            seen = uitest::WaitForMessageBox();
            uitest::ClickMessageBoxOk();
        });
        result = MessageBoxExA(nullptr, "\xc3\xee\xf2\xee\xe2\xee", "OK",
                               MB_OK | MB_ICONINFORMATION | MB_TASKMODAL, 4);
    });
    ASSERT_TRUE(seen.has_value());
    EXPECT_TRUE(seen->modal);
    EXPECT_EQ(seen->text, "Готово");
    EXPECT_EQ(seen->icon, uitest::BoxIcon::Information);
    EXPECT_EQ(result, IDOK);
}

TEST(Framework, TheUiThreadServesCallsWhileItWaitsForAThread) {
    Dialog dlg;
    std::atomic<bool> done{false};
    uitest::RunModal(dlg, [&] {
        std::thread worker([&] {
            auto* log = static_cast<CListBox*>(dlg.GetDlgItem(IDC_LOG));
            for (int i = 0; i < 100; ++i) {
                log->AddString("x");
            }
            done = true;
        });
        PumpMessagesUntil([&] { return done.load(); });
        worker.join();
        EXPECT_EQ(uitest::ListEntries(dlg, IDC_LOG).size(), 100u);
    });
}

TEST(Framework, CancelledBoxesReturnAtOnceUntilTheNextDialog) {
    Dialog dlg;
    int first = 0;
    int later = 0;
    std::atomic<bool> done{false};
    uitest::RunModal(dlg, [&] {
        std::thread worker([&] {
            first = MessageBoxExA(nullptr, "a", "OK", MB_OK, 4);
            later = MessageBoxExA(nullptr, "b", "OK", MB_OK, 4);
            done = true;
        });
        ASSERT_TRUE(uitest::WaitForMessageBox().has_value());
        CancelMessageBoxes();
        EXPECT_TRUE(uitest::WaitUntil([&] { return done.load(); }));
        worker.join();
        EXPECT_TRUE(uitest::OpenMessageBoxes().empty());
    });
    EXPECT_EQ(first, IDCANCEL);
    EXPECT_EQ(later, IDCANCEL);

    Dialog next;
    int again = 0;
    uitest::RunModal(next, [&] {
        std::thread worker([&] { again = MessageBoxExA(nullptr, "c", "OK", MB_OK, 4); });
        EXPECT_TRUE(uitest::WaitForMessageBox().has_value());
        uitest::ClickMessageBoxOk();
        worker.join();
    });
    EXPECT_EQ(again, IDOK);
}

TEST(Framework, ControlObjectsOutliveTheWindowAndDoNothingAfterIt) {
    Dialog dlg;
    CListBox* log = nullptr;
    uitest::RunModal(dlg, [&] { log = static_cast<CListBox*>(dlg.GetDlgItem(IDC_LOG)); });
    ASSERT_NE(log, nullptr);
    int added = 0;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        added = log->AddString("late");
        done = true;
    });
    EXPECT_TRUE(uitest::WaitUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_EQ(added, LB_ERR);
    EXPECT_EQ(log->GetCount(), LB_ERR);
    // The same objects serve the next run of the same dialog object.
    uitest::RunModal(dlg, [&] {
        EXPECT_EQ(dlg.GetDlgItem(IDC_LOG), log);
        EXPECT_EQ(log->AddString("again"), 0);
    });
}

TEST(Framework, AListDropsTheEntryAskedForAndKeepsTheOthersInOrder) {
    Dialog dlg;
    std::vector<int> answers;
    std::vector<std::string> entries;
    uitest::RunModal(dlg, [&] {
        auto* log = static_cast<CListBox*>(dlg.GetDlgItem(IDC_LOG));
        for (const char* text : {"a", "b", "c"}) {
            log->AddString(text);
        }
        answers = {log->DeleteString(0), log->DeleteString(3), log->DeleteString(-1),
                   log->AddString("d")};
        entries = uitest::ListEntries(dlg, IDC_LOG);
    });
    EXPECT_EQ(answers, (std::vector<int>{2, LB_ERR, LB_ERR, 2}));
    EXPECT_EQ(entries, (std::vector<std::string>{"b", "c", "d"}));
}

// A run disables the inputs in this order and gives them back from its own thread; the
// focus, wherever it was (a combo box keeps it in its own field), never stays in a disabled
// control and moves on to one still enabled while there is one, Esc still ends the dialog,
// and once START is back the focus is on it.
TEST(Framework, TheFocusLeavesControlsAsTheyAreDisabledAndComesBackToStart) {
    const int disabled[] = {IDC_GPRS_PORT, IDC_485_PORT, IDOK, IDC_URL};
    for (int tabs = 0; tabs < 4; ++tabs) {  // START, the URL field, the two port lists
        Dialog dlg;
        int focusedAt = -1;
        std::vector<int> badFocus;  // the control whose disabling left the focus astray
        int afterRun = -1;
        bool openAfterEsc = true;
        const INT_PTR result = uitest::RunModal(dlg, [&] {
            for (int i = 0; i < tabs; ++i) {
                uitest::PressKey(dlg, uitest::Key::Tab);
            }
            focusedAt = uitest::FocusedControlId(dlg);
            for (int id : disabled) {
                dlg.GetDlgItem(id)->EnableWindow(FALSE);
                const int focus = uitest::FocusedControlId(dlg);
                const bool oneLeft = id != disabled[3];
                const CWnd* control = focus != 0 ? dlg.GetDlgItem(focus) : nullptr;
                if (control ? !control->IsWindowEnabled() : oneLeft) {
                    badFocus.push_back(id);
                }
            }
            std::thread run([&] {
                for (int id : {IDC_GPRS_PORT, IDOK, IDC_URL, IDC_485_PORT}) {
                    dlg.GetDlgItem(id)->EnableWindow(TRUE);
                }
            });
            PumpMessagesUntil([&] { return dlg.GetDlgItem(IDC_485_PORT)->IsWindowEnabled(); });
            run.join();
            afterRun = uitest::FocusedControlId(dlg);
            // Disabled again: Esc ends the dialog whatever had the focus.
            for (int id : disabled) {
                dlg.GetDlgItem(id)->EnableWindow(FALSE);
            }
            uitest::PressKey(dlg, uitest::Key::Escape);
            uitest::Pump(50);
            openAfterEsc = uitest::IsOpen(dlg);
        });
        EXPECT_NE(focusedAt, 0) << tabs;
        EXPECT_FALSE(openAfterEsc) << tabs;
        EXPECT_TRUE(badFocus.empty()) << tabs << ": after disabling " << badFocus.front();
        EXPECT_EQ(afterRun, IDOK) << tabs;
        EXPECT_EQ(result, IDCANCEL) << tabs;
    }
}

TEST(Framework, EscAndTheCloseBoxEndTheDialogWithCancel) {
    Dialog byEsc;
    EXPECT_EQ(uitest::RunModal(byEsc, [&] { uitest::PressKey(byEsc, uitest::Key::Escape); }),
              IDCANCEL);
    Dialog byBox;
    EXPECT_EQ(uitest::RunModal(byBox, [&] { uitest::ClickCloseBox(byBox); }), IDCANCEL);
    // The framework's own OK ends the dialog; the program's dialog overrides it.
    Dialog byEnter;
    EXPECT_EQ(uitest::RunModal(byEnter, [&] { uitest::PressKey(byEnter, uitest::Key::Enter); }),
              IDOK);
}

}  // namespace
}  // namespace tarvic
