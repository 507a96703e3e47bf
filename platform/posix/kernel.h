// Kernel objects behind HANDLEs: a registry of reference-counted objects, manual- and
// auto-reset events, threads, and waits on them.
#pragma once

#include <memory>
#include <vector>

#include "platform/winapi.h"

namespace tarvic::posix {

void SetError(DWORD code);
// The code for errno value err, keeping err itself for the error's text.
void SetErrnoError(int err);
DWORD LastError();
// The errno that the last error came from, or 0.
int LastErrno();
// The closest error code for an errno value.
DWORD ErrorFromErrno(int err);

class Event;

class KObject {
  public:
    virtual ~KObject() = default;
    // The event that is set while the object is signalled, or nullptr.
    virtual Event* Waitable() { return nullptr; }
    // The handle has been closed; the object may live on while others still use it.
    virtual void Closed() {}
};

// As on Windows, a wait is satisfied when the event is set: a waiter blocked at that
// moment is released even if the event is reset again at once.
class Event : public KObject {
  public:
    Event(bool manualReset, bool signalled)
        : m_bManualReset(manualReset), m_bSignalled(signalled) {}
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    Event* Waitable() override { return this; }
    void Set();
    void Reset();

  private:
    friend DWORD WaitEvents(const std::vector<Event*>& events, bool waitAll, DWORD ms);
    struct Waiter;
    const bool m_bManualReset;
    bool m_bSignalled;
    std::vector<Waiter*> m_waiters;
};

// WAIT_OBJECT_0 + index, WAIT_TIMEOUT; the lowest index wins among events already set.
DWORD WaitEvents(const std::vector<Event*>& events, bool waitAll, DWORD ms);

// HANDLE values are never reused, so a stale handle can only fail.
HANDLE Register(std::shared_ptr<KObject> object);
std::shared_ptr<KObject> Lookup(HANDLE h);
std::shared_ptr<KObject> Unregister(HANDLE h);
template <class T>
std::shared_ptr<T> LookupAs(HANDLE h) {
    return std::dynamic_pointer_cast<T>(Lookup(h));
}

HANDLE NewThread(LPTHREAD_START_ROUTINE proc, LPVOID param, LPDWORD id);
DWORD WaitHandles(DWORD count, const HANDLE* handles, bool waitAll, DWORD ms);

}  // namespace tarvic::posix
