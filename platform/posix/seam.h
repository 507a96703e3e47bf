// The one seam between the OS calls of platform/winapi.h and their implementation here.
// Every exported call forwards through the table that is installed, so a test can make
// any operation fail or answer as it likes, and nothing in production code knows.
#pragma once

#include "platform/winapi.h"

namespace tarvic::posix {

struct Ops {
    HANDLE(*CreateFileA)
    (LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD disposition,
     DWORD flags, HANDLE templ);
    BOOL (*GetCommState)(HANDLE port, LPDCB dcb);
    BOOL (*SetCommState)(HANDLE port, LPDCB dcb);
    BOOL (*GetCommTimeouts)(HANDLE port, LPCOMMTIMEOUTS cto);
    BOOL (*SetCommTimeouts)(HANDLE port, LPCOMMTIMEOUTS cto);
    BOOL (*SetCommMask)(HANDLE port, DWORD mask);
    BOOL (*PurgeComm)(HANDLE port, DWORD flags);
    BOOL (*EscapeCommFunction)(HANDLE port, DWORD func);
    BOOL (*WaitCommEvent)(HANDLE port, LPDWORD mask, LPOVERLAPPED ov);
    BOOL (*ClearCommError)(HANDLE port, LPDWORD errors, LPCOMSTAT stat);
    BOOL (*ReadFile)(HANDLE file, LPVOID buf, DWORD toRead, LPDWORD read, LPOVERLAPPED ov);
    BOOL (*WriteFile)(HANDLE file, LPCVOID buf, DWORD toWrite, LPDWORD written, LPOVERLAPPED ov);
    BOOL (*GetOverlappedResult)(HANDLE file, LPOVERLAPPED ov, LPDWORD transferred, BOOL wait);
    BOOL (*CancelIoEx)(HANDLE file, LPOVERLAPPED ov);
    HANDLE(*CreateEventA)
    (LPSECURITY_ATTRIBUTES sa, BOOL manualReset, BOOL initialState, LPCSTR name);
    BOOL (*SetEvent)(HANDLE event);
    BOOL (*ResetEvent)(HANDLE event);
    DWORD (*WaitForSingleObject)(HANDLE h, DWORD ms);
    DWORD (*WaitForMultipleObjects)(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms);
    HANDLE(*CreateThread)
    (LPSECURITY_ATTRIBUTES sa, size_t stack, LPTHREAD_START_ROUTINE proc, LPVOID param, DWORD flags,
     LPDWORD id);
    void (*Sleep)(DWORD ms);
    BOOL (*CloseHandle)(HANDLE h);
    DWORD (*GetLastError)();
    void (*SetLastError)(DWORD code);
};

// The implementation over termios, poll, eventfd and std::thread.
const Ops& RealOps();

// The table calls go through now.
const Ops& CurrentOps();

// Routes every call through ops (nullptr: the real set). The table must stay alive while
// any thread may still call through it. Safe to call while other threads make calls.
void InstallOps(const Ops* ops);

// Installs a table for one scope and puts the previous one back.
class ScopedOps {
  public:
    explicit ScopedOps(const Ops& ops) : m_previous(&CurrentOps()) { InstallOps(&ops); }
    ~ScopedOps() { InstallOps(m_previous); }
    ScopedOps(const ScopedOps&) = delete;
    ScopedOps& operator=(const ScopedOps&) = delete;

  private:
    const Ops* m_previous;
};

}  // namespace tarvic::posix
