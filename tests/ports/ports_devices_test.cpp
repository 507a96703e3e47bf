// What tarvic-ports finds: the device list of a made-up /dev over pseudo-terminals, the
// stable by-id name of a device, and the plain-words access verdict.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ports/devices.h"
#include "tests/serial/support.h"

namespace {

namespace fs = std::filesystem;
using tarvic::ports::Device;
using tarvic::test::Pty;

// A fresh folder inside the tests' private configuration folder.
fs::path Scratch(const std::string& name) {
    fs::path p = fs::path(tarvic::test::PortDirectory()).parent_path().parent_path() / name;
    fs::remove_all(p);
    fs::create_directories(p);
    return p;
}

void WriteFile(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p) << text;
}

TEST(PortsDevices, FindsByIdNamesUsbAcmAndOnlyUartsThatExist) {
    Pty a(11), b(12);
    fs::path dev = Scratch("dev"), sys = Scratch("sys");
    fs::create_directories(dev / "serial/by-id");
    fs::create_symlink(a.SlavePath(), dev / "serial/by-id/usb-Maker_Adapter_A1-if00-port0");
    fs::create_symlink("../../nothing", dev / "serial/by-id/usb-Gone-if00");
    // Device nodes stand in as links to the pseudo-terminals: stat follows them to a
    // character device, as it would reach the real node.
    for (const char* n : {"ttyUSB10", "ttyUSB2", "ttyACM0", "ttyS0", "ttyS1", "ttyS7"}) {
        fs::create_symlink(b.SlavePath(), dev / n);
    }
    WriteFile(dev / "ttyUSB3", "a plain file is no device");
    fs::create_symlink(b.SlavePath(), dev / "ttyX0");
    WriteFile(sys / "ttyS0/type", "4\n");  // a 16550A
    WriteFile(sys / "ttyS1/type", "0\n");  // no UART behind it
    // ttyS7 has no type to tell by and is shown.

    std::vector<Device> found = tarvic::ports::FindDevices(dev.string(), sys.string());
    std::vector<std::string> seen;
    for (const Device& d : found) {
        seen.push_back(d.path + " -> " + d.target);
    }
    std::string d = dev.string();
    std::vector<std::string> expected = {
        d + "/serial/by-id/usb-Gone-if00 -> (missing)",
        d + "/serial/by-id/usb-Maker_Adapter_A1-if00-port0 -> " +
            fs::canonical(a.SlavePath()).string(),
        d + "/ttyACM0 -> ",
        d + "/ttyS0 -> ",
        d + "/ttyS7 -> ",
        d + "/ttyUSB2 -> ",
        d + "/ttyUSB10 -> ",
    };
    EXPECT_EQ(seen, expected);
}

TEST(PortsDevices, NothingFoundWhereNothingIs) {
    fs::path dev = Scratch("emptydev");
    EXPECT_TRUE(tarvic::ports::FindDevices(dev.string(), (dev / "sys").string()).empty());
}

TEST(PortsDevices, StableNamePrefersTheByIdName) {
    Pty a(13), b(14);
    fs::path byId = Scratch("by-id"), other = Scratch("other");
    fs::create_symlink(a.SlavePath(), byId / "usb-Maker_B-if00-port0");
    fs::create_symlink(a.SlavePath(), byId / "usb-Maker_A-if00-port0");
    fs::create_symlink(a.SlavePath(), other / "ttyUSB0");
    std::string first = (byId / "usb-Maker_A-if00-port0").string();
    std::string second = (byId / "usb-Maker_B-if00-port0").string();

    using tarvic::ports::StableName;
    EXPECT_EQ(StableName(a.SlavePath(), byId.string()), first);
    EXPECT_EQ(StableName((other / "ttyUSB0").string(), byId.string()), first);
    EXPECT_EQ(StableName(second, byId.string()), second) << "a by-id name given is kept";
    EXPECT_EQ(StableName(b.SlavePath(), byId.string()), b.SlavePath());
    EXPECT_EQ(StableName(a.SlavePath(), (byId / "absent").string()), a.SlavePath());
    EXPECT_EQ(StableName("/dev/no-such-tty", byId.string()), "/dev/no-such-tty");
}

TEST(PortsDevices, AccessProblemInPlainWords) {
    const group* dialout = getgrnam("dialout");
    if (dialout == nullptr) {
        GTEST_SKIP() << "this system has no group dialout";
    }
    const gid_t dg = dialout->gr_gid;
    const uid_t tech = 4242;
    struct Case {
        const char* name;
        uid_t owner;
        mode_t mode;
        uid_t uid;
        std::vector<gid_t> groups;
        const char* expected;  // in the answer; nullptr: no problem
    };
    const Case cases[] = {
        {"not in dialout", 0, 0660, tech, {4242}, "group dialout, and you are not in it"},
        {"told how to join", 0, 0660, tech, {4242}, "sudo usermod -aG dialout tech"},
        {"in dialout", 0, 0660, tech, {4242, dg}, nullptr},
        {"root", 0, 0600, 0, {0}, nullptr},
        {"open to all", 0, 0666, tech, {4242}, nullptr},
        {"owner", tech, 0600, tech, {4242}, nullptr},
        {"owner without write", tech, 0400, tech, {4242, dg}, "you own it"},
        {"group may only read", 0, 0640, tech, {dg}, "that group may not read and write"},
        {"others only read", 0, 0664, tech, {4242}, "not in it"},
        {"only the owner", 0, 0600, tech, {4242}, "only its owner root may read and write"},
    };
    for (const Case& c : cases) {
        struct stat st {};
        st.st_mode = S_IFCHR | c.mode;
        st.st_uid = c.owner;
        st.st_gid = dg;
        tarvic::ports::User user{c.uid, c.groups, "tech"};
        std::string answer = tarvic::ports::AccessProblem(st, user);
        if (c.expected == nullptr) {
            EXPECT_EQ(answer, "") << c.name;
        } else {
            EXPECT_NE(answer.find(c.expected), std::string::npos) << c.name << ": " << answer;
        }
    }
}

}  // namespace
