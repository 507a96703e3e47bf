// The DCB <-> termios translation, as tables: what each DCB field does to the line, and
// that a DCB read back from the line it set says the same.
#include <gtest/gtest.h>
#include <termios.h>

#include <cstring>

#include "platform/posix/line_settings.h"

namespace tarvic::test {
namespace {

using posix::DcbFromTermios;
using posix::TermiosFromDcb;

struct LineCase {
    const char* name;
    DWORD baud = 9600;
    BYTE byteSize = 8;
    BYTE parity = NOPARITY;
    BYTE stopBits = ONESTOPBIT;
    bool ctsFlow = false;
    DWORD rtsControl = RTS_CONTROL_ENABLE;
    bool outX = false, inX = false, checkParity = false;
    // What the line must show.
    speed_t speed = B9600;
    tcflag_t size = CS8;
    tcflag_t cflagOn = 0;  // of PARENB, PARODD, CSTOPB, CRTSCTS
    tcflag_t iflagOn = 0;  // of IXON, IXOFF, INPCK
};

const LineCase kLines[] = {
    {.name = "9600 8N1"},
    {.name = "115200 7E2",
     .baud = 115200,
     .byteSize = 7,
     .parity = EVENPARITY,
     .stopBits = TWOSTOPBITS,
     .speed = B115200,
     .size = CS7,
     .cflagOn = PARENB | CSTOPB},
    {.name = "300 5O1",
     .baud = 300,
     .byteSize = 5,
     .parity = ODDPARITY,
     .speed = B300,
     .size = CS5,
     .cflagOn = PARENB | PARODD},
    {.name = "6 bits, parity checked",
     .byteSize = 6,
     .parity = EVENPARITY,
     .checkParity = true,
     .size = CS6,
     .cflagOn = PARENB,
     .iflagOn = INPCK},
    {.name = "CTS flow", .ctsFlow = true, .cflagOn = CRTSCTS},
    {.name = "RTS handshake", .rtsControl = RTS_CONTROL_HANDSHAKE, .cflagOn = CRTSCTS},
    {.name = "XON/XOFF both ways", .outX = true, .inX = true, .iflagOn = IXON | IXOFF},
    {.name = "4000000 baud", .baud = 4000000, .speed = B4000000},
};

DCB DcbOf(const LineCase& c) {
    DCB d{};
    d.DCBlength = sizeof d;
    d.BaudRate = c.baud;
    d.ByteSize = c.byteSize;
    d.Parity = c.parity;
    d.StopBits = c.stopBits;
    d.fBinary = 1;
    d.fOutxCtsFlow = c.ctsFlow;
    d.fDtrControl = DTR_CONTROL_ENABLE;
    d.fRtsControl = c.rtsControl;
    d.fOutX = c.outX;
    d.fInX = c.inX;
    d.fParity = c.checkParity;
    d.XonChar = 0x11;
    d.XoffChar = 0x13;
    return d;
}

// A line as a terminal leaves it: cooked, echoing, at another speed.
termios CookedLine() {
    termios t{};
    t.c_iflag = ICRNL | IXON | IXANY;
    t.c_oflag = OPOST | ONLCR;
    t.c_cflag = CS8 | CREAD | HUPCL | PARENB;
    t.c_lflag = ICANON | ECHO | ISIG;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 5;
    cfsetspeed(&t, B38400);
    return t;
}

TEST(LineSettings, EachDcbFieldSetsTheLineAndReadsBack) {
    for (const LineCase& c : kLines) {
        SCOPED_TRACE(c.name);
        const DCB dcb = DcbOf(c);
        termios t = CookedLine();
        ASSERT_TRUE(TermiosFromDcb(dcb, t));
        EXPECT_EQ(cfgetospeed(&t), c.speed);
        EXPECT_EQ(cfgetispeed(&t), c.speed);
        EXPECT_EQ(t.c_cflag & CSIZE, c.size);
        EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CSTOPB | CRTSCTS), c.cflagOn);
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF | INPCK), c.iflagOn);
        // Raw: no echo, no line editing, no output processing; a read waits for a byte.
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
        EXPECT_EQ(t.c_oflag & OPOST, 0u);
        EXPECT_EQ(t.c_iflag & (ICRNL | IXANY), 0u);
        EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
        EXPECT_EQ(t.c_cc[VMIN], 1);
        EXPECT_EQ(t.c_cc[VTIME], 0);
        EXPECT_EQ(t.c_cc[VSTART], 0x11);
        EXPECT_EQ(t.c_cc[VSTOP], 0x13);

        DCB kept{};
        kept.fDtrControl = DTR_CONTROL_DISABLE;
        kept.fRtsControl = RTS_CONTROL_ENABLE;
        const DCB back = DcbFromTermios(t, kept);
        EXPECT_EQ(back.DCBlength, sizeof(DCB));
        EXPECT_EQ(back.BaudRate, c.baud);
        EXPECT_EQ(back.ByteSize, c.byteSize);
        EXPECT_EQ(back.Parity, c.parity);
        EXPECT_EQ(back.StopBits, c.stopBits);
        EXPECT_EQ(back.fBinary, 1u);
        EXPECT_EQ(back.fParity, c.checkParity ? 1u : 0u);
        EXPECT_EQ(back.fOutX, c.outX ? 1u : 0u);
        EXPECT_EQ(back.fInX, c.inX ? 1u : 0u);
        const bool handshake = c.ctsFlow || c.rtsControl == RTS_CONTROL_HANDSHAKE;
        EXPECT_EQ(back.fOutxCtsFlow, handshake ? 1u : 0u);
        // termios has one flag for both directions of the handshake; without it, RTS is
        // what the caller kept, and DTR always is.
        EXPECT_EQ(back.fRtsControl,
                  handshake ? DWORD{RTS_CONTROL_HANDSHAKE} : DWORD{RTS_CONTROL_ENABLE});
        EXPECT_EQ(back.fDtrControl, DWORD{DTR_CONTROL_DISABLE});
        EXPECT_EQ(back.XonChar, 0x11);
        EXPECT_EQ(back.XoffChar, 0x13);
    }
}

TEST(LineSettings, ALineWithoutHandshakeTurnsAKeptHandshakeIntoEnable) {
    termios t = CookedLine();
    t.c_cflag &= ~CRTSCTS;
    DCB kept{};
    kept.fRtsControl = RTS_CONTROL_HANDSHAKE;
    EXPECT_EQ(DcbFromTermios(t, kept).fRtsControl, DWORD{RTS_CONTROL_ENABLE});
    kept.fRtsControl = RTS_CONTROL_DISABLE;
    EXPECT_EQ(DcbFromTermios(t, kept).fRtsControl, DWORD{RTS_CONTROL_DISABLE});
}

TEST(LineSettings, WhatTheLineCannotDoIsRefusedAndLeavesItAlone) {
    struct Bad {
        const char* name;
        DWORD baud = 9600;
        BYTE byteSize = 8;
        BYTE parity = NOPARITY;
        BYTE stopBits = ONESTOPBIT;
    };
    const Bad cases[] = {
        {.name = "4 bits", .byteSize = 4},
        {.name = "9 bits", .byteSize = 9},
        {.name = "mark parity", .parity = 3},
        {.name = "1.5 stop bits", .stopBits = ONE5STOPBITS},
        {.name = "no such speed", .baud = 12345},
        {.name = "zero speed", .baud = 0},
    };
    for (const Bad& c : cases) {
        SCOPED_TRACE(c.name);
        LineCase line{.name = c.name,
                      .baud = c.baud,
                      .byteSize = c.byteSize,
                      .parity = c.parity,
                      .stopBits = c.stopBits};
        const DCB dcb = DcbOf(line);
        EXPECT_FALSE(posix::DcbFits(dcb));
        termios t = CookedLine();
        const termios before = t;
        EXPECT_FALSE(TermiosFromDcb(dcb, t));
        EXPECT_EQ(std::memcmp(&t, &before, sizeof t), 0);
    }
}

}  // namespace
}  // namespace tarvic::test
