#include "platform/posix/port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tarvic::posix {

namespace {

// Internal holds this while an operation is under way, then its error code (0: success).
constexpr ULONG_PTR kPending = 0x103;
// The driver's own input queue; a Windows driver's is a few kilobytes.
constexpr size_t kInputQueueSize = 64 * 1024;

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

void MarkPending(OVERLAPPED* ov) {
    ov->InternalHigh = 0;
    std::atomic_ref<ULONG_PTR>(ov->Internal).store(kPending, std::memory_order_relaxed);
}

// The owner may reuse the record as soon as Internal changes: it is written last.
void Finish(OVERLAPPED* ov, DWORD status, DWORD n, const std::shared_ptr<Event>& event) {
    ov->InternalHigh = n;
    std::atomic_ref<ULONG_PTR>(ov->Internal).store(status, std::memory_order_release);
    if (event) {
        event->Set();
    }
}

// A pseudo-terminal has no modem lines; that is no failure.
bool ModemIoctl(int fd, unsigned long request, int bits) {
    if (ioctl(fd, request, &bits) == 0) {
        return true;
    }
    return errno == ENOTTY || errno == EINVAL;
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

}  // namespace

std::string PortDirectory() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        return std::string(xdg) + "/tarvic/ports";
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
        return std::string(home) + "/.config/tarvic/ports";
    }
    return {};
}

bool ResolvePortName(const char* name, std::string& path) {
    if (name == nullptr) {
        return false;
    }
    if (name[0] == '/') {
        path = name;
        return true;
    }
    if (std::strncmp(name, "\\\\.\\", 4) == 0) {
        name += 4;
    }
    if (std::strlen(name) < 4 || std::toupper(static_cast<unsigned char>(name[0])) != 'C' ||
        std::toupper(static_cast<unsigned char>(name[1])) != 'O' ||
        std::toupper(static_cast<unsigned char>(name[2])) != 'M') {
        return false;
    }
    const char* p = name + 3;
    unsigned long n = 0;
    const char* digits = p;
    while (std::isdigit(static_cast<unsigned char>(*p)) && n < 100000000) {
        n = n * 10 + static_cast<unsigned long>(*p - '0');
        ++p;
    }
    if (p == digits || n == 0 || !(*p == '\0' || (p[0] == ':' && p[1] == '\0'))) {
        return false;
    }
    std::string dir = PortDirectory();
    if (!dir.empty()) {
        std::string entry = dir + "/com" + std::to_string(n);
        struct stat st;
        if (lstat(entry.c_str(), &st) == 0) {
            path = entry;
            return true;
        }
    }
    path = "/dev/ttyS" + std::to_string(n - 1);
    return true;
}

std::shared_ptr<Port> Port::Start(int fd) {
    termios t;
    int wake = -1;
    if (tcgetattr(fd, &t) != 0 || (wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) < 0) {
        close(fd);
        return nullptr;
    }
    std::shared_ptr<Port> port(new Port(fd, wake));
    port->m_tiOpen = t;
    DCB kept{};
    kept.fDtrControl = DTR_CONTROL_ENABLE;
    kept.fRtsControl = RTS_CONTROL_ENABLE;
    port->m_dcbOpen = DcbFromTermios(t, kept);
    port->m_dcb = port->m_dcbOpen;
    try {
        // The driver holds the raw pointer only: Closed() joins it before the port can go.
        port->m_driver = std::thread([p = port.get()] { p->Drive(); });
    } catch (...) {
        return nullptr;  // the destructor closes the descriptors
    }
    return port;
}

Port::Port(int fd, int wakeFd) : m_fd(fd), m_wakeFd(wakeFd) {}

Port::~Port() {
    // Normally Closed() has run; a port that never got a handle still has its descriptors.
    if (m_driver.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_bClosed = true;
        }
        Wake();
        m_driver.join();
    }
    ioctl(m_fd, TIOCNXCL);
    close(m_fd);
    close(m_wakeFd);
}

void Port::Closed() {
    {
        std::lock_guard lock(m_mutex);
        if (m_bClosed) {
            return;
        }
        m_bClosed = true;
        FailPending(ERROR_OPERATION_ABORTED, ERROR_OPERATION_ABORTED);
    }
    Wake();
    m_driver.join();
}

void Port::Wake() {
    uint64_t one = 1;
    (void)!write(m_wakeFd, &one, sizeof one);
}

bool Port::Usable(bool needLine) {
    if (m_bClosed) {
        SetError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (needLine && m_bHungUp) {
        SetError(ERROR_DEVICE_NOT_CONNECTED);
        return false;
    }
    return true;
}

void Port::Drive() {
    std::unique_lock lock(m_mutex);
    while (!m_bClosed) {
        pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {m_fd, 0, 0}};
        nfds_t count = 1;
        if (!m_bHungUp) {
            fds[1].events = static_cast<short>(POLLIN | (m_writes.empty() ? 0 : POLLOUT));
            count = 2;
        }
        const auto deadline = NextDeadline();
        lock.unlock();
        timespec ts;
        timespec* limit = nullptr;
        if (deadline != Clock::time_point::max()) {
            auto left =
                std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
            if (left.count() < 0) {
                left = std::chrono::nanoseconds::zero();
            }
            ts.tv_sec = static_cast<time_t>(left.count() / 1000000000);
            ts.tv_nsec = static_cast<long>(left.count() % 1000000000);
            limit = &ts;
        }
        int ready = ppoll(fds, count, limit, nullptr);
        lock.lock();
        if (ready < 0) {
            continue;  // EINTR; anything else shows again in the next poll
        }
        if (fds[0].revents & POLLIN) {
            uint64_t value;
            (void)!read(m_wakeFd, &value, sizeof value);
        }
        if (count == 2 && !m_bClosed) {
            const short ev = fds[1].revents;
            if (ev & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) {
                Receive((ev & (POLLHUP | POLLERR | POLLNVAL)) != 0);
            }
            if (!m_bHungUp && (ev & POLLOUT)) {
                Transmit();
            }
        }
        ServiceReads(Clock::now());
    }
}

void Port::Drain() {
    // Bytes the tty holds but the driver has not taken yet count as arrived, so that the
    // queue a caller sees and the queue a read takes from are the same.
    if (!m_bHungUp && !m_bClosed) {
        Receive(false);
    }
}

void Port::Receive(bool hangUp) {
    bool arrived = false;
    for (;;) {
        BYTE chunk[4096];
        ssize_t n = read(m_fd, chunk, sizeof chunk);
        if (n > 0) {
            for (ssize_t i = 0; i < n; ++i) {
                if (m_input.size() < kInputQueueSize) {
                    m_input.push_back(chunk[i]);
                } else {
                    m_dwErrors |= CE_RXOVER;
                }
            }
            arrived = true;
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno == EAGAIN) {
            break;
        }
        hangUp = true;  // end of file or EIO: the far end is gone
        break;
    }
    if (arrived) {
        m_lastArrival = Clock::now();
        m_bRxHistory = true;
        if ((m_dwMask & EV_RXCHAR) && !m_waits.empty()) {
            m_bRxHistory = false;
            for (auto& op : m_waits) {
                CompleteWait(op, ERROR_SUCCESS, EV_RXCHAR);
            }
            m_waits.clear();
        }
    }
    if (hangUp) {
        HangUp();
    }
}

void Port::HangUp() {
    // Stop polling the descriptor (it would report the hang-up for ever) and fail what
    // waits on the line; reads still get what had arrived.
    m_bHungUp = true;
    FailPending(ERROR_DEVICE_NOT_CONNECTED, ERROR_SUCCESS);
}

void Port::FailPending(DWORD error, DWORD readWithBytes) {
    for (auto& op : m_reads) {
        DWORD n = Take(op.buf, op.count);
        CompleteRead(op, n > 0 ? readWithBytes : error, n);
    }
    for (auto& op : m_waits) {
        CompleteWait(op, error, 0);
    }
    for (auto& op : m_writes) {
        CompleteWrite(op, error);
    }
    m_reads.clear();
    m_waits.clear();
    m_writes.clear();
}

void Port::Transmit() {
    while (!m_writes.empty()) {
        WriteOp& op = m_writes.front();
        while (op.done < op.count) {
            ssize_t n = write(m_fd, op.buf + op.done, op.count - op.done);
            if (n > 0) {
                op.done += static_cast<DWORD>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno == EAGAIN) {
                return;
            }
            HangUp();
            return;
        }
        CompleteWrite(op, ERROR_SUCCESS);
        m_writes.pop_front();
    }
}

Port::Clock::time_point Port::NextDeadline() const {
    if (m_reads.empty()) {
        return Clock::time_point::max();
    }
    const ReadOp& op = m_reads.front();
    auto deadline = op.expiry;
    if (op.interval != 0 && !m_input.empty()) {
        deadline = std::min(deadline, m_lastArrival + std::chrono::milliseconds(op.interval));
    }
    return deadline;
}

void Port::ServiceReads(Clock::time_point now) {
    while (!m_reads.empty()) {
        ReadOp& op = m_reads.front();
        const bool full = m_input.size() >= op.count;
        const bool silent = op.interval != 0 && !m_input.empty() &&
                            now >= m_lastArrival + std::chrono::milliseconds(op.interval);
        if (!full && !silent && now < op.expiry) {
            return;
        }
        CompleteRead(op, ERROR_SUCCESS, Take(op.buf, op.count));
        m_reads.pop_front();
    }
}

DWORD Port::Take(BYTE* dest, DWORD count) {
    DWORD n = static_cast<DWORD>(std::min<size_t>(count, m_input.size()));
    std::copy(m_input.begin(), m_input.begin() + n, dest);
    m_input.erase(m_input.begin(), m_input.begin() + n);
    return n;
}

void Port::CompleteRead(ReadOp& op, DWORD status, DWORD n) {
    Finish(op.ov, status, n, op.event);
}

void Port::CompleteWait(WaitOp& op, DWORD status, DWORD mask) {
    *op.mask = mask;
    Finish(op.ov, status, 0, op.event);
}

void Port::CompleteWrite(WriteOp& op, DWORD status) {
    Finish(op.ov, status, op.done, op.event);
}

DWORD Port::QueuedOut() const {
    DWORD n = 0;
    for (const auto& op : m_writes) {
        n += op.count - op.done;
    }
    return n;
}

BOOL Port::GetState(DCB* dcb) {
    std::lock_guard lock(m_mutex);
    if (!Usable(false)) {
        return FALSE;
    }
    termios t;
    if (tcgetattr(m_fd, &t) != 0) {
        SetError(ErrorFromErrno(errno));
        return FALSE;
    }
    *dcb = DcbFromTermios(t, m_dcb);
    return TRUE;
}

bool Port::ApplyModemLines(const DCB& dcb) {
    const int dtr = TIOCM_DTR;
    const int rts = TIOCM_RTS;
    bool ok = ModemIoctl(m_fd, dcb.fDtrControl == DTR_CONTROL_DISABLE ? TIOCMBIC : TIOCMBIS, dtr);
    if (!(dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE)) {
        ok = ModemIoctl(m_fd, dcb.fRtsControl == RTS_CONTROL_DISABLE ? TIOCMBIC : TIOCMBIS, rts) &&
             ok;
    }
    return ok;
}

BOOL Port::SetState(const DCB* dcb) {
    static_assert(sizeof(DCB) == 28, "DCB is compared as bytes");
    std::lock_guard lock(m_mutex);
    if (!Usable(false)) {
        return FALSE;
    }
    termios t;
    if (std::memcmp(dcb, &m_dcbOpen, sizeof(DCB)) == 0) {
        t = m_tiOpen;  // putting back what was found at open
    } else {
        speed_t speed;
        if (dcb->ByteSize < 5 || dcb->ByteSize > 8 || dcb->Parity > EVENPARITY ||
            (dcb->StopBits != ONESTOPBIT && dcb->StopBits != TWOSTOPBITS) ||
            !BaudToSpeed(dcb->BaudRate, speed)) {
            SetError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        if (tcgetattr(m_fd, &t) != 0) {
            SetError(ErrorFromErrno(errno));
            return FALSE;
        }
        cfmakeraw(&t);
        t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
        t.c_cflag |= CLOCAL | CREAD;
        static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
        t.c_cflag |= kSizes[dcb->ByteSize - 5];
        if (dcb->Parity != NOPARITY) {
            t.c_cflag |= PARENB | (dcb->Parity == ODDPARITY ? PARODD : 0);
        }
        if (dcb->StopBits == TWOSTOPBITS) {
            t.c_cflag |= CSTOPB;
        }
        if (dcb->fOutxCtsFlow || dcb->fRtsControl == RTS_CONTROL_HANDSHAKE) {
            t.c_cflag |= CRTSCTS;
        }
        t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
        if (dcb->fOutX) {
            t.c_iflag |= IXON;
        }
        if (dcb->fInX) {
            t.c_iflag |= IXOFF;
        }
        if (dcb->fParity) {
            t.c_iflag |= INPCK;
        }
        if (dcb->XonChar != 0) {
            t.c_cc[VSTART] = static_cast<cc_t>(dcb->XonChar);
        }
        if (dcb->XoffChar != 0) {
            t.c_cc[VSTOP] = static_cast<cc_t>(dcb->XoffChar);
        }
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        cfsetspeed(&t, speed);
    }
    if (tcsetattr(m_fd, TCSANOW, &t) != 0) {
        SetError(ErrorFromErrno(errno));
        return FALSE;
    }
    // tcsetattr succeeds when any part applied; the speed is the part that can be refused.
    termios now;
    if (tcgetattr(m_fd, &now) != 0 || cfgetospeed(&now) != cfgetospeed(&t)) {
        SetError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    m_dcb = *dcb;
    if (!ApplyModemLines(*dcb)) {
        SetError(ErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

BOOL Port::GetTimeouts(COMMTIMEOUTS* cto) {
    std::lock_guard lock(m_mutex);
    if (!Usable(false)) {
        return FALSE;
    }
    *cto = m_cto;
    return TRUE;
}

BOOL Port::SetTimeouts(const COMMTIMEOUTS* cto) {
    std::lock_guard lock(m_mutex);
    if (!Usable(false)) {
        return FALSE;
    }
    m_cto = *cto;
    return TRUE;
}

BOOL Port::SetMask(DWORD mask) {
    std::lock_guard lock(m_mutex);
    if (!Usable(false)) {
        return FALSE;
    }
    m_dwMask = mask;
    // A pending wait ends with an empty mask when the mask changes.
    for (auto& op : m_waits) {
        CompleteWait(op, ERROR_SUCCESS, 0);
    }
    m_waits.clear();
    return TRUE;
}

BOOL Port::Purge(DWORD flags) {
    std::lock_guard lock(m_mutex);
    if (!Usable(true)) {
        return FALSE;
    }
    if (flags & PURGE_RXABORT) {
        for (auto& op : m_reads) {
            CompleteRead(op, ERROR_OPERATION_ABORTED, 0);
        }
        m_reads.clear();
    }
    if (flags & PURGE_TXABORT) {
        for (auto& op : m_writes) {
            CompleteWrite(op, ERROR_OPERATION_ABORTED);
        }
        m_writes.clear();
    }
    int queues = -1;
    if ((flags & PURGE_RXCLEAR) && (flags & PURGE_TXCLEAR)) {
        queues = TCIOFLUSH;
    } else if (flags & PURGE_RXCLEAR) {
        queues = TCIFLUSH;
    } else if (flags & PURGE_TXCLEAR) {
        queues = TCOFLUSH;
    }
    if (flags & PURGE_RXCLEAR) {
        m_input.clear();
        m_bRxHistory = false;
    }
    if (queues != -1 && tcflush(m_fd, queues) != 0) {
        SetError(ErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

BOOL Port::Escape(DWORD func) {
    std::lock_guard lock(m_mutex);
    if (!Usable(true)) {
        return FALSE;
    }
    bool ok;
    switch (func) {
        case SETDTR:
            ok = ModemIoctl(m_fd, TIOCMBIS, TIOCM_DTR);
            break;
        case CLRDTR:
            ok = ModemIoctl(m_fd, TIOCMBIC, TIOCM_DTR);
            break;
        case SETRTS:
            ok = ModemIoctl(m_fd, TIOCMBIS, TIOCM_RTS);
            break;
        case CLRRTS:
            ok = ModemIoctl(m_fd, TIOCMBIC, TIOCM_RTS);
            break;
        case SETXOFF:
            ok = tcflow(m_fd, TCOOFF) == 0;
            break;
        case SETXON:
            ok = tcflow(m_fd, TCOON) == 0;
            break;
        default:
            SetError(ERROR_INVALID_PARAMETER);
            return FALSE;
    }
    if (!ok) {
        SetError(ErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

BOOL Port::ClearError(DWORD* errors, COMSTAT* stat) {
    std::lock_guard lock(m_mutex);
    if (!Usable(false)) {
        return FALSE;
    }
    if (errors != nullptr) {
        *errors = m_dwErrors;
    }
    m_dwErrors = 0;
    if (stat != nullptr) {
        *stat = COMSTAT{};
        Drain();
        int outTty = 0;
        if (m_bHungUp || ioctl(m_fd, TIOCOUTQ, &outTty) != 0) {
            outTty = 0;
        }
        stat->cbInQue = static_cast<DWORD>(m_input.size());
        stat->cbOutQue = QueuedOut() + static_cast<DWORD>(outTty);
    }
    return TRUE;
}

namespace {

// Runs an overlapped operation to its end for a caller that passed no OVERLAPPED.
template <class Start>
BOOL RunToEnd(Start start, DWORD* done) {
    auto event = std::make_shared<Event>(true, false);
    OVERLAPPED ov{};
    std::atomic_ref<ULONG_PTR> state(ov.Internal);
    if (start(&ov, event)) {
        if (done != nullptr) {
            *done = static_cast<DWORD>(ov.InternalHigh);
        }
        return TRUE;
    }
    if (LastError() != ERROR_IO_PENDING) {
        return FALSE;
    }
    const std::vector<Event*> events{event.get()};
    while (state.load(std::memory_order_acquire) == kPending) {
        WaitEvents(events, false, INFINITE);
    }
    if (done != nullptr) {
        *done = static_cast<DWORD>(ov.InternalHigh);
    }
    DWORD status = static_cast<DWORD>(state.load(std::memory_order_acquire));
    if (status != ERROR_SUCCESS) {
        SetError(status);
        return FALSE;
    }
    return TRUE;
}

std::shared_ptr<Event> EventOf(OVERLAPPED* ov) {
    if (ov->hEvent == nullptr) {
        return nullptr;
    }
    return LookupAs<Event>(ov->hEvent);
}

}  // namespace

BOOL Port::WaitEvent(DWORD* mask, OVERLAPPED* ov) {
    if (mask == nullptr) {
        SetError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (ov == nullptr) {
        return RunToEnd([&](OVERLAPPED* o,
                            std::shared_ptr<Event> e) { return StartWait(mask, o, std::move(e)); },
                        nullptr);
    }
    return StartWait(mask, ov, EventOf(ov));
}

BOOL Port::StartWait(DWORD* mask, OVERLAPPED* ov, std::shared_ptr<Event> event) {
    std::lock_guard lock(m_mutex);
    if (!Usable(true)) {
        return FALSE;
    }
    if (m_dwMask == 0 || !m_waits.empty()) {
        SetError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (event) {
        event->Reset();
    }
    Drain();
    // The character event is latched: one that arrived since the last completed wait
    // completes this one at once, whether or not the bytes are still queued.
    if ((m_dwMask & EV_RXCHAR) && m_bRxHistory) {
        m_bRxHistory = false;
        *mask = EV_RXCHAR;
        Finish(ov, ERROR_SUCCESS, 0, event);
        return TRUE;
    }
    MarkPending(ov);
    m_waits.push_back({ov, mask, std::move(event)});
    SetError(ERROR_IO_PENDING);
    return FALSE;
}

BOOL Port::Read(void* buf, DWORD count, DWORD* done, OVERLAPPED* ov) {
    if (buf == nullptr && count != 0) {
        SetError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (ov == nullptr) {
        return RunToEnd(
            [&](OVERLAPPED* o, std::shared_ptr<Event> e) {
                return StartRead(static_cast<BYTE*>(buf), count, nullptr, o, std::move(e));
            },
            done);
    }
    return StartRead(static_cast<BYTE*>(buf), count, done, ov, EventOf(ov));
}

BOOL Port::StartRead(BYTE* buf, DWORD count, DWORD* done, OVERLAPPED* ov,
                     std::shared_ptr<Event> event) {
    std::lock_guard lock(m_mutex);
    if (!Usable(false)) {
        return FALSE;
    }
    Drain();
    if (m_bHungUp && m_input.empty()) {
        SetError(ERROR_DEVICE_NOT_CONNECTED);
        return FALSE;
    }
    if (event) {
        event->Reset();
    }
    const COMMTIMEOUTS& cto = m_cto;
    const bool totals = cto.ReadTotalTimeoutMultiplier != 0 || cto.ReadTotalTimeoutConstant != 0;
    const auto now = Clock::now();
    const bool returnAtOnce = cto.ReadIntervalTimeout == 0xFFFFFFFFu && !totals;
    DWORD interval = cto.ReadIntervalTimeout == 0xFFFFFFFFu ? 0 : cto.ReadIntervalTimeout;
    const bool silent = interval != 0 && !m_input.empty() &&
                        now >= m_lastArrival + std::chrono::milliseconds(interval);
    if (m_reads.empty() && (m_input.size() >= count || returnAtOnce || silent || m_bHungUp)) {
        DWORD n = Take(buf, count);
        if (done != nullptr) {
            *done = n;
        }
        Finish(ov, ERROR_SUCCESS, n, event);
        return TRUE;
    }
    auto expiry = Clock::time_point::max();
    if (totals) {
        uint64_t ms =
            uint64_t{cto.ReadTotalTimeoutMultiplier} * count + cto.ReadTotalTimeoutConstant;
        expiry = now + std::chrono::milliseconds(ms);
    }
    if (cto.ReadIntervalTimeout == 0xFFFFFFFFu && totals) {
        interval = 0;  // returns as soon as anything has arrived
        if (!m_input.empty()) {
            DWORD n = Take(buf, count);
            if (done != nullptr) {
                *done = n;
            }
            Finish(ov, ERROR_SUCCESS, n, event);
            return TRUE;
        }
    }
    MarkPending(ov);
    m_reads.push_back({ov, buf, count, std::move(event), interval, expiry});
    Wake();
    SetError(ERROR_IO_PENDING);
    return FALSE;
}

BOOL Port::Write(const void* buf, DWORD count, DWORD* done, OVERLAPPED* ov) {
    if (buf == nullptr && count != 0) {
        SetError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (ov == nullptr) {
        return RunToEnd(
            [&](OVERLAPPED* o, std::shared_ptr<Event> e) {
                return StartWrite(static_cast<const BYTE*>(buf), count, nullptr, o, std::move(e));
            },
            done);
    }
    return StartWrite(static_cast<const BYTE*>(buf), count, done, ov, EventOf(ov));
}

BOOL Port::StartWrite(const BYTE* buf, DWORD count, DWORD* done, OVERLAPPED* ov,
                      std::shared_ptr<Event> event) {
    std::lock_guard lock(m_mutex);
    if (!Usable(true)) {
        return FALSE;
    }
    if (event) {
        event->Reset();
    }
    DWORD written = 0;
    if (m_writes.empty()) {
        while (written < count) {
            ssize_t n = write(m_fd, buf + written, count - written);
            if (n > 0) {
                written += static_cast<DWORD>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno == EAGAIN) {
                break;
            }
            DWORD error = n < 0 ? ErrorFromErrno(errno) : ERROR_GEN_FAILURE;
            if (n < 0 && errno == EIO) {
                HangUp();
            }
            SetError(error);
            return FALSE;
        }
        if (written == count) {
            if (done != nullptr) {
                *done = written;
            }
            Finish(ov, ERROR_SUCCESS, written, event);
            return TRUE;
        }
    }
    MarkPending(ov);
    m_writes.push_back({ov, buf, count, written, std::move(event)});
    Wake();
    SetError(ERROR_IO_PENDING);
    return FALSE;
}

BOOL Port::Cancel(OVERLAPPED* ov) {
    std::lock_guard lock(m_mutex);
    if (!Usable(false)) {
        return FALSE;
    }
    bool found = false;
    for (auto it = m_reads.begin(); it != m_reads.end();) {
        if (ov == nullptr || it->ov == ov) {
            // A cancelled read keeps what it had received.
            CompleteRead(*it, ERROR_OPERATION_ABORTED, Take(it->buf, it->count));
            it = m_reads.erase(it);
            found = true;
        } else {
            ++it;
        }
    }
    for (auto it = m_waits.begin(); it != m_waits.end();) {
        if (ov == nullptr || it->ov == ov) {
            CompleteWait(*it, ERROR_OPERATION_ABORTED, 0);
            it = m_waits.erase(it);
            found = true;
        } else {
            ++it;
        }
    }
    for (auto it = m_writes.begin(); it != m_writes.end();) {
        if (ov == nullptr || it->ov == ov) {
            CompleteWrite(*it, ERROR_OPERATION_ABORTED);
            it = m_writes.erase(it);
            found = true;
        } else {
            ++it;
        }
    }
    if (!found) {
        SetError(ERROR_NOT_FOUND);
        return FALSE;
    }
    Wake();
    return TRUE;
}

}  // namespace tarvic::posix
