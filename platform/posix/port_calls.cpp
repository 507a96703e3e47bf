// The port's calls as Windows programs make them: line settings, time-outs, the event
// mask, purging, modem lines, and the overlapped wait, read and write.
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/posix/line_settings.h"
#include "platform/posix/port.h"

namespace tarvic::posix {

namespace {

// A pseudo-terminal has no modem lines; that is no failure.
bool ModemIoctl(int fd, unsigned long request, int bits) {
    if (ioctl(fd, request, &bits) == 0) {
        return true;
    }
    return errno == ENOTTY || errno == EINVAL;
}

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
    while (state.load(std::memory_order_acquire) == STATUS_PENDING) {
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

// Read, Write and WaitEvent: bad arguments fail at once; without an OVERLAPPED the call
// runs to its end, with one it starts there. start(done, ov, event) begins the operation.
template <class Start>
BOOL Overlapped(bool argumentsValid, DWORD* done, OVERLAPPED* ov, Start start) {
    if (!argumentsValid) {
        SetError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (ov == nullptr) {
        return RunToEnd([&](OVERLAPPED* o,
                            std::shared_ptr<Event> e) { return start(nullptr, o, std::move(e)); },
                        done);
    }
    return start(done, ov, EventOf(ov));
}

}  // namespace

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
        if (!DcbFits(*dcb)) {
            SetError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        if (tcgetattr(m_fd, &t) != 0) {
            SetError(ErrorFromErrno(errno));
            return FALSE;
        }
        TermiosFromDcb(*dcb, t);
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
    EndOps(m_waits, nullptr, [&](WaitOp& op) { CompleteWait(op, ERROR_SUCCESS, 0); });
    return TRUE;
}

BOOL Port::Purge(DWORD flags) {
    std::lock_guard lock(m_mutex);
    if (!Usable(true)) {
        return FALSE;
    }
    if (flags & PURGE_RXABORT) {
        EndOps(m_reads, nullptr, [&](ReadOp& op) { CompleteRead(op, ERROR_OPERATION_ABORTED, 0); });
    }
    if (flags & PURGE_TXABORT) {
        EndOps(m_writes, nullptr, [&](WriteOp& op) { CompleteWrite(op, ERROR_OPERATION_ABORTED); });
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
    // The modem-control lines: the request and the line's bit.
    struct LineChange {
        DWORD func;
        unsigned long request;
        int bit;
    };
    static constexpr LineChange kLines[] = {
        {SETDTR, TIOCMBIS, TIOCM_DTR},
        {CLRDTR, TIOCMBIC, TIOCM_DTR},
        {SETRTS, TIOCMBIS, TIOCM_RTS},
        {CLRRTS, TIOCMBIC, TIOCM_RTS},
    };
    bool ok;
    if (func == SETXOFF || func == SETXON) {
        ok = tcflow(m_fd, func == SETXOFF ? TCOOFF : TCOON) == 0;
    } else {
        const auto line = std::find_if(std::begin(kLines), std::end(kLines),
                                       [&](const LineChange& l) { return l.func == func; });
        if (line == std::end(kLines)) {
            SetError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        ok = ModemIoctl(m_fd, line->request, line->bit);
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
        ReadInQueued();
        int outTty = 0;
        if (m_bHungUp || ioctl(m_fd, TIOCOUTQ, &outTty) != 0) {
            outTty = 0;
        }
        stat->cbInQue = static_cast<DWORD>(m_input.size());
        stat->cbOutQue = QueuedOut() + static_cast<DWORD>(outTty);
    }
    return TRUE;
}

BOOL Port::WaitEvent(DWORD* mask, OVERLAPPED* ov) {
    return Overlapped(mask != nullptr, nullptr, ov,
                      [&](DWORD*, OVERLAPPED* o, std::shared_ptr<Event> e) {
                          return StartWait(mask, o, std::move(e));
                      });
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
    ReadInQueued();
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
    return Overlapped(buf != nullptr || count == 0, done, ov,
                      [&](DWORD* d, OVERLAPPED* o, std::shared_ptr<Event> e) {
                          return StartRead(static_cast<BYTE*>(buf), count, d, o, std::move(e));
                      });
}

BOOL Port::StartRead(BYTE* buf, DWORD count, DWORD* done, OVERLAPPED* ov,
                     std::shared_ptr<Event> event) {
    std::lock_guard lock(m_mutex);
    if (!Usable(false)) {
        return FALSE;
    }
    ReadInQueued();
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
    const bool returnAtOnce = cto.ReadIntervalTimeout == MAXDWORD && !totals;
    DWORD interval = cto.ReadIntervalTimeout == MAXDWORD ? 0 : cto.ReadIntervalTimeout;
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
    if (cto.ReadIntervalTimeout == MAXDWORD && totals) {
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
    return Overlapped(buf != nullptr || count == 0, done, ov,
                      [&](DWORD* d, OVERLAPPED* o, std::shared_ptr<Event> e) {
                          return StartWrite(static_cast<const BYTE*>(buf), count, d, o,
                                            std::move(e));
                      });
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
        const DWORD status = WriteOut(buf, count, written);
        if (status != ERROR_SUCCESS && status != ERROR_IO_PENDING) {
            SetError(status);
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
    // A cancelled read keeps what it had received.
    bool found = EndOps(m_reads, ov, [&](ReadOp& op) {
        CompleteRead(op, ERROR_OPERATION_ABORTED, Take(op.buf, op.count));
    });
    found =
        EndOps(m_waits, ov, [&](WaitOp& op) { CompleteWait(op, ERROR_OPERATION_ABORTED, 0); }) ||
        found;
    found =
        EndOps(m_writes, ov, [&](WriteOp& op) { CompleteWrite(op, ERROR_OPERATION_ABORTED); }) ||
        found;
    if (!found) {
        SetError(ERROR_NOT_FOUND);
        return FALSE;
    }
    Wake();
    return TRUE;
}

}  // namespace tarvic::posix
