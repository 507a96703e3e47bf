// The port's driver thread: it takes in whatever the line delivers, pushes out what is
// queued for it, and completes the pending operations when their conditions are met.
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/posix/line_settings.h"
#include "platform/posix/port.h"

namespace tarvic::posix {

namespace {

// The driver's own input queue; a Windows driver's is a few kilobytes.
constexpr size_t kInputQueueSize = 64 * 1024;

}  // namespace

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

void Port::ReadInQueued() {
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
            EndOps(m_waits, nullptr,
                   [&](WaitOp& op) { CompleteWait(op, ERROR_SUCCESS, EV_RXCHAR); });
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
    EndOps(m_reads, nullptr, [&](ReadOp& op) {
        const DWORD n = Take(op.buf, op.count);
        CompleteRead(op, n > 0 ? readWithBytes : error, n);
    });
    EndOps(m_waits, nullptr, [&](WaitOp& op) { CompleteWait(op, error, 0); });
    EndOps(m_writes, nullptr, [&](WriteOp& op) { CompleteWrite(op, error); });
}

void Port::Transmit() {
    while (!m_writes.empty()) {
        WriteOp& op = m_writes.front();
        const DWORD status = WriteOut(op.buf, op.count, op.done);
        if (status == ERROR_IO_PENDING) {
            return;
        }
        if (m_bHungUp) {
            return;  // the hang-up has ended every write
        }
        CompleteWrite(op, status);
        m_writes.pop_front();
    }
}

DWORD Port::WriteOut(const BYTE* buf, DWORD count, DWORD& done) {
    while (done < count) {
        const ssize_t n = write(m_fd, buf + done, count - done);
        if (n > 0) {
            done += static_cast<DWORD>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno == EAGAIN) {
            return ERROR_IO_PENDING;
        }
        if (n == 0) {
            return ERROR_GEN_FAILURE;
        }
        const int err = errno;
        // Only the line's loss ends the port's use; any other error is this write's.
        if (err == EIO || err == ENXIO || err == ENODEV) {
            HangUp();
        }
        return ErrorFromErrno(err);
    }
    return ERROR_SUCCESS;
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

void Port::MarkPending(OVERLAPPED* ov) {
    ov->InternalHigh = 0;
    std::atomic_ref<ULONG_PTR>(ov->Internal).store(STATUS_PENDING, std::memory_order_relaxed);
}

void Port::Finish(OVERLAPPED* ov, DWORD status, DWORD n, const std::shared_ptr<Event>& event) {
    ov->InternalHigh = n;
    std::atomic_ref<ULONG_PTR>(ov->Internal).store(status, std::memory_order_release);
    if (event) {
        event->Set();
    }
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

}  // namespace tarvic::posix
