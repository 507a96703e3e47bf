// Whole check runs: the real dialog driven as a person would (offscreen), against the bench
// simulator on pseudo-terminals, with real web servers on the loopback.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/tarvicDlg.h"
#include "platform/posix/seam.h"
#include "platform/ui/test_driver.h"
#include "sim/sim.h"
#include "tests/support/posix/web_server.h"
#include "tests/support/temp_dir.h"
#include "tests/support/transcript_line.h"

namespace tarvic {
namespace {

using namespace std::chrono_literals;
using tarvic::test::SetEnv;
using tarvic::test::TempDir;
using tarvic::test::UnusedLoopbackPort;
using tarvic::test::WebServer;
using Clock = std::chrono::steady_clock;

constexpr int kModemCom = 1;
constexpr int k485Com = 4;

const char kGprsPassed[] = "GPRS проверен";
const char kGprsFailed[] = "Нет связи GPRS";
const char k485Passed[] = "485 проверен";
const char k485Failed[] = "Нет связи 485";
const char kOpenFailed[] = "Не удается открыть COM порт";
const char kRequest[] = "GET / HTTP/1.0\r\nHost: example.com\r\n\r\n";

double SecondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

int CountEntries(const std::vector<std::string>& entries, const std::string& entry) {
    return int(std::count(entries.begin(), entries.end(), entry));
}

bool HasPrefix(const std::vector<std::string>& entries, const std::string& prefix) {
    return std::any_of(entries.begin(), entries.end(),
                       [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
}

bool HasLineWith(const std::vector<std::string>& lines, const std::string& text) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

bool AllInputsEnabled(CWnd& dlg) {
    for (int id : {IDOK, IDC_URL, IDC_GPRS_PORT, IDC_485_PORT}) {
        if (!dlg.GetDlgItem(id)->IsWindowEnabled()) {
            return false;
        }
    }
    return true;
}

class CheckRun : public ::testing::Test {
  protected:
    void SetUp() override {
        m_home = std::make_unique<TempDir>("tarvic-e2e");
        SetEnv("XDG_CONFIG_HOME", m_home->Path());
        SetEnv("XDG_STATE_HOME", m_home->Path() + "/state");
        m_bench = std::make_unique<sim::Bench>(m_home->Path());
    }
    void TearDown() override {
        m_bench.reset();
        m_home.reset();
    }

    // A modem whose data connections go to the given web server, and the RS-485 device.
    void StartBench(sim::ModemOptions modem, sim::Rs485Options rs485 = {}) {
        m_bench->AddModem(kModemCom, std::move(modem));
        m_bench->AddRs485(k485Com, rs485);
        m_bench->Start();
    }
    static sim::ModemOptions Via(const WebServer& web) {
        sim::ModemOptions o;
        o.web = sim::Web::Address;
        o.webAddress = web.Address();
        return o;
    }

    // Waits for the box, checks it and dismisses it with OK.
    static void ExpectBox(const std::string& text, bool success, int timeoutMs = 15000) {
        auto box = uitest::WaitForMessageBox(timeoutMs);
        ASSERT_TRUE(box) << "no box with \"" << text << '"';
        EXPECT_EQ(box->text, text);
        EXPECT_EQ(box->caption, success ? "OK" : "ERROR");
        EXPECT_EQ(box->icon, success ? uitest::BoxIcon::Information : uitest::BoxIcon::Error);
        EXPECT_TRUE(uitest::ClickMessageBoxOk());
    }

    // START, then both checks pass: each box is checked and dismissed.
    static void RunPassingChecks(CWnd& dlg) {
        uitest::Click(dlg, IDOK);
        ExpectBox(kGprsPassed, true);
        ExpectBox(k485Passed, true);
    }

    // START's own failure box is modal on the UI thread and holds the click until dismissed.
    static void ExpectStartFailure(CWnd& dlg, const std::string& text) {
        auto box = uitest::ClickAndDismissBox(dlg, IDOK);
        ASSERT_TRUE(box) << "no box with \"" << text << '"';
        EXPECT_EQ(box->text, text);
        EXPECT_EQ(box->caption, "ERROR");
        EXPECT_EQ(box->icon, uitest::BoxIcon::Error);
        EXPECT_TRUE(box->modal);
    }

    std::string RunsFolder() const { return m_home->Path() + "/state/tarvic/runs"; }
    // The lines of each transcript, oldest run first.
    std::vector<std::vector<std::string>> Transcripts() const {
        std::vector<std::string> names;
        if (std::filesystem::is_directory(RunsFolder())) {
            for (const auto& e : std::filesystem::directory_iterator(RunsFolder())) {
                names.push_back(e.path().string());
            }
        }
        std::sort(names.begin(), names.end());
        std::vector<std::vector<std::string>> files;
        for (const std::string& name : names) {
            std::ifstream in(name);
            files.emplace_back();
            for (std::string line; std::getline(in, line);) {
                files.back().push_back(line);
            }
        }
        return files;
    }

    std::unique_ptr<TempDir> m_home;
    std::unique_ptr<sim::Bench> m_bench;
};

// The script runs on the UI thread: every wait in it must keep serving the dialog (the check
// thread's control calls wait for it), so it waits with uitest::WaitUntil only.

// --- GPRS check ---------------------------------------------------------------------------

class GprsAgainstWebServer : public CheckRun,
                             public ::testing::WithParamInterface<WebServer::Kind> {};

TEST_P(GprsAgainstWebServer, PassesAndTheWholeRunEnds) {
    WebServer web(GetParam());
    ASSERT_TRUE(web.Running()) << web.Error();
    StartBench(Via(web));
    auto owned = std::make_unique<CTarvicDlg>();
    CTarvicDlg& dlg = *owned;
    std::vector<std::string> log;
    uitest::RunModal(dlg, [&] {
        RunPassingChecks(dlg);
        ASSERT_TRUE(uitest::WaitUntil([&] { return AllInputsEnabled(dlg); }));
        log = uitest::ListEntries(dlg, IDC_LOG);
        EXPECT_FALSE(dlg.GetDlgItem(IDC_LOG)->IsWindowVisible());
    });
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "Tread OK");
    EXPECT_EQ(CountEntries(log, "its OK"), 1);
    EXPECT_EQ(CountEntries(log, "exit"), 1);
    EXPECT_EQ(CountEntries(log, "get 10"), 1);
    EXPECT_EQ(CountEntries(log, "> GET / HTTP/1.0\\r\\nHost: example.com\\r\\n\\r\\n"), 1);
    const std::string status = WebServer::StatusLine(GetParam());
    EXPECT_EQ(CountEntries(log, status), 1);
    EXPECT_EQ(CountEntries(log, "OK: GPRS проверен"), 1);
    EXPECT_EQ(log.back(), "OK: 485 проверен");
    // The transcript: the run's settings first, every entry, then the boxes and the end.
    owned.reset();  // everything is written
    const auto files = Transcripts();
    ASSERT_EQ(files.size(), 1u);
    const auto& t = files[0];
    ASSERT_GE(t.size(), log.size() + 8);
    EXPECT_EQ(t[0], "tarvic 1.0.0.1");
    EXPECT_TRUE(HasLineWith(t, "GPRS modem: COM1 ("));
    EXPECT_TRUE(HasLineWith(t, "RS-485: COM4 ("));
    EXPECT_TRUE(HasLineWith(t, "host: example.com"));
    EXPECT_TRUE(HasLineWith(t, "  > AT#SD=1,0,80,example.com\\r\\n"));
    EXPECT_TRUE(HasLineWith(t, "  " + status));
    EXPECT_EQ(t[t.size() - 3], "box: OK \"GPRS проверен\"");
    EXPECT_EQ(t[t.size() - 2], "box: OK \"485 проверен\"");
    EXPECT_EQ(t.back().rfind("end: the run is over, ", 0), 0u) << t.back();
    EXPECT_EQ(m_bench->ModemCommands(),
              (std::vector<std::string>{"AT", "ATZ", "ATE0", "AT+CGDCONT=1,\"IP\",\"internet\"",
                                        "AT#SGACT?", "AT#SGACT=1,1", "AT#SD=1,0,80,example.com"}));
    EXPECT_NE(m_bench->ModemReceived().find(kRequest), std::string::npos);
    const std::vector<uint8_t> pattern = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    EXPECT_EQ(m_bench->Rs485Received(), pattern);
}

INSTANTIATE_TEST_SUITE_P(Servers, GprsAgainstWebServer,
                         ::testing::Values(WebServer::Kind::Nginx, WebServer::Kind::Lighttpd,
                                           WebServer::Kind::PythonHttpServer,
                                           WebServer::Kind::BusyboxHttpd),
                         [](const auto& info) { return std::string(WebServer::Name(info.param)); });

TEST_F(CheckRun, BadHostIsRefusedAndARedirectPasses) {
    WebServer web(WebServer::Kind::Nginx, true);
    ASSERT_TRUE(web.Running()) << web.Error();
    StartBench(Via(web));
    CTarvicDlg dlg;
    std::vector<std::string> log;
    uitest::RunModal(dlg, [&] {
        uitest::TypeText(dlg, IDC_URL, "  example.com/moved");
        // A path is no host: refused before the port is touched.
        ExpectStartFailure(dlg, "Неверный адрес сервера");
        EXPECT_TRUE(m_bench->ModemReceived().empty());
        EXPECT_TRUE(AllInputsEnabled(dlg));
        uitest::TypeText(dlg, IDC_URL, " example.com ");
        RunPassingChecks(dlg);
        log = uitest::ListEntries(dlg, IDC_LOG);
    });
    EXPECT_EQ(CountEntries(log, "Tread OK"), 1);
    EXPECT_EQ(CountEntries(log, "HTTP/1.1 302 Moved Temporarily"), 1);
    EXPECT_EQ(m_bench->ModemDials().size(), 1u);
    EXPECT_EQ(m_bench->ModemDials().at(0).host, "example.com");
}

TEST_F(CheckRun, SilentModemFailsAfterTwentyOneReadsAndTheRs485CheckStillRuns) {
    sim::ModemOptions modem;
    modem.silent = true;
    StartBench(modem);
    auto owned = std::make_unique<CTarvicDlg>();
    CTarvicDlg& dlg = *owned;
    double gprsSeconds = 0;
    std::vector<std::string> log;
    uitest::RunModal(
        dlg,
        [&] {
            const auto start = Clock::now();
            uitest::Click(dlg, IDOK);
            // The technician looks at the log while the check waits for the modem.
            uitest::Pump(200);
            uitest::PressKey(dlg, uitest::Key::CtrlL);
            EXPECT_TRUE(dlg.GetDlgItem(IDC_LOG)->IsWindowVisible());
            auto box = uitest::WaitForMessageBox(30000);
            gprsSeconds = SecondsSince(start);
            ASSERT_TRUE(box);
            EXPECT_EQ(box->text, kGprsFailed);
            EXPECT_TRUE(uitest::ClickMessageBoxOk());
            ExpectBox(k485Passed, true);
            log = uitest::ListEntries(dlg, IDC_LOG);
            // Between runs it hides again.
            ASSERT_TRUE(uitest::WaitUntil([&] { return AllInputsEnabled(dlg); }));
            EXPECT_EQ(uitest::VisibleListEntries(dlg, IDC_LOG).second, int(log.size()) - 1);
            uitest::PressKey(dlg, uitest::Key::CtrlL);
            EXPECT_FALSE(dlg.GetDlgItem(IDC_LOG)->IsWindowVisible());
        },
        60000);
    // 21 reads of 1000 ms each, nothing more.
    EXPECT_GE(gprsSeconds, 20.5);
    EXPECT_LT(gprsSeconds, 25.0);
    EXPECT_EQ(log, (std::vector<std::string>{"Tread OK", "> AT\\r\\n", "ERROR: Нет связи GPRS",
                                             "get 10", "OK: 485 проверен"}));
    // The transcript shows where it failed: the first command, then nothing until the box.
    owned.reset();  // everything is written
    const auto files = Transcripts();
    ASSERT_EQ(files.size(), 1u);
    const auto& t = files[0];
    ASSERT_GE(t.size(), 5u);
    EXPECT_NE(t[t.size() - 7].find("  > AT\\r\\n"), std::string::npos) << t[t.size() - 7];
    EXPECT_NE(t[t.size() - 6].find("  ERROR: Нет связи GPRS"), std::string::npos);
    EXPECT_EQ(t[t.size() - 3], "box: ERROR \"Нет связи GPRS\"");
}

TEST_F(CheckRun, ErrorOnActivationIsRetriedAfterTenSeconds) {
    sim::ModemOptions modem;
    modem.web = sim::Web::Builtin;
    modem.errors = {{"AT#SGACT=1,1", 1}};
    StartBench(modem);
    CTarvicDlg dlg;
    double seconds = 0;
    uitest::RunModal(
        dlg,
        [&] {
            const auto start = Clock::now();
            uitest::Click(dlg, IDOK);
            ExpectBox(kGprsPassed, true, 30000);
            seconds = SecondsSince(start);
            ExpectBox(k485Passed, true);
        },
        60000);
    EXPECT_GE(seconds, 10.0);
    const auto commands = m_bench->ModemCommands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "AT#SGACT=1,1"), 2);
}

TEST_F(CheckRun, RefusedConnectionRedialsUntilTheServerAnswers) {
    WebServer web(WebServer::Kind::Nginx);
    ASSERT_TRUE(web.Running()) << web.Error();
    sim::ModemOptions refused;
    refused.web = sim::Web::Address;
    refused.webAddress = "127.0.0.1:" + std::to_string(UnusedLoopbackPort());
    StartBench(refused);
    CTarvicDlg dlg;
    uitest::RunModal(dlg, [&] {
        uitest::Click(dlg, IDOK);
        ASSERT_TRUE(uitest::WaitUntil([&] { return m_bench->ModemDials().size() >= 2; }, 15000));
        m_bench->SetModemOptions(kModemCom, Via(web));
        ExpectBox(kGprsPassed, true);
        ExpectBox(k485Passed, true);
    });
    EXPECT_GE(m_bench->ModemDials().size(), 3u);
}

TEST_F(CheckRun, StartDuringARunDoesNothing) {
    sim::Rs485Options silent485;
    silent485.reply = sim::Rs485Reply::Silent;
    StartBench({}, silent485);
    CTarvicDlg dlg;
    std::vector<std::string> log;
    uitest::RunModal(dlg, [&] {
        uitest::Click(dlg, IDOK);
        uitest::Pump(300);
        uitest::PressKey(dlg, uitest::Key::Enter);  // START is disabled now
        auto box = uitest::WaitForMessageBox(15000);
        ASSERT_TRUE(box);
        EXPECT_EQ(box->text, kGprsPassed);
        uitest::Click(dlg, IDOK);  // while the box is up
        EXPECT_TRUE(uitest::ClickMessageBoxOk());
        // The RS-485 check waits for its reply; START is shown enabled but does nothing.
        ASSERT_TRUE(uitest::WaitUntil([&] { return dlg.GetDlgItem(IDOK)->IsWindowEnabled(); }));
        uitest::Click(dlg, IDOK);
        ExpectBox(k485Failed, false, 10000);
        log = uitest::ListEntries(dlg, IDC_LOG);
    });
    EXPECT_EQ(CountEntries(log, "Tread OK"), 1);
    EXPECT_EQ(CountEntries(m_bench->ModemCommands(), "AT"), 1);
}

TEST_F(CheckRun, MissingModemPortKeepsTheInputsEnabled) {
    StartBench({});
    auto owned = std::make_unique<CTarvicDlg>();
    CTarvicDlg& dlg = *owned;
    uitest::RunModal(dlg, [&] {
        uitest::SelectComboEntry(dlg, IDC_GPRS_PORT, 5);  // COM6: nothing there
        ExpectStartFailure(dlg, kOpenFailed);
        EXPECT_TRUE(AllInputsEnabled(dlg));
        // The port, the device it stands for and why it could not be opened; then the box.
        const auto log = uitest::ListEntries(dlg, IDC_LOG);
        ASSERT_EQ(log.size(), 2u);
        EXPECT_EQ(log[0], "COM6 (/dev/ttyS5): No such file or directory");
        EXPECT_EQ(log[1], std::string("ERROR: ") + kOpenFailed);
        // START works again at once.
        uitest::SelectComboEntry(dlg, IDC_GPRS_PORT, 0);
        RunPassingChecks(dlg);
    });
    owned.reset();  // everything is written
    const auto files = Transcripts();
    ASSERT_EQ(files.size(), 2u);
    const auto& t = files[0];
    EXPECT_TRUE(HasLineWith(t, "GPRS modem: COM6 (/dev/ttyS5)"));
    EXPECT_TRUE(HasLineWith(t, "  COM6 (/dev/ttyS5): No such file or directory"));
    EXPECT_EQ(t[t.size() - 2], std::string("box: ERROR \"") + kOpenFailed + "\"");
    EXPECT_EQ(t.back().rfind("end: the GPRS port could not be opened", 0), 0u) << t.back();
    EXPECT_EQ(files[1].back().rfind("end: the run is over", 0), 0u) << files[1].back();
}

// The modem refuses the context activation again and again; the technician gives up and
// closes the window. The transcript shows the refused command and how the run ended.
TEST_F(CheckRun, ATranscriptShowsTheRefusedActivationOfARunEndedByClosingTheWindow) {
    sim::ModemOptions modem;
    modem.errors = {{"AT#SGACT=1,1", 100}};
    StartBench(modem);
    auto dlg = std::make_unique<CTarvicDlg>();
    uitest::RunModal(*dlg, [&] {
        uitest::Click(*dlg, IDOK);
        ASSERT_TRUE(uitest::WaitUntil(
            [&] { return CountEntries(uitest::ListEntries(*dlg, IDC_LOG), "ERROR") == 1; }, 15000));
        uitest::ClickCloseBox(*dlg);
    });
    dlg.reset();
    const auto files = Transcripts();
    ASSERT_EQ(files.size(), 1u);
    const auto& t = files[0];
    const auto refused = std::find_if(t.begin(), t.end(), [](const std::string& l) {
        return l.find("  > AT#SGACT=1,1\\r\\n") != std::string::npos;
    });
    ASSERT_NE(refused, t.end());
    ASSERT_NE(refused + 1, t.end());
    EXPECT_TRUE(tarvic::test::IsTranscriptEntry(*(refused + 1), "ERROR")) << *(refused + 1);
    EXPECT_FALSE(HasLineWith(t, "box: "));
    EXPECT_EQ(t.back().rfind("end: the window was closed during the run, ", 0), 0u) << t.back();
}

TEST_F(CheckRun, TheThirtyFirstRunRemovesTheOldestTranscriptAndNothingElse) {
    std::filesystem::create_directories(RunsFolder());
    for (int i = 0; i < 30; ++i) {
        char name[40];
        std::snprintf(name, sizeof name, "/2020-01-01_00-00-%02d.txt", i);
        std::ofstream(RunsFolder() + name) << "an earlier run\n";
    }
    std::ofstream(RunsFolder() + "/notes.txt") << "the technician's own file\n";
    StartBench({});
    {
        CTarvicDlg dlg;
        uitest::RunModal(dlg, [&] { RunPassingChecks(dlg); });
    }
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(RunsFolder())) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    ASSERT_EQ(names.size(), 31u);
    EXPECT_EQ(names.front(), "2020-01-01_00-00-01.txt");
    EXPECT_EQ(names.back(), "notes.txt");
    EXPECT_EQ(names[29].rfind("20", 0), 0u);
    EXPECT_NE(names[29].rfind("2020-", 0), 0u) << names[29];  // this run's
}

// A state folder that cannot be made: the checks and their boxes are as always, and the log
// says once why no transcript is written.
TEST_F(CheckRun, AStateFolderThatCannotBeMadeChangesNoCheckAndIsSaidOnce) {
    std::ofstream(m_home->Path() + "/state") << "a plain file where the folder would be\n";
    StartBench({});
    CTarvicDlg dlg;
    std::vector<std::string> log;
    uitest::RunModal(dlg, [&] {
        for (int run = 0; run < 2; ++run) {
            RunPassingChecks(dlg);
            ASSERT_TRUE(uitest::WaitUntil([&] { return AllInputsEnabled(dlg); }));
            uitest::Pump(100);
        }
        log = uitest::ListEntries(dlg, IDC_LOG);
    });
    EXPECT_EQ(CountEntries(log, "Tread OK"), 2);
    EXPECT_EQ(CountEntries(log, "OK: 485 проверен"), 2);
    EXPECT_EQ(std::count_if(
                  log.begin(), log.end(),
                  [](const std::string& e) { return e.rfind("no transcript written: ", 0) == 0; }),
              1);
    EXPECT_TRUE(std::filesystem::is_regular_file(m_home->Path() + "/state"));
}

// Closing the window ends the run at once, in whatever wait it is, and leaves the port free.
struct CloseCase {
    enum class Wait { ModemRead, Box, Rs485Read };
    const char* name;
    sim::ModemOptions modem;
    Wait wait;
};

void PrintTo(const CloseCase& c, std::ostream* os) {
    *os << c.name;
}

class CloseDuringRun : public CheckRun, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(CloseDuringRun, EndsPromptlyAndReleasesThePort) {
    const CloseCase::Wait wait = GetParam().wait;
    sim::Rs485Options rs485;
    if (wait == CloseCase::Wait::Rs485Read) {
        rs485.reply = sim::Rs485Reply::Silent;  // the check waits its 5 s for the reply
    }
    StartBench(GetParam().modem, rs485);
    auto dlg = std::make_unique<CTarvicDlg>();
    double closeSeconds = 0;
    uitest::RunModal(*dlg, [&] {
        uitest::Click(*dlg, IDOK);
        if (wait == CloseCase::Wait::Box) {
            ASSERT_TRUE(uitest::WaitForMessageBox(15000));
        } else if (wait == CloseCase::Wait::Rs485Read) {
            ExpectBox(kGprsPassed, true);
            ASSERT_TRUE(uitest::WaitUntil([&] { return m_bench->Rs485Received().size() == 10; }));
            uitest::Pump(300);
        } else {
            ASSERT_TRUE(uitest::WaitUntil(
                [&] { return m_bench->ModemReceived().find("AT\r\n") != std::string::npos; }));
            uitest::Pump(1500);
        }
        const auto start = Clock::now();
        uitest::ClickCloseBox(*dlg);
        ASSERT_TRUE(uitest::WaitUntil([&] { return !uitest::IsOpen(*dlg); }, 3000));
        closeSeconds = SecondsSince(start);
    });
    EXPECT_LT(closeSeconds, 1.0);
    EXPECT_TRUE(uitest::OpenMessageBoxes().empty());
    dlg.reset();
    // The port is free again: a new port object opens it.
    CComPort port;
    port.SetPortNumber(kModemCom);
    EXPECT_TRUE(port.Open());
    EXPECT_EQ(m_bench->Rs485Received().empty(), wait != CloseCase::Wait::Rs485Read);
}

INSTANTIATE_TEST_SUITE_P(
    Waits, CloseDuringRun,
    ::testing::Values(
        CloseCase{"WhileReading", {.silent = true}, CloseCase::Wait::ModemRead},
        CloseCase{"DuringTheErrorPause", {.errors = {{"AT", 100}}}, CloseCase::Wait::ModemRead},
        CloseCase{"WhileTheOutcomeBoxIsUp", {}, CloseCase::Wait::Box},
        CloseCase{"DuringTheRs485Read", {}, CloseCase::Wait::Rs485Read}),
    [](const auto& info) { return std::string(info.param.name); });

// START that comes while the window closes: the close has ended the run during the RS-485
// check, whose thread then clears the busy flag (the GPRS port was closed), and the window
// still serves messages before it goes. That START must not open the modem's port again.
class StartPressedWhileClosing : public CTarvicDlg {
  public:
    void OnCancel() override {
        CTarvicDlg::OnCancel();
        CTarvicDlg::OnOK();
    }
};

TEST_F(CheckRun, StartPressedWhileTheWindowClosesStartsNothing) {
    sim::Rs485Options rs485;
    rs485.reply = sim::Rs485Reply::Silent;
    StartBench({}, rs485);
    auto dlg = std::make_unique<StartPressedWhileClosing>();
    uitest::RunModal(*dlg, [&] {
        uitest::Click(*dlg, IDOK);
        ExpectBox(kGprsPassed, true);
        ASSERT_TRUE(uitest::WaitUntil([&] { return m_bench->Rs485Received().size() == 10; }));
        uitest::ClickCloseBox(*dlg);
        ASSERT_TRUE(uitest::WaitUntil([&] { return !uitest::IsOpen(*dlg); }, 3000));
    });
    dlg.reset();
    // A new run would have sent its first command by now.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(CountEntries(m_bench->ModemCommands(), "AT"), 1);
}

std::atomic<int> g_threadsCreated{0};
HANDLE FailSecondThread(LPSECURITY_ATTRIBUTES sa, size_t stack, LPTHREAD_START_ROUTINE proc,
                        LPVOID param, DWORD flags, LPDWORD id) {
    if (++g_threadsCreated == 2) {
        return nullptr;
    }
    return tarvic::posix::RealOps().CreateThread(sa, stack, proc, param, flags, id);
}

TEST_F(CheckRun, CheckThreadThatCannotStartPutsEverythingBack) {
    StartBench({});
    CTarvicDlg dlg;
    uitest::RunModal(dlg, [&] {
        tarvic::posix::Ops ops = tarvic::posix::RealOps();
        ops.CreateThread = FailSecondThread;  // the port's reader starts, the check does not
        {
            tarvic::posix::ScopedOps scoped(ops);
            ExpectStartFailure(dlg, "Не удается запустить проверку");
        }
        EXPECT_TRUE(AllInputsEnabled(dlg));
        EXPECT_EQ(uitest::ListEntries(dlg, IDC_LOG),
                  (std::vector<std::string>{"ERROR: Не удается запустить проверку"}));
        RunPassingChecks(dlg);
    });
    EXPECT_EQ(g_threadsCreated, 2);
}

// --- Hostile answers -----------------------------------------------------------------------

sim::ModemOptions Answer(std::string status, std::string body) {
    sim::ModemOptions o;
    o.web = sim::Web::Builtin;
    o.builtinStatus = std::move(status);
    o.builtinBody = std::move(body);
    return o;
}

// What the web host sends is its answer, not modem talk: a status line in a body is no
// status, also after a body line that reads like the modem's hang-up, and result codes in a
// body command nothing.
struct BodyCase {
    const char* name;
    const char* body;
};

void PrintTo(const BodyCase& c, std::ostream* os) {
    *os << c.name;
}

class NotFoundAnswer : public CheckRun, public ::testing::WithParamInterface<BodyCase> {};

TEST_P(NotFoundAnswer, WithASuccessLineInItsBodyIsNoSuccess) {
    StartBench(Answer("HTTP/1.1 404 Not Found", GetParam().body));
    CTarvicDlg dlg;
    std::vector<std::string> log;
    bool boxCame = true;
    uitest::RunModal(dlg, [&] {
        uitest::Click(dlg, IDOK);
        // Each NO CARRIER without a success status redials at once.
        ASSERT_TRUE(uitest::WaitUntil([&] { return m_bench->ModemDials().size() >= 3; }, 15000));
        boxCame = !uitest::OpenMessageBoxes().empty();
        log = uitest::ListEntries(dlg, IDC_LOG);
    });
    EXPECT_FALSE(boxCame);
    EXPECT_EQ(CountEntries(log, "its OK"), 0);
    // The success line was received, and taken for no status.
    EXPECT_GE(CountEntries(log, "HTTP/1.1 200 OK"), 1);
}

const BodyCase kBodyCases[] = {
    {"SuccessLine", "HTTP/1.1 200 OK\r\n"},
    {"NoCarrierThenSuccessLine", "NO CARRIER\r\nHTTP/1.1 200 OK\r\n"},
};

INSTANTIATE_TEST_SUITE_P(Bodies, NotFoundAnswer, ::testing::ValuesIn(kBodyCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CheckRun, ResultCodesInTheBodyAreOnlyLogged) {
    StartBench(Answer("HTTP/1.1 200 OK", "OK\r\nERROR\r\nCONNECT\r\n"));
    CTarvicDlg dlg;
    double seconds = 0;
    uitest::RunModal(dlg, [&] {
        const auto start = Clock::now();
        uitest::Click(dlg, IDOK);
        ExpectBox(kGprsPassed, true);
        seconds = SecondsSince(start);
        ExpectBox(k485Passed, true);
    });
    EXPECT_LT(seconds, 8.0);  // no ERROR pause
    const std::string received = m_bench->ModemReceived();
    EXPECT_EQ(CountEntries(m_bench->ModemCommands(), "AT"), 1);
    size_t gets = 0;
    for (size_t at = received.find("GET "); at != std::string::npos;
         at = received.find("GET ", at + 1)) {
        ++gets;
    }
    EXPECT_EQ(gets, 1u);
}

// A modem with several contexts: only context 1 is the script's.
struct ContextCase {
    const char* name;
    bool contextOneActive;
    std::vector<bool> others;
    bool activates;
};

void PrintTo(const ContextCase& c, std::ostream* os) {
    *os << c.name;
}

class MultiContextModem : public CheckRun, public ::testing::WithParamInterface<ContextCase> {};

TEST_P(MultiContextModem, IsDialledOnContextOne) {
    sim::ModemOptions modem;
    modem.contextActive = GetParam().contextOneActive;
    modem.otherContexts = GetParam().others;
    StartBench(modem);
    CTarvicDlg dlg;
    uitest::RunModal(dlg, [&] { RunPassingChecks(dlg); });
    std::vector<std::string> expected = {"AT", "ATZ", "ATE0", "AT+CGDCONT=1,\"IP\",\"internet\"",
                                         "AT#SGACT?"};
    if (GetParam().activates) {
        expected.push_back("AT#SGACT=1,1");
    }
    expected.push_back("AT#SD=1,0,80,example.com");
    EXPECT_EQ(m_bench->ModemCommands(), expected);
}

INSTANTIATE_TEST_SUITE_P(Contexts, MultiContextModem,
                         ::testing::Values(ContextCase{"SecondUpFirstDown", false, {true}, true},
                                           ContextCase{"BothUp", true, {true}, false},
                                           ContextCase{
                                               "ThreeOnlyFirstUp", true, {false, false}, false},
                                           ContextCase{"ThreeOthersUp", false, {true, true}, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// The modem hangs up in a burst of its own while the check is still busy with the answer
// (here the window is busy and the check waits to log): the NO CARRIER is read all the same.
TEST_F(CheckRun, ANoCarrierThatCameWhileTheCheckWasBusyIsRead) {
    sim::ModemOptions modem;
    modem.hangupPause = std::chrono::milliseconds(600);
    StartBench(modem);
    CTarvicDlg dlg;
    double seconds = 0;
    uitest::RunModal(
        dlg,
        [&] {
            const auto start = Clock::now();
            uitest::Click(dlg, IDOK);
            ASSERT_TRUE(uitest::WaitUntil(
                [&] { return m_bench->ModemSent().find("HTTP/1.1 200 OK") != std::string::npos; },
                15000));
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            ExpectBox(kGprsPassed, true, 30000);
            seconds = SecondsSince(start);
            ExpectBox(k485Passed, true);
        },
        60000);
    EXPECT_LT(seconds, 10.0);
}

// A context report while the activation is pending makes the dial row current before the
// modem refuses the activation: what is repeated after the pause is the whole dial command.
TEST_F(CheckRun, TheDialRowAlwaysSendsTheWholeDialCommand) {
    sim::ModemOptions modem;
    modem.contextComesUp = true;
    StartBench(modem);
    CTarvicDlg dlg;
    uitest::RunModal(
        dlg,
        [&] {
            uitest::Click(dlg, IDOK);
            ExpectBox(kGprsPassed, true, 30000);
            ExpectBox(k485Passed, true);
        },
        60000);
    const auto commands = m_bench->ModemCommands();
    EXPECT_EQ(CountEntries(commands, "AT#SD=1,0,80,example.com"), 1);
    EXPECT_EQ(m_bench->ModemReceived().find("AT#SD\r"), std::string::npos);
    EXPECT_EQ(m_bench->ModemReceived().find("AT#SDAT"), std::string::npos);
}

// A check that runs long against a host that talks a lot cannot fill the memory: the hidden
// log keeps its newest entries only.
TEST_F(CheckRun, TheLogKeepsItsNewestEntries) {
    std::string body;
    for (int i = 0; i < 2000; ++i) {
        body += "ab\r\n";  // the answer fits one read of the check
    }
    StartBench(Answer("HTTP/1.1 404 Not Found", body));
    CTarvicDlg dlg;
    std::vector<std::string> log;
    uitest::RunModal(
        dlg,
        [&] {
            uitest::Click(dlg, IDOK);
            // Every answer adds more than 2000 entries, and is followed by a new dial.
            ASSERT_TRUE(
                uitest::WaitUntil([&] { return m_bench->ModemDials().size() >= 7; }, 60000));
            m_bench->SetModemOptions(kModemCom, Answer("HTTP/1.1 200 OK", "last\r\n"));
            ExpectBox(kGprsPassed, true, 30000);
            ExpectBox(k485Passed, true);
            ASSERT_TRUE(uitest::WaitUntil([&] { return AllInputsEnabled(dlg); }));
            log = uitest::ListEntries(dlg, IDC_LOG);
        },
        90000);
    ASSERT_EQ(log.size(), size_t(CTarvicDlg::kMaxLogEntries));
    EXPECT_EQ(CountEntries(log, "Tread OK"), 0);
    EXPECT_EQ(CountEntries(log, "AT\r\n"), 0);
    EXPECT_EQ(log.back(), "OK: 485 проверен");
    EXPECT_EQ(log[log.size() - 2], "get 10");
    EXPECT_EQ(log[log.size() - 3], "OK: GPRS проверен");
    EXPECT_EQ(log[log.size() - 4], "exit");
    EXPECT_EQ(log[log.size() - 5], "NO CARRIER");
    EXPECT_EQ(log[log.size() - 6], "last");
}

// Typed text is never read: Enter in a port list whose field holds the name of a port with a
// modem starts a run with no port selected, which cannot open its port.
TEST_F(CheckRun, APortNameTypedAndEnterOpensNoPort) {
    m_bench->AddModem(3, {});
    StartBench({});
    CTarvicDlg dlg;
    std::optional<uitest::MessageBoxInfo> box;
    int selection = -2;
    uitest::RunModal(dlg, [&] {
        uitest::TypeText(dlg, IDC_GPRS_PORT, "COM3");
        // START's box is modal on this thread and holds the key until it is dismissed.
        uitest::Soon([&] {
            box = uitest::WaitForMessageBox(15000);
            if (box) {
                uitest::ClickMessageBoxOk();
            }
        });
        uitest::PressKey(dlg, uitest::Key::Enter);
        uitest::WaitUntil([&] { return box.has_value(); }, 15000);
        selection = static_cast<CComboBox*>(dlg.GetDlgItem(IDC_GPRS_PORT))->GetCurSel();
    });
    ASSERT_TRUE(box);
    EXPECT_EQ(box->text, kOpenFailed);
    EXPECT_EQ(selection, CB_ERR);
    EXPECT_TRUE(m_bench->ModemReceived(3).empty());
    EXPECT_TRUE(m_bench->ModemReceived(kModemCom).empty());
}

// --- RS-485 check -------------------------------------------------------------------------

struct Rs485Case {
    const char* name;
    sim::Rs485Options device;
    const char* getEntry;  // nullptr: no "get" entry at all
};

void PrintTo(const Rs485Case& c, std::ostream* os) {
    *os << c.name;
}

class Rs485Device : public CheckRun, public ::testing::WithParamInterface<Rs485Case> {};

TEST_P(Rs485Device, FailsWithTheCountInTheLog) {
    sim::ModemOptions modem;
    StartBench(modem, GetParam().device);
    CTarvicDlg dlg;
    std::vector<std::string> log;
    double seconds = 0;
    uitest::RunModal(dlg, [&] {
        uitest::Click(dlg, IDOK);
        ExpectBox(kGprsPassed, true);
        const auto start = Clock::now();
        ExpectBox(k485Failed, false, 10000);
        seconds = SecondsSince(start);
        ASSERT_TRUE(uitest::WaitUntil([&] { return AllInputsEnabled(dlg); }));
        log = uitest::ListEntries(dlg, IDC_LOG);
    });
    if (GetParam().getEntry == nullptr) {
        EXPECT_FALSE(HasPrefix(log, "get "));
        EXPECT_GE(seconds, 4.9);  // the whole reply time-out
    } else {
        EXPECT_EQ(CountEntries(log, GetParam().getEntry), 1);
        EXPECT_EQ(std::count_if(log.begin(), log.end(),
                                [](const std::string& e) { return e.rfind("get ", 0) == 0; }),
                  1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Devices, Rs485Device,
    ::testing::Values(Rs485Case{"NothingConnected", {.reply = sim::Rs485Reply::Silent}, nullptr},
                      Rs485Case{"PlainLoopback", {.reply = sim::Rs485Reply::Loopback}, "get 10"},
                      Rs485Case{
                          "SplitByAPause", {.splitPause = std::chrono::milliseconds(100)}, "get 5"},
                      Rs485Case{"StrayBurstAheadOfTheReply", {.strayBytes = 3}, "get 13"},
                      Rs485Case{"ExtraByte", {.extraByte = true}, "get 11"},
                      Rs485Case{"EchoAndReplyInOneBurst", {.echo = true}, "get 20"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CheckRun, Rs485PortThatCannotBeOpenedCanBeChangedForTheNextRun) {
    StartBench({});
    CTarvicDlg dlg;
    std::vector<std::string> log;
    bool busyAfter = true;
    uitest::RunModal(dlg, [&] {
        uitest::SelectComboEntry(dlg, IDC_485_PORT, 4);  // COM5: nothing there
        uitest::Click(dlg, IDOK);
        ExpectBox(kGprsPassed, true);
        ExpectBox(kOpenFailed, false);
        ASSERT_TRUE(uitest::WaitUntil([&] { return AllInputsEnabled(dlg); }));
        uitest::SelectComboEntry(dlg, IDC_485_PORT, 3);  // COM4
        // The run ends just after it gives the inputs back; a person is never that quick.
        uitest::Pump(100);
        // The first run has ended (its GPRS check closed its port), so START starts anew.
        RunPassingChecks(dlg);
        ASSERT_TRUE(uitest::WaitUntil([&] { return AllInputsEnabled(dlg); }));
        log = uitest::ListEntries(dlg, IDC_LOG);
        // A third run starts too: the busy flag was cleared.
        uitest::Pump(100);
        uitest::Click(dlg, IDOK);
        busyAfter = uitest::WaitUntil(
            [&] { return CountEntries(uitest::ListEntries(dlg, IDC_LOG), "Tread OK") == 3; });
        ExpectBox(kGprsPassed, true);
        ExpectBox(k485Passed, true);
    });
    EXPECT_EQ(CountEntries(log, "Tread OK"), 2);
    EXPECT_EQ(CountEntries(log, "get 10"), 1);
    EXPECT_TRUE(busyAfter);
}

// --- What every run keeps to ---------------------------------------------------------------

// What the port calls saw: each open's name and the first line settings given to it (the
// close gives the saved ones back), and which port closes are made to fail.
struct PortCalls {
    struct Open {
        std::string name;
        DWORD baud = 0;
        DWORD intervalMs = 0;
        bool stateSet = false;
        bool timeoutsSet = false;
    };
    std::mutex mutex;
    std::vector<Open> opens;
    std::set<HANDLE> ports;
    int closes = 0;
    std::set<int> failingCloses;  // 1: the first port close, 2: the second ...
    int threads = 0;
    int slowThread = 0;  // this CreateThread returns only after a pause
};
PortCalls g_calls;

HANDLE RecordOpen(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                  DWORD disposition, DWORD flags, HANDLE templ) {
    const HANDLE h =
        tarvic::posix::RealOps().CreateFileA(name, access, share, sa, disposition, flags, templ);
    if (h != INVALID_HANDLE_VALUE) {
        std::lock_guard lock(g_calls.mutex);
        g_calls.opens.push_back({name});
        g_calls.ports.insert(h);
    }
    return h;
}

// Keeps the first value of a setting after each open.
void RecordFirst(bool PortCalls::Open::*set, DWORD PortCalls::Open::*field, DWORD value) {
    std::lock_guard lock(g_calls.mutex);
    if (!g_calls.opens.empty() && !(g_calls.opens.back().*set)) {
        g_calls.opens.back().*set = true;
        g_calls.opens.back().*field = value;
    }
}

BOOL RecordState(HANDLE port, LPDCB dcb) {
    RecordFirst(&PortCalls::Open::stateSet, &PortCalls::Open::baud, dcb->BaudRate);
    return tarvic::posix::RealOps().SetCommState(port, dcb);
}

BOOL RecordTimeouts(HANDLE port, LPCOMMTIMEOUTS cto) {
    RecordFirst(&PortCalls::Open::timeoutsSet, &PortCalls::Open::intervalMs,
                cto->ReadIntervalTimeout);
    return tarvic::posix::RealOps().SetCommTimeouts(port, cto);
}

// The handle is closed all the same; the call reports a failure.
BOOL FailChosenCloses(HANDLE h) {
    bool fail = false;
    {
        std::lock_guard lock(g_calls.mutex);
        if (g_calls.ports.erase(h) > 0) {
            fail = g_calls.failingCloses.count(++g_calls.closes) > 0;
        }
    }
    const BOOL closed = tarvic::posix::RealOps().CloseHandle(h);
    if (fail) {
        tarvic::posix::RealOps().SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    return closed;
}

HANDLE PauseChosenThread(LPSECURITY_ATTRIBUTES sa, size_t stack, LPTHREAD_START_ROUTINE proc,
                         LPVOID param, DWORD flags, LPDWORD id) {
    const HANDLE h = tarvic::posix::RealOps().CreateThread(sa, stack, proc, param, flags, id);
    bool pause = false;
    {
        std::lock_guard lock(g_calls.mutex);
        pause = ++g_calls.threads == g_calls.slowThread;
    }
    if (pause) {
        std::this_thread::sleep_for(400ms);
    }
    return h;
}

// The port calls of one test, watched from a fresh record: the closes to fail (1: the first
// port close ...) and the CreateThread call to pause (0: none).
tarvic::posix::Ops WatchedOps(std::set<int> failingCloses = {}, int slowThread = 0) {
    {
        std::lock_guard lock(g_calls.mutex);
        g_calls.opens.clear();
        g_calls.ports.clear();
        g_calls.closes = 0;
        g_calls.failingCloses = std::move(failingCloses);
        g_calls.threads = 0;
        g_calls.slowThread = slowThread;
    }
    tarvic::posix::Ops ops = tarvic::posix::RealOps();
    ops.CreateFileA = RecordOpen;
    ops.SetCommState = RecordState;
    ops.SetCommTimeouts = RecordTimeouts;
    ops.CloseHandle = FailChosenCloses;
    ops.CreateThread = PauseChosenThread;
    return ops;
}

// The GPRS port at 9600 baud with 500 character times of silence ending a read, the RS-485
// port at 115200 with 1000 (9 bit times a character: 468 ms and 78 ms).
TEST_F(CheckRun, EachCheckOpensItsPortWithItsLineSettings) {
    StartBench({});
    const tarvic::posix::Ops ops = WatchedOps();
    tarvic::posix::ScopedOps scoped(ops);
    CTarvicDlg dlg;
    uitest::RunModal(dlg, [&] { RunPassingChecks(dlg); });
    std::lock_guard lock(g_calls.mutex);
    ASSERT_EQ(g_calls.opens.size(), 2u);
    EXPECT_NE(g_calls.opens[0].name.find("COM1"), std::string::npos) << g_calls.opens[0].name;
    EXPECT_EQ(g_calls.opens[0].baud, 9600u);
    EXPECT_EQ(g_calls.opens[0].intervalMs, 468u);
    EXPECT_NE(g_calls.opens[1].name.find("COM4"), std::string::npos) << g_calls.opens[1].name;
    EXPECT_EQ(g_calls.opens[1].baud, 115200u);
    EXPECT_EQ(g_calls.opens[1].intervalMs, 78u);
}

// A check whose Close fails leaves its inputs disabled; the run gives START back when at
// least one of the two closes succeeded.
struct FailedCloseCase {
    const char* name;
    std::set<int> failingCloses;
    bool gprsListEnabled;
    bool rs485ListEnabled;
    bool startEnabled;
};

void PrintTo(const FailedCloseCase& c, std::ostream* os) {
    *os << c.name;
}

class FailedClose : public CheckRun, public ::testing::WithParamInterface<FailedCloseCase> {};

TEST_P(FailedClose, LeavesItsInputsDisabled) {
    StartBench({});
    const tarvic::posix::Ops ops = WatchedOps(GetParam().failingCloses);
    tarvic::posix::ScopedOps scoped(ops);
    CTarvicDlg dlg;
    bool afterGprs[3] = {};
    bool after[4] = {};
    int atsBefore = 0;
    int atsAfter = 0;
    uitest::RunModal(dlg, [&] {
        uitest::Click(dlg, IDOK);
        ExpectBox(kGprsPassed, true);
        // The RS-485 check's box is up: the GPRS check has ended.
        ASSERT_TRUE(uitest::WaitForMessageBox());
        int i = 0;
        for (int id : {IDC_GPRS_PORT, IDOK, IDC_URL}) {
            afterGprs[i++] = dlg.GetDlgItem(id)->IsWindowEnabled();
        }
        ExpectBox(k485Passed, true);
        uitest::Pump(300);
        i = 0;
        for (int id : {IDC_GPRS_PORT, IDC_485_PORT, IDOK, IDC_URL}) {
            after[i++] = dlg.GetDlgItem(id)->IsWindowEnabled();
        }
        if (GetParam().startEnabled) {
            // The busy flag was cleared: START runs again.
            atsBefore = CountEntries(m_bench->ModemCommands(), "AT");
            RunPassingChecks(dlg);
            atsAfter = CountEntries(m_bench->ModemCommands(), "AT");
        }
    });
    const bool gprsClosed = GetParam().failingCloses.count(1) == 0;
    EXPECT_EQ(afterGprs[0], gprsClosed);
    EXPECT_EQ(afterGprs[1], gprsClosed);
    EXPECT_EQ(afterGprs[2], gprsClosed);
    EXPECT_EQ(after[0], GetParam().gprsListEnabled);
    EXPECT_EQ(after[1], GetParam().rs485ListEnabled);
    EXPECT_EQ(after[2], GetParam().startEnabled);
    EXPECT_EQ(after[3], GetParam().startEnabled);
    if (GetParam().startEnabled) {
        EXPECT_GT(atsAfter, atsBefore);
    }
}

INSTANTIATE_TEST_SUITE_P(Checks, FailedClose,
                         ::testing::Values(FailedCloseCase{"Gprs", {1}, false, true, true},
                                           FailedCloseCase{"Rs485", {2}, true, false, true},
                                           FailedCloseCase{"Both", {1, 2}, false, false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// The host is read at each START: the second run dials and asks the host typed since.
TEST_F(CheckRun, AHostChangedBetweenTwoRunsIsTheOneTheSecondRunUses) {
    StartBench({});
    CTarvicDlg dlg;
    std::vector<std::string> log;
    uitest::RunModal(dlg, [&] {
        RunPassingChecks(dlg);
        ASSERT_TRUE(uitest::WaitUntil([&] { return AllInputsEnabled(dlg); }));
        uitest::Pump(300);  // the check thread clears the busy flag as it ends
        uitest::TypeText(dlg, IDC_URL, "example.org");
        RunPassingChecks(dlg);
        log = uitest::ListEntries(dlg, IDC_LOG);
    });
    const auto dials = m_bench->ModemDials();
    ASSERT_EQ(dials.size(), 2u);
    EXPECT_EQ(dials[0].host, "example.com");
    EXPECT_EQ(dials[1].host, "example.org");
    const std::string received = m_bench->ModemReceived();
    const size_t secondDial = received.find("AT#SD=1,0,80,example.org\r\n");
    ASSERT_NE(secondDial, std::string::npos);
    EXPECT_NE(received.find("GET / HTTP/1.0\r\nHost: example.org\r\n\r\n", secondDial),
              std::string::npos);
    EXPECT_EQ(CountEntries(log, "> GET / HTTP/1.0\\r\\nHost: example.org\\r\\n\\r\\n"), 1);
}

// A burst that the RS-485 port delivers before the pattern goes out is drained, not taken
// for part of the reply. The RS-485 port's reader (the third thread of a run) is held back
// until the burst has come and been handed over.
TEST_F(CheckRun, TheDrainReadDropsAStrayBurstBeforeThePattern) {
    sim::Rs485Options rs485;
    rs485.strayAfterOpen = 3;
    rs485.strayDelay = 50ms;
    StartBench({}, rs485);
    const tarvic::posix::Ops ops = WatchedOps({}, 3);
    tarvic::posix::ScopedOps scoped(ops);
    CTarvicDlg dlg;
    std::vector<std::string> log;
    uitest::RunModal(dlg, [&] {
        RunPassingChecks(dlg);
        log = uitest::ListEntries(dlg, IDC_LOG);
    });
    EXPECT_EQ(CountEntries(log, "get 10"), 1);
    const std::vector<uint8_t> pattern = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    EXPECT_EQ(m_bench->Rs485Received(), pattern);
    EXPECT_EQ(m_bench->Rs485Sent().size(), 13u);  // the burst and the reply
}

}  // namespace
}  // namespace tarvic
