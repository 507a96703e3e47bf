// Kernel objects behind HANDLEs: a registry of reference-counted objects, manual- and
// auto-reset events over eventfd, threads, and waits that are one poll over their fds.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/winapi.h"

namespace tarvic::posix {

void SetError(DWORD code);
DWORD LastError();
// The closest error code for an errno value.
DWORD ErrorFromErrno(int err);

class KObject {
  public:
    virtual ~KObject() = default;
    // A descriptor that polls readable while the object is signalled, or -1.
    virtual int WaitFd() const { return -1; }
    // Called when a wait saw WaitFd() readable; false if another waiter took the signal.
    virtual bool Take() {
        Observe();
        return true;
    }
    // The handle has been closed; the object may live on while others still use it.
    virtual void Closed() {}

  protected:
    // The signalling side publishes with Publish(), the waiting side pairs with Observe(),
    // so that what a thread wrote before a signal is visible after the wait (a poll on an
    // eventfd carries no ordering that the thread sanitizer can see).
    void Publish() { m_seq.fetch_add(1, std::memory_order_release); }
    void Observe() const { (void)m_seq.load(std::memory_order_acquire); }

  private:
    std::atomic<uint64_t> m_seq{0};
};

class Event : public KObject {
  public:
    // nullptr (and errno) when no eventfd can be had.
    static std::shared_ptr<Event> Create(bool manualReset, bool signalled);
    ~Event() override;
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    int WaitFd() const override { return m_fd; }
    bool Take() override;
    bool Set();
    bool Reset();

  private:
    Event(int fd, bool manualReset) : m_fd(fd), m_bManualReset(manualReset) {}
    int m_fd;
    bool m_bManualReset;
};

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
