// The OS calls of platform/winapi.h on POSIX. Each exported call forwards through the
// installed table (seam.h); the real table is implemented here over the kernel objects
// (kernel.h) and serial ports (port.h).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include "platform/posix/kernel.h"
#include "platform/posix/port.h"
#include "platform/posix/port_name.h"
#include "platform/posix/seam.h"
#include "platform/winapi.h"

namespace tarvic::posix {

namespace {

std::shared_ptr<Port> PortOf(HANDLE h) {
    auto port = LookupAs<Port>(h);
    if (!port) {
        SetError(ERROR_INVALID_HANDLE);
    }
    return port;
}

template <class F>
BOOL WithPort(HANDLE h, F f) {
    auto port = PortOf(h);
    return port ? f(*port) : FALSE;
}

HANDLE RealCreateFileA(LPCSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    std::string path;
    if (!ResolvePortName(name, path)) {
        SetError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        SetErrnoError(errno);
        return INVALID_HANDLE_VALUE;
    }
    if (!isatty(fd)) {
        close(fd);
        SetError(ERROR_NOT_SUPPORTED);
        return INVALID_HANDLE_VALUE;
    }
    // No sharing, as far as the system allows: the lock keeps out every opener that locks
    // (root too, whom TIOCEXCL does not stop); TIOCEXCL keeps out later unprivileged
    // openers that do not lock. An earlier opener goes unnoticed.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int err = errno;
        close(fd);
        if (err == EWOULDBLOCK) {
            SetError(ERROR_SHARING_VIOLATION);
        } else {
            SetErrnoError(err);
        }
        return INVALID_HANDLE_VALUE;
    }
    ioctl(fd, TIOCEXCL);
    auto port = Port::Start(fd);
    if (!port) {
        SetError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    return Register(std::move(port));
}

BOOL RealGetCommState(HANDLE h, LPDCB dcb) {
    if (dcb == nullptr) {
        SetError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return WithPort(h, [&](Port& p) { return p.GetState(dcb); });
}

BOOL RealSetCommState(HANDLE h, LPDCB dcb) {
    if (dcb == nullptr) {
        SetError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return WithPort(h, [&](Port& p) { return p.SetState(dcb); });
}

BOOL RealGetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS cto) {
    if (cto == nullptr) {
        SetError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return WithPort(h, [&](Port& p) { return p.GetTimeouts(cto); });
}

BOOL RealSetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS cto) {
    if (cto == nullptr) {
        SetError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return WithPort(h, [&](Port& p) { return p.SetTimeouts(cto); });
}

BOOL RealSetCommMask(HANDLE h, DWORD mask) {
    return WithPort(h, [&](Port& p) { return p.SetMask(mask); });
}

BOOL RealPurgeComm(HANDLE h, DWORD flags) {
    return WithPort(h, [&](Port& p) { return p.Purge(flags); });
}

BOOL RealEscapeCommFunction(HANDLE h, DWORD func) {
    return WithPort(h, [&](Port& p) { return p.Escape(func); });
}

BOOL RealWaitCommEvent(HANDLE h, LPDWORD mask, LPOVERLAPPED ov) {
    return WithPort(h, [&](Port& p) { return p.WaitEvent(mask, ov); });
}

BOOL RealClearCommError(HANDLE h, LPDWORD errors, LPCOMSTAT stat) {
    return WithPort(h, [&](Port& p) { return p.ClearError(errors, stat); });
}

BOOL RealReadFile(HANDLE h, LPVOID buf, DWORD count, LPDWORD done, LPOVERLAPPED ov) {
    return WithPort(h, [&](Port& p) { return p.Read(buf, count, done, ov); });
}

BOOL RealWriteFile(HANDLE h, LPCVOID buf, DWORD count, LPDWORD done, LPOVERLAPPED ov) {
    return WithPort(h, [&](Port& p) { return p.Write(buf, count, done, ov); });
}

BOOL RealGetOverlappedResult(HANDLE h, LPOVERLAPPED ov, LPDWORD transferred, BOOL wait) {
    if (!Lookup(h)) {
        SetError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (ov == nullptr) {
        SetError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::atomic_ref<ULONG_PTR> state(ov->Internal);
    ULONG_PTR status = state.load(std::memory_order_acquire);
    if (status == STATUS_PENDING) {
        if (!wait) {
            SetError(ERROR_IO_INCOMPLETE);
            return FALSE;
        }
        while ((status = state.load(std::memory_order_acquire)) == STATUS_PENDING) {
            HANDLE event = ov->hEvent;
            if (event == nullptr || WaitHandles(1, &event, false, INFINITE) != WAIT_OBJECT_0 ||
                state.load(std::memory_order_acquire) == STATUS_PENDING) {
                // No usable event, or one set by someone else: look again shortly.
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    }
    if (transferred != nullptr) {
        *transferred = static_cast<DWORD>(ov->InternalHigh);
    }
    if (status != ERROR_SUCCESS) {
        SetError(static_cast<DWORD>(status));
        return FALSE;
    }
    return TRUE;
}

BOOL RealCancelIoEx(HANDLE h, LPOVERLAPPED ov) {
    return WithPort(h, [&](Port& p) { return p.Cancel(ov); });
}

HANDLE RealCreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR name) {
    if (name != nullptr) {
        SetError(ERROR_NOT_SUPPORTED);  // named events are not needed here
        return nullptr;
    }
    return Register(std::make_shared<Event>(manualReset != FALSE, initialState != FALSE));
}

BOOL RealSetEvent(HANDLE h) {
    auto event = LookupAs<Event>(h);
    if (!event) {
        SetError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    event->Set();
    return TRUE;
}

BOOL RealResetEvent(HANDLE h) {
    auto event = LookupAs<Event>(h);
    if (!event) {
        SetError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    event->Reset();
    return TRUE;
}

DWORD RealWaitForSingleObject(HANDLE h, DWORD ms) {
    return WaitHandles(1, &h, false, ms);
}

DWORD RealWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms) {
    return WaitHandles(count, handles, waitAll != FALSE, ms);
}

HANDLE RealCreateThread(LPSECURITY_ATTRIBUTES, size_t, LPTHREAD_START_ROUTINE proc, LPVOID param,
                        DWORD, LPDWORD id) {
    return NewThread(proc, param, id);
}

void RealSleep(DWORD ms) {
    if (ms == INFINITE) {
        for (;;) {
            std::this_thread::sleep_for(std::chrono::hours(24));
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

BOOL RealCloseHandle(HANDLE h) {
    auto object = Unregister(h);
    if (!object) {
        SetError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    object->Closed();
    return TRUE;
}

DWORD RealGetLastError() {
    return LastError();
}
void RealSetLastError(DWORD code) {
    SetError(code);
}

constexpr Ops kReal = {
    RealCreateFileA,
    RealGetCommState,
    RealSetCommState,
    RealGetCommTimeouts,
    RealSetCommTimeouts,
    RealSetCommMask,
    RealPurgeComm,
    RealEscapeCommFunction,
    RealWaitCommEvent,
    RealClearCommError,
    RealReadFile,
    RealWriteFile,
    RealGetOverlappedResult,
    RealCancelIoEx,
    RealCreateEventA,
    RealSetEvent,
    RealResetEvent,
    RealWaitForSingleObject,
    RealWaitForMultipleObjects,
    RealCreateThread,
    RealSleep,
    RealCloseHandle,
    RealGetLastError,
    RealSetLastError,
};

std::atomic<const Ops*> g_ops{&kReal};

const Ops& Current() {
    return *g_ops.load(std::memory_order_acquire);
}

}  // namespace

const Ops& RealOps() {
    return kReal;
}
const Ops& CurrentOps() {
    return Current();
}
void InstallOps(const Ops* ops) {
    g_ops.store(ops ? ops : &kReal, std::memory_order_release);
}

}  // namespace tarvic::posix

using tarvic::posix::Current;

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                          DWORD disposition, DWORD flags, HANDLE templ) {
    return Current().CreateFileA(name, access, share, sa, disposition, flags, templ);
}
BOOL WINAPI GetCommState(HANDLE port, LPDCB dcb) {
    return Current().GetCommState(port, dcb);
}
BOOL WINAPI SetCommState(HANDLE port, LPDCB dcb) {
    return Current().SetCommState(port, dcb);
}
BOOL WINAPI GetCommTimeouts(HANDLE port, LPCOMMTIMEOUTS cto) {
    return Current().GetCommTimeouts(port, cto);
}
BOOL WINAPI SetCommTimeouts(HANDLE port, LPCOMMTIMEOUTS cto) {
    return Current().SetCommTimeouts(port, cto);
}
BOOL WINAPI SetCommMask(HANDLE port, DWORD mask) {
    return Current().SetCommMask(port, mask);
}
BOOL WINAPI PurgeComm(HANDLE port, DWORD flags) {
    return Current().PurgeComm(port, flags);
}
BOOL WINAPI EscapeCommFunction(HANDLE port, DWORD func) {
    return Current().EscapeCommFunction(port, func);
}
BOOL WINAPI WaitCommEvent(HANDLE port, LPDWORD mask, LPOVERLAPPED ov) {
    return Current().WaitCommEvent(port, mask, ov);
}
BOOL WINAPI ClearCommError(HANDLE port, LPDWORD errors, LPCOMSTAT stat) {
    return Current().ClearCommError(port, errors, stat);
}
BOOL WINAPI ReadFile(HANDLE file, LPVOID buf, DWORD toRead, LPDWORD read, LPOVERLAPPED ov) {
    return Current().ReadFile(file, buf, toRead, read, ov);
}
BOOL WINAPI WriteFile(HANDLE file, LPCVOID buf, DWORD toWrite, LPDWORD written, LPOVERLAPPED ov) {
    return Current().WriteFile(file, buf, toWrite, written, ov);
}
BOOL WINAPI GetOverlappedResult(HANDLE file, LPOVERLAPPED ov, LPDWORD transferred, BOOL wait) {
    return Current().GetOverlappedResult(file, ov, transferred, wait);
}
BOOL WINAPI CancelIoEx(HANDLE file, LPOVERLAPPED ov) {
    return Current().CancelIoEx(file, ov);
}
HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES sa, BOOL manualReset, BOOL initialState,
                           LPCSTR name) {
    return Current().CreateEventA(sa, manualReset, initialState, name);
}
BOOL WINAPI SetEvent(HANDLE event) {
    return Current().SetEvent(event);
}
BOOL WINAPI ResetEvent(HANDLE event) {
    return Current().ResetEvent(event);
}
DWORD WINAPI WaitForSingleObject(HANDLE h, DWORD ms) {
    return Current().WaitForSingleObject(h, ms);
}
DWORD WINAPI WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms) {
    return Current().WaitForMultipleObjects(count, handles, waitAll, ms);
}
HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES sa, size_t stack, LPTHREAD_START_ROUTINE proc,
                           LPVOID param, DWORD flags, LPDWORD id) {
    return Current().CreateThread(sa, stack, proc, param, flags, id);
}
void WINAPI Sleep(DWORD ms) {
    Current().Sleep(ms);
}
BOOL WINAPI CloseHandle(HANDLE h) {
    return Current().CloseHandle(h);
}
DWORD WINAPI GetLastError(void) {
    return Current().GetLastError();
}
void WINAPI SetLastError(DWORD code) {
    Current().SetLastError(code);
}
