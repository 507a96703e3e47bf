// Publishing the simulated ports, their life cycle, and the tarvic-sim program.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "sim/pseudo_terminal.h"
#include "sim/sim.h"
#include "sim_test_util.h"
#include "tests/support/posix/child_process.h"

namespace tarvic {
namespace {

namespace fs = std::filesystem;
using simtest::Hex;
using simtest::TestPort;
using std::chrono::milliseconds;

TEST(BenchTest, PublishesLinksAndRemovesThemOnStop) {
    simtest::TempDir home;
    std::string modemLink;
    std::string rs485Link;
    {
        sim::Bench bench(home.Path());
        bench.AddModem(1);
        bench.AddRs485(4);
        modemLink = bench.LinkPath(1);
        rs485Link = bench.LinkPath(4);
        EXPECT_EQ(modemLink, home.Path() + "/tarvic/ports/com1");
        EXPECT_EQ(rs485Link, home.Path() + "/tarvic/ports/com4");
        ASSERT_TRUE(fs::is_symlink(modemLink));
        EXPECT_EQ(fs::read_symlink(modemLink).string(), bench.DevicePath(1));
        EXPECT_EQ(fs::read_symlink(rs485Link).string(), bench.DevicePath(4));
        EXPECT_NE(bench.DevicePath(1), bench.DevicePath(4));
        bench.Start();
        TestPort modem(modemLink);
        modem.Write("AT\r\n");
        EXPECT_EQ(Hex(modem.ReadCount(9)), Hex("AT\r\r\nOK\r\n"));
        bench.Stop();
        EXPECT_FALSE(fs::exists(fs::symlink_status(modemLink)));
        EXPECT_FALSE(fs::exists(fs::symlink_status(rs485Link)));
        // What was recorded stays readable.
        EXPECT_EQ(bench.ModemReceived(), "AT\r\n");
    }
    // The destructor of a bench that was never started removes its links as well.
    {
        sim::Bench bench(home.Path());
        bench.AddRs485(2);
        EXPECT_TRUE(fs::is_symlink(bench.LinkPath(2)));
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(home.Path() + "/tarvic/ports/com2")));
}

TEST(BenchTest, ReplacesAStaleLinkButNotALiveEntry) {
    simtest::TempDir home;
    std::string ports = home.Path() + "/tarvic/ports";
    fs::create_directories(ports);
    fs::create_symlink(home.Path() + "/gone", ports + "/com1");  // left by a killed simulator
    std::ofstream(ports + "/com2") << "someone's file";
    fs::create_symlink(ports + "/com2", ports + "/com3");  // a link to something that exists

    sim::Bench bench(home.Path());
    bench.AddModem(1);
    EXPECT_EQ(fs::read_symlink(ports + "/com1").string(), bench.DevicePath(1));
    EXPECT_THROW(bench.AddRs485(2), std::system_error);
    EXPECT_THROW(bench.AddRs485(3), std::system_error);
    EXPECT_THROW(bench.AddRs485(1), std::invalid_argument);  // taken by the modem
    EXPECT_THROW(bench.AddRs485(0), std::invalid_argument);
    bench.Stop();
    EXPECT_TRUE(fs::is_regular_file(ports + "/com2"));
    EXPECT_TRUE(fs::is_symlink(ports + "/com3"));
}

// A user's own mapping to a live pseudo-terminal is not the simulator's: it is refused
// with the entry's name, and the entry is the same afterwards, also after the bench ended.
TEST(BenchTest, AUsersLinkToALiveTerminalIsLeftAsItIs) {
    simtest::TempDir home;
    const std::string ports = home.Path() + "/tarvic/ports";
    fs::create_directories(ports);
    const sim::PseudoTerminal users = sim::OpenPseudoTerminal(false);
    fs::create_symlink(users.slavePath, ports + "/com1");
    {
        sim::Bench bench(home.Path());
        bench.AddRs485(4);
        try {
            bench.AddModem(1);
            ADD_FAILURE() << "the user's com1 was taken";
        } catch (const std::system_error& e) {
            EXPECT_NE(std::string(e.what()).find(ports + "/com1 is already there"),
                      std::string::npos)
                << e.what();
        }
        EXPECT_EQ(fs::read_symlink(ports + "/com1").string(), users.slavePath);
    }
    EXPECT_EQ(fs::read_symlink(ports + "/com1").string(), users.slavePath);
    EXPECT_FALSE(fs::exists(fs::symlink_status(ports + "/com4")));  // its own link is gone
    ::close(users.master);
    ::close(users.slave);
}

// A link to a terminal is refused while a bench that is running holds it, and replaced once
// that bench has ended, however it ended (its terminal may have been given to a new one).
TEST(BenchTest, ALinkHeldByARunningBenchIsRefusedAndReplacedOnceItHasEnded) {
    simtest::TempDir home;
    const std::string ports = home.Path() + "/tarvic/ports";
    auto first = std::make_unique<sim::Bench>(home.Path());
    first->AddModem(1);
    sim::Bench second(home.Path());
    try {
        second.AddModem(1);
        ADD_FAILURE() << "a link that a running bench holds was taken";
    } catch (const std::system_error& e) {
        EXPECT_NE(std::string(e.what()).find("com1 is held by another tarvic-sim that is running"),
                  std::string::npos)
            << e.what();
    }
    const std::string held = fs::read_symlink(ports + "/com1").string();
    EXPECT_EQ(held, first->DevicePath(1));
    // What a killed bench leaves: its link, to its own terminal or to one that is gone.
    first.reset();
    fs::create_symlink(held, ports + "/com1");
    fs::create_symlink("/dev/pts/999999", ports + "/com2");
    second.AddModem(1);
    second.AddRs485(2);
    EXPECT_EQ(fs::read_symlink(ports + "/com1").string(), second.DevicePath(1));
    EXPECT_EQ(fs::read_symlink(ports + "/com2").string(), second.DevicePath(2));
}

TEST(BenchTest, AddAfterStartIsRefused) {
    simtest::TempDir home;
    sim::Bench bench(home.Path());
    bench.AddModem(1);
    bench.Start();
    EXPECT_THROW(bench.AddRs485(4), std::logic_error);
    EXPECT_THROW(bench.Start(), std::logic_error);
}

// The terminal is raw before anyone opens it: a port opened without any settings of its own
// gets no echo from the line discipline and no translation of CR.
TEST(BenchTest, PortIsRawBeforeTheToolConfiguresIt) {
    simtest::TempDir home;
    sim::Rs485Options o;
    o.reply = sim::Rs485Reply::Silent;
    sim::Bench bench(home.Path());
    bench.AddRs485(4, o);
    bench.Start();
    TestPort port(bench.LinkPath(4), /*raw=*/false);
    termios tio{};
    ASSERT_EQ(tcgetattr(port.Fd(), &tio), 0);
    EXPECT_EQ(tio.c_lflag & (ECHO | ICANON), 0u);
    port.Write("ab\r\n");
    EXPECT_EQ(Hex(port.ReadQuiet(milliseconds(150))), "");
    ASSERT_TRUE(bench.WaitRs485Received(4, milliseconds(2000)));
    EXPECT_EQ(bench.Rs485Received(), (std::vector<uint8_t>{'a', 'b', '\r', '\n'}));
}

int Exclusive(const std::string& path) {
    // Root may open an exclusive terminal; anyone else gets EBUSY, which counts as set.
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return errno == EBUSY ? 1 : -1;
    }
    int excl = -1;
    ::ioctl(fd, TIOCGEXCL, &excl);
    ::close(fd);
    return excl;
}

// The tool opens its port with TIOCEXCL and a lock. The simulator's own descriptor keeps
// the terminal alive, so the flag would survive the tool's close and refuse its next open.
TEST(BenchTest, ExclusiveFlagIsClearedWhenTheToolClosesThePort) {
    simtest::TempDir home;
    sim::Bench bench(home.Path());
    bench.AddModem(1);
    bench.Start();
    std::string link = bench.LinkPath(1);
    int tool = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(tool, 0);
    ASSERT_EQ(::ioctl(tool, TIOCEXCL), 0);
    ASSERT_EQ(::flock(tool, LOCK_EX | LOCK_NB), 0);
    // Someone else opening and closing it meanwhile does not take the tool's flag away.
    EXPECT_EQ(Exclusive(link), 1);
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_EQ(Exclusive(link), 1);
    ::close(tool);
    bool cleared = false;
    for (int i = 0; i < 100 && !cleared; ++i) {
        cleared = Exclusive(link) == 0;
        if (!cleared) {
            std::this_thread::sleep_for(milliseconds(10));
        }
    }
    EXPECT_TRUE(cleared);
}

TEST(BenchTest, WaitUntilSeesLaterEventsAndTimesOut) {
    simtest::TempDir home;
    sim::Bench bench(home.Path());
    bench.AddModem(1);
    bench.Start();
    EXPECT_FALSE(bench.WaitModemReceived("AT", milliseconds(50)));
    TestPort port(bench.LinkPath(1));
    std::thread writer([&] {
        std::this_thread::sleep_for(milliseconds(100));
        port.Write("AT\r\n");
    });
    EXPECT_TRUE(bench.WaitModemReceived("AT\r\n", milliseconds(3000)));
    EXPECT_TRUE(bench.WaitModemSent("\r\nOK\r\n", milliseconds(3000)));
    writer.join();
}

TEST(BenchTest, LogReportsBytesBothWays) {
    simtest::TempDir home;
    std::mutex mu;
    std::vector<std::string> lines;
    {
        sim::Bench bench(home.Path(), [&](const std::string& line) {
            std::lock_guard<std::mutex> lock(mu);
            lines.push_back(line);
        });
        bench.AddModem(1);
        bench.Start();
        TestPort port(bench.LinkPath(1));
        port.Write("AT\r\n");
        ASSERT_TRUE(bench.WaitModemSent("OK", milliseconds(3000)));
    }
    std::lock_guard<std::mutex> lock(mu);
    auto has = [&](const std::string& text) {
        for (const auto& l : lines) {
            if (l == text) {
                return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(has("COM1 modem: <- AT\\r\\n"));
    EXPECT_TRUE(has("COM1 modem: -> AT\\r\\r\\nOK\\r\\n"));
}

// --- the program ---

// The simulator program, its standard output readable line by line.
std::unique_ptr<tarvic::test::ChildProcess> Spawn(std::vector<std::string> args) {
    args.insert(args.begin(), TARVIC_SIM_PATH);
    auto child = std::make_unique<tarvic::test::ChildProcess>(
        std::move(args), tarvic::test::ChildProcess::Capture::Output);
    EXPECT_TRUE(child->Started());
    return child;
}

std::string Line(FILE* f) {
    char buf[4096];
    if (std::fgets(buf, sizeof buf, f) == nullptr) {
        return {};
    }
    std::string s(buf);
    if (!s.empty() && s.back() == '\n') {
        s.pop_back();
    }
    return s;
}

TEST(ProgramTest, HelpDescribesTheFlags) {
    auto r = Spawn({"--help"});
    std::string all;
    for (std::string l = Line(r->Output()); !l.empty() || !std::feof(r->Output());
         l = Line(r->Output())) {
        all += l + "\n";
    }
    r->CloseOutput();
    EXPECT_EQ(r->Wait(), 0);
    for (const char* flag : {"--config-home",
                             "--modem",
                             "--rs485",
                             "--web",
                             "--verbose",
                             "--silent-modem",
                             "--error",
                             "--context-active",
                             "--activation-delay",
                             "--trickle",
                             "--nul",
                             "--noise",
                             "--dial-never-connects",
                             "--http-body",
                             "--hangup-pause",
                             "--other-contexts",
                             "--context-comes-up",
                             "--rs485-loopback",
                             "--rs485-silent",
                             "--rs485-echo",
                             "--rs485-echo-pause",
                             "--rs485-split",
                             "--rs485-extra",
                             "--rs485-stray",
                             "--rs485-turnaround",
                             "XDG_CONFIG_HOME"}) {
        EXPECT_NE(all.find(flag), std::string::npos) << flag;
    }
}

TEST(ProgramTest, BadFlagsAreRefused) {
    for (std::vector<std::string> args : {std::vector<std::string>{"--no-such-flag"},
                                          {"--modem", "x"},
                                          {"--web", "nowhere"},
                                          {"--error", "AT"},
                                          {"--modem", "4"},
                                          {"--trickle", "3"},
                                          {"--other-contexts", "1,2"}}) {
        auto r = Spawn(args);
        EXPECT_EQ(Line(r->Output()), "");
        r->CloseOutput();
        EXPECT_EQ(r->Wait(), 2) << args[0];
    }
}

TEST(ProgramTest, PublishesServesAndCleansUpOnSigterm) {
    simtest::TempDir home;
    auto r = Spawn({"--config-home", home.Path(), "--modem", "2", "--rs485", "5",
                    "--rs485-loopback", "--context-active"});
    EXPECT_EQ(Line(r->Output()), "XDG_CONFIG_HOME=" + home.Path());
    std::string com2 = Line(r->Output());
    std::string com5 = Line(r->Output());
    EXPECT_EQ(com2.rfind("COM2: GPRS modem, " + home.Path() + "/tarvic/ports/com2 -> ", 0), 0u)
        << com2;
    EXPECT_EQ(com5.rfind("COM5: RS-485 device, " + home.Path() + "/tarvic/ports/com5 -> ", 0), 0u)
        << com5;
    {
        TestPort modem(home.Path() + "/tarvic/ports/com2");
        modem.Write("ATE0\r\nAT#SGACT?\r\n");
        const std::string answer = "ATE0\r\r\nOK\r\n\r\n#SGACT: 1,1\r\n\r\nOK\r\n";
        EXPECT_EQ(Hex(modem.ReadCount(answer.size())), Hex(answer));
        TestPort rs485(home.Path() + "/tarvic/ports/com5");
        rs485.Write(std::string("\x01\x02\x03", 3));
        EXPECT_EQ(Hex(rs485.ReadCount(3)), Hex("\x01\x02\x03"));
    }
    r->Signal(SIGTERM);
    EXPECT_EQ(r->Wait(), 0);
    r->CloseOutput();
    EXPECT_FALSE(fs::exists(fs::symlink_status(home.Path() + "/tarvic/ports/com2")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(home.Path() + "/tarvic/ports/com5")));
    EXPECT_TRUE(fs::is_directory(home.Path()));  // a given folder is left in place
}

// A simulator that was killed leaves its links behind; the next one starts all the same,
// while a second one beside a running one is refused.
TEST(ProgramTest, StartsAgainAfterItWasKilledButNotBesideARunningOne) {
    simtest::TempDir home;
    const std::vector<std::string> args = {"--config-home", home.Path()};
    auto killed = Spawn(args);
    EXPECT_EQ(Line(killed->Output()), "XDG_CONFIG_HOME=" + home.Path());
    killed->Signal(SIGKILL);
    EXPECT_EQ(killed->Wait(), 128 + SIGKILL);
    killed->CloseOutput();
    EXPECT_TRUE(fs::is_symlink(home.Path() + "/tarvic/ports/com1"));

    auto next = Spawn(args);
    EXPECT_EQ(Line(next->Output()), "XDG_CONFIG_HOME=" + home.Path());
    const std::string com1 = Line(next->Output());
    EXPECT_EQ(com1.rfind("COM1: GPRS modem, ", 0), 0u) << com1;
    {
        TestPort modem(home.Path() + "/tarvic/ports/com1");
        modem.Write("AT\r\n");
        EXPECT_EQ(Hex(modem.ReadCount(9)), Hex("AT\r\r\nOK\r\n"));
    }
    auto beside = Spawn(args);
    EXPECT_EQ(Line(beside->Output()), "");
    beside->CloseOutput();
    EXPECT_EQ(beside->Wait(), 1);
    EXPECT_TRUE(fs::is_symlink(home.Path() + "/tarvic/ports/com1"));  // the running one's
    next->Signal(SIGTERM);
    EXPECT_EQ(next->Wait(), 0);
    next->CloseOutput();
}

TEST(ProgramTest, PrivateFolderIsRemovedAfterSigint) {
    auto r = Spawn({});
    std::string first = Line(r->Output());
    ASSERT_EQ(first.rfind("XDG_CONFIG_HOME=", 0), 0u) << first;
    std::string dir = first.substr(16);
    EXPECT_TRUE(fs::is_symlink(dir + "/tarvic/ports/com1"));
    EXPECT_TRUE(fs::is_symlink(dir + "/tarvic/ports/com4"));
    r->Signal(SIGINT);
    EXPECT_EQ(r->Wait(), 0);
    r->CloseOutput();
    EXPECT_FALSE(fs::exists(dir));
}

}  // namespace
}  // namespace tarvic
