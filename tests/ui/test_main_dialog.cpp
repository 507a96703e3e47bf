// The program's main dialog, run as a person would run it, under the offscreen platform.
#include <gtest/gtest.h>

#include <QFile>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <filesystem>
#include <functional>
#include <thread>

#include "app/tarvic.h"
#include "app/tarvicDlg.h"
#include "platform/ui/qt/backend.h"
#include "tests/ui/ui_driver.h"

namespace {

QWidget* WidgetOf(const CWnd* w) {
    return w ? ui::ToWidget(w->GetSafeHwnd()) : nullptr;
}

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

        QWidget* window = WidgetOf(&dlg);
        EXPECT_EQ(window->windowTitle(), "tarvic GPRS");
        QStringList labels;
        for (QLabel* label : window->findChildren<QLabel*>()) {
            EXPECT_TRUE(label->isVisible());
            labels << label->text();
        }
        labels.sort();
        EXPECT_EQ(labels, (QStringList{"485-й", "url"}));
        const QList<QSize> sizes = window->windowIcon().availableSizes();
        EXPECT_TRUE(sizes.contains(QSize(32, 32)));
        EXPECT_TRUE(sizes.contains(QSize(16, 16)));
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
    // the machine that runs the tests.
    char home[] = "/tmp/tarvic-ui-XXXXXX";
    ASSERT_NE(mkdtemp(home), nullptr);
    std::filesystem::create_directories(std::string(home) + "/tarvic/ports");
    std::filesystem::create_symlink("/nonexistent/tty", std::string(home) + "/tarvic/ports/com1");
    setenv("XDG_CONFIG_HOME", home, 1);
    for (const Case& c : cases) {
        CTarvicDlg dlg;
        bool openAfter = false;
        const INT_PTR result = uitest::RunModal(dlg, [&] {
            // START may answer with a box (no such port here); a person dismisses it.
            QTimer dismiss;
            QObject::connect(&dismiss, &QTimer::timeout, [] { uitest::ClickMessageBoxOk(); });
            dismiss.start(20);
            c.act(dlg);
            uitest::Pump(50);
            openAfter = uitest::IsOpen(dlg);
            if (openAfter) {
                uitest::PressKey(dlg, uitest::Key::Escape);
            }
        });
        EXPECT_EQ(openAfter, !c.ends) << c.name;
        EXPECT_EQ(result, IDCANCEL) << c.name;
    }
    std::filesystem::remove_all(home);
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

TEST(MainDialog, TheIconIsTwoSixteenColourImages) {
    QFile file(":/app/tarvic.ico");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray ico = file.readAll();
    auto u16 = [&](int at) { return quint8(ico[at]) | quint8(ico[at + 1]) << 8; };
    auto u32 = [&](int at) { return quint32(u16(at)) | quint32(u16(at + 2)) << 16; };
    ASSERT_GE(ico.size(), 6 + 2 * 16);
    EXPECT_EQ(u16(2), 1);  // icon
    ASSERT_EQ(u16(4), 2);
    std::vector<int> sizes;
    for (int i = 0; i < 2; ++i) {
        const int entry = 6 + 16 * i;
        sizes.push_back(quint8(ico[entry]));
        EXPECT_EQ(quint8(ico[entry + 2]), 16);  // colours
        EXPECT_EQ(u16(entry + 6), 4);           // bits per pixel
        const quint32 offset = u32(entry + 12);
        ASSERT_LT(offset + 40, quint32(ico.size()));
        EXPECT_EQ(u16(offset + 14), 4);  // the image's own header agrees
    }
    EXPECT_EQ(sizes, (std::vector<int>{32, 16}));
    const ui::IconData* icon = ui::LoadAppIcon(IDR_MAINFRAME);
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon->large.size(), QSize(32, 32));
    EXPECT_EQ(icon->small.size(), QSize(16, 16));
}

// True when every opaque pixel of the icon is on the image at (x, y).
bool IconAt(const QImage& image, const QImage& icon, int x, int y) {
    int compared = 0;
    for (int j = 0; j < icon.height(); ++j) {
        for (int i = 0; i < icon.width(); ++i) {
            const QRgb p = icon.pixel(i, j);
            if (qAlpha(p) != 255 || !image.rect().contains(x + i, y + j)) {
                continue;
            }
            ++compared;
            if ((image.pixel(x + i, y + j) & 0xFFFFFF) != (p & 0xFFFFFF)) {
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
    const QImage icon = ui::LoadAppIcon(IDR_MAINFRAME)->large;
    for (const Case& c : cases) {
        CTarvicDlg dlg;
        QImage shown;
        QImage normal;
        uitest::RunModal(dlg, [&] {
            QWidget* window = WidgetOf(&dlg);
            window->setFixedSize(c.width, c.height);
            // The dialog's own painting, without the controls on top of it.
            auto paint = [&] {
                QImage image(window->size(), QImage::Format_ARGB32);
                image.fill(Qt::black);
                window->render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
                return image;
            };
            normal = paint();
            window->showMinimized();
            ASSERT_TRUE(uitest::WaitUntil([&] { return dlg.IsIconic() == TRUE; }));
            shown = paint();
        });
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        EXPECT_TRUE(IconAt(shown, icon, c.x, c.y));
        EXPECT_FALSE(IconAt(shown, icon, c.x - 1, c.y));
        EXPECT_FALSE(IconAt(shown, icon, c.x, c.y - 1));
        EXPECT_FALSE(IconAt(normal, icon, c.x, c.y));  // not minimised: no icon painted
    }
}

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
