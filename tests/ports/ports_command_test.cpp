// tarvic-ports run as a program against the tests' private port directory, with
// pseudo-terminals as the devices: listing, set, unset, and what it says when it cannot.
#include <gtest/gtest.h>
#include <sys/file.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "res/version.h"
#include "tests/serial/support.h"
#include "tests/support/posix/child_process.h"

namespace {

namespace fs = std::filesystem;
using tarvic::test::PortDirectory;
using tarvic::test::Pty;

struct Result {
    int status;
    std::string output;
};

// Without a terminal: in a session of its own (setsid), as from a desktop launcher.
Result Ports(const std::vector<std::string>& args, bool withoutTerminal = false) {
    std::vector<std::string> words{TARVIC_PORTS_PATH};
    if (withoutTerminal) {
        words.insert(words.begin(), {"/usr/bin/setsid", "--wait"});
    }
    words.insert(words.end(), args.begin(), args.end());
    tarvic::test::ChildProcess ports(std::move(words),
                                     tarvic::test::ChildProcess::Capture::OutputAndErrors);
    Result r;
    r.output = ports.ReadOutput();
    r.status = ports.Wait();
    return r;
}

fs::path Entry(int n) {
    return fs::path(PortDirectory()) / ("com" + std::to_string(n));
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Outside the port directory, beside it.
fs::path Outside(const std::string& name) {
    return fs::path(PortDirectory()).parent_path().parent_path() / name;
}

TEST(PortsCommand, SetsListsAndUnsets) {
    Pty modem(2), adapter(3);  // published as com2 and com3
    Result r = Ports({"set", "5", modem.SlavePath()});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, "COM5 -> " + modem.SlavePath() + "\n");
    EXPECT_EQ(fs::read_symlink(Entry(5)), modem.SlavePath());

    r = Ports({});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(Has(r.output, "Port directory " + PortDirectory() + ":\n")) << r.output;
    EXPECT_TRUE(Has(r.output, "  COM2 -> " + modem.SlavePath() + "\n")) << r.output;
    EXPECT_TRUE(Has(r.output, "  COM3 -> " + adapter.SlavePath() + "\n")) << r.output;
    EXPECT_TRUE(Has(r.output, "  COM5 -> " + modem.SlavePath() + "\n")) << r.output;
    EXPECT_LT(r.output.find("COM3 ->"), r.output.find("COM5 ->")) << "by number";

    // COMn spelling, and an entry that is replaced.
    r = Ports({"set", "COM5", adapter.SlavePath()});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(fs::read_symlink(Entry(5)), adapter.SlavePath());

    // An entry given as the device stands for its device: no link to a link, no loop.
    r = Ports({"set", "3", Entry(3).string()});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(fs::read_symlink(Entry(3)), fs::canonical(adapter.SlavePath()));
    r = Ports({"set", "7", Entry(2).string()});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(fs::read_symlink(Entry(7)), fs::canonical(modem.SlavePath()));
    EXPECT_EQ(Ports({"unset", "7"}).status, 0);

    r = Ports({"unset", "5"});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_FALSE(fs::exists(fs::symlink_status(Entry(5))));
    EXPECT_EQ(fs::read_symlink(Entry(3)), adapter.SlavePath()) << "other entries stay";
    r = Ports({"unset", "5"});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(Has(r.output, "COM5 had no entry")) << r.output;
}

TEST(PortsCommand, ReplacesALinkWithoutFollowingIt) {
    Pty device(4);
    fs::path victim = Outside("victim.txt");
    std::ofstream(victim) << "keep me";
    fs::create_symlink(victim, Entry(6));
    Result r = Ports({"set", "6", device.SlavePath()});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(fs::read_symlink(Entry(6)), device.SlavePath());
    std::ifstream in(victim);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "keep me");
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(PortDirectory())) {
        names.push_back(e.path().filename().string());
    }
    for (const std::string& n : names) {
        EXPECT_EQ(n.find(".new"), std::string::npos) << "left behind: " << n;
    }
    EXPECT_EQ(Ports({"unset", "6"}).status, 0);
    EXPECT_TRUE(fs::exists(victim)) << "unset removes the entry, not what it leads to";
    fs::remove(victim);
}

TEST(PortsCommand, FailuresNameTheDeviceAndTheReason) {
    Pty device(1);
    fs::path plain = Outside("plain-file");
    std::ofstream(plain) << "x";
    fs::create_directories(Entry(8));
    struct Case {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> said;
    };
    const Case cases[] = {
        {{"set", "3", "/dev/no-such-ttyUSB9"},
         1,
         {"COM3", "/dev/no-such-ttyUSB9", "No such file or directory"}},
        {{"set", "3", plain.string()}, 1, {plain.string(), "not a serial device"}},
        {{"set", "3", "/dev/null"}, 1, {"/dev/null", "not a serial device (not a terminal)"}},
        {{"set", "3", "null"}, 1, {"to /dev/null:", "not a terminal"}},
        {{"set", "8", device.SlavePath()}, 1, {Entry(8).string(), "is a folder"}},
        {{"unset", "8"}, 1, {Entry(8).string(), "is a folder"}},
        {{"set", "0", device.SlavePath()}, 2, {"\"0\" is not a port number"}},
        {{"set", "256", device.SlavePath()}, 2, {"\"256\" is not a port number"}},
        {{"set", "COMX", device.SlavePath()}, 2, {"\"COMX\" is not a port number"}},
        {{"set", "3"}, 2, {"set wants a port number and a device"}},
        {{"unset"}, 2, {"unset wants a port number"}},
        {{"remove", "3"}, 2, {"unknown command \"remove\""}},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& a : c.args) {
            line += " " + a;
        }
        Result r = Ports(c.args);
        EXPECT_EQ(r.status, c.status) << line << "\n" << r.output;
        for (const std::string& s : c.said) {
            EXPECT_TRUE(Has(r.output, s)) << line << " should say: " << s << "\n" << r.output;
        }
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(Entry(3)))) << "nothing written on failure";
    EXPECT_TRUE(fs::is_directory(Entry(8))) << "a folder is never removed";
    fs::remove(Entry(8));
    fs::remove(plain);
}

// The edges of the command line and of the devices: each case says what the command must
// answer, and what the entry must be afterwards.
TEST(PortsCommand, Edges) {
    Pty device(1), locked(2);
    // Another program holds com2's terminal with flock, which root gets no EBUSY for.
    ASSERT_EQ(::flock(locked.Slave(), LOCK_EX | LOCK_NB), 0);
    std::ofstream(Entry(6)) << "my own notes";
    const std::string dev = device.SlavePath();
    const std::string longText(5000, 'a');
    struct Case {
        std::vector<std::string> args;
        bool withoutTerminal;  // run with no controlling terminal, so /dev/tty is ENXIO
        int status;
        std::vector<std::string> said;
        int entry;         // the entry looked at afterwards
        std::string link;  // where it must lead; empty: it must not be a link
    };
    const Case cases[] = {
        {{"set", "99", dev},
         false,
         0,
         {"COM99 -> " + dev, "tarvic's own port lists stop at COM8"},
         99,
         dev},
        {{"set", "3", dev + "\nrm -rf"}, false, 2, {"control character", dev + "\\nrm -rf"}, 3, ""},
        {{"set", "3", dev + "\x1b[2J"}, false, 2, {"control character", "\\x1b[2J"}, 3, ""},
        {{"set", "2", ""},
         false,
         2,
         {"the device is empty", "set N DEVICE"},
         2,
         locked.SlavePath()},
        {{"set", "6", dev}, false, 1, {Entry(6).string() + " is a file", "left as it is"}, 6, ""},
        {{"unset", "6"}, false, 1, {Entry(6).string() + " is a file", "left as it is"}, 6, ""},
        {{"set", "3", longText},
         false,
         1,
         {"aaa... (5005 characters)", "File name too long"},
         3,
         ""},
        {{"set", longText, dev},
         false,
         2,
         {"aaa... (5000 characters)\" is not a port number"},
         3,
         ""},
        {{"list", "extra"}, false, 2, {"list takes no argument"}, 3, ""},
        {{"set", "3", "/dev/tty"},
         true,
         1,
         {"/dev/tty", "no port answers behind this name", "not a serial port"},
         3,
         ""},
        {{"set", "4", locked.SlavePath()},
         false,
         0,
         {"COM4 -> " + locked.SlavePath(), "another program holds it locked (flock)"},
         4,
         locked.SlavePath()},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& a : c.args) {
            line += " " + a.substr(0, 40);
        }
        const Result r = Ports(c.args, c.withoutTerminal);
        EXPECT_EQ(r.status, c.status) << line << "\n" << r.output;
        for (const std::string& s : c.said) {
            EXPECT_TRUE(Has(r.output, s)) << line << " should say: " << s << "\n" << r.output;
        }
        EXPECT_LT(r.output.size(), 400u) << line << ": an argument is repeated whole";
        fs::path entry = Entry(c.entry);
        if (c.link.empty()) {
            EXPECT_FALSE(fs::is_symlink(fs::symlink_status(entry))) << line;
        } else {
            EXPECT_TRUE(fs::is_symlink(fs::symlink_status(entry))) << line;
            EXPECT_EQ(fs::read_symlink(entry).string(), c.link) << line;
        }
    }
    std::ifstream in(Entry(6));
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "my own notes") << "a user's file in the port directory stays";
    fs::remove(Entry(6));
    fs::remove(Entry(4));
    fs::remove(Entry(99));
}

TEST(PortsCommand, ListSaysWhereAnEntryLeadsNowhere) {
    fs::create_symlink("/dev/no-such-ttyUSB7", Entry(9));
    Result r = Ports({"list"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(
        Has(r.output, "COM9 -> /dev/no-such-ttyUSB7: leads nowhere: No such file or directory"))
        << r.output;
    fs::remove(Entry(9));
}

TEST(PortsCommand, HelpAndVersion) {
    Result r = Ports({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "tarvic-ports " TARVIC_VERSION_DOTTED "\n");
    r = Ports({"--help"});
    EXPECT_EQ(r.status, 0);
    for (const char* s :
         {"set N DEVICE", "unset N", "dialout", "/dev/serial/by-id", "Exit status"}) {
        EXPECT_TRUE(Has(r.output, s)) << s;
    }
}

}  // namespace
