#include "platform/posix/line_settings.h"

namespace tarvic::posix {
namespace {

struct Speed {
    DWORD baud;
    speed_t code;
};
constexpr Speed kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

}  // namespace

bool BaudToSpeed(DWORD baud, speed_t& code) {
    for (const auto& s : kSpeeds) {
        if (s.baud == baud) {
            code = s.code;
            return true;
        }
    }
    return false;
}

DWORD SpeedToBaud(speed_t code) {
    for (const auto& s : kSpeeds) {
        if (s.code == code) {
            return s.baud;
        }
    }
    return 0;
}

bool DcbFits(const DCB& dcb) {
    speed_t speed;
    return dcb.ByteSize >= 5 && dcb.ByteSize <= 8 && dcb.Parity <= EVENPARITY &&
           (dcb.StopBits == ONESTOPBIT || dcb.StopBits == TWOSTOPBITS) &&
           BaudToSpeed(dcb.BaudRate, speed);
}

DCB DcbFromTermios(const termios& t, const DCB& kept) {
    DCB d = kept;
    d.DCBlength = sizeof(DCB);
    d.BaudRate = SpeedToBaud(cfgetospeed(&t));
    switch (t.c_cflag & CSIZE) {
        case CS5:
            d.ByteSize = 5;
            break;
        case CS6:
            d.ByteSize = 6;
            break;
        case CS7:
            d.ByteSize = 7;
            break;
        default:
            d.ByteSize = 8;
            break;
    }
    d.Parity = (t.c_cflag & PARENB) ? ((t.c_cflag & PARODD) ? ODDPARITY : EVENPARITY) : NOPARITY;
    d.StopBits = (t.c_cflag & CSTOPB) ? TWOSTOPBITS : ONESTOPBIT;
    d.fBinary = 1;
    d.fParity = (t.c_iflag & INPCK) ? 1 : 0;
    d.fOutxCtsFlow = (t.c_cflag & CRTSCTS) ? 1 : 0;
    if (t.c_cflag & CRTSCTS) {
        d.fRtsControl = RTS_CONTROL_HANDSHAKE;
    } else if (d.fRtsControl == RTS_CONTROL_HANDSHAKE) {
        d.fRtsControl = RTS_CONTROL_ENABLE;
    }
    d.fOutX = (t.c_iflag & IXON) ? 1 : 0;
    d.fInX = (t.c_iflag & IXOFF) ? 1 : 0;
    d.XonChar = static_cast<char>(t.c_cc[VSTART]);
    d.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
    return d;
}

bool TermiosFromDcb(const DCB& dcb, termios& t) {
    speed_t speed;
    if (!DcbFits(dcb) || !BaudToSpeed(dcb.BaudRate, speed)) {
        return false;
    }
    cfmakeraw(&t);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD;
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= kSizes[dcb.ByteSize - 5];
    if (dcb.Parity != NOPARITY) {
        t.c_cflag |= PARENB | (dcb.Parity == ODDPARITY ? PARODD : 0);
    }
    if (dcb.StopBits == TWOSTOPBITS) {
        t.c_cflag |= CSTOPB;
    }
    if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) {
        t.c_cflag |= CRTSCTS;
    }
    t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
    if (dcb.fOutX) {
        t.c_iflag |= IXON;
    }
    if (dcb.fInX) {
        t.c_iflag |= IXOFF;
    }
    if (dcb.fParity) {
        t.c_iflag |= INPCK;
    }
    if (dcb.XonChar != 0) {
        t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    }
    if (dcb.XoffChar != 0) {
        t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    }
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    cfsetspeed(&t, speed);
    return true;
}

}  // namespace tarvic::posix
