#include "platform/posix/kernel.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace tarvic::posix {

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;
// The errno behind t_lastError when it came from one, else 0: its text is more exact than
// the code's.
thread_local int t_lastErrno = 0;

std::mutex g_registryMutex;
std::unordered_map<uintptr_t, std::shared_ptr<KObject>> g_registry;
// Starts well away from 0 and INVALID_HANDLE_VALUE; steps keep the values pointer-like.
uintptr_t g_nextHandle = 0x1000;
std::atomic<DWORD> g_nextThreadId{1};

// One lock for every event's state and waiters: waits span several events, and the
// operations under it are a few assignments.
std::mutex g_eventMutex;

class ThreadObject : public KObject {
  public:
    Event* Waitable() override { return &m_done; }
    void Finished() { m_done.Set(); }

  private:
    Event m_done{true, false};
};

using Clock = std::chrono::steady_clock;

}  // namespace

struct Event::Waiter {
    std::condition_variable cv;
    const std::vector<Event*>* events;
    bool all;
    int satisfied = -1;    // wait for any: the index that released it
    bool changed = false;  // wait for all: something was set
};

void SetError(DWORD code) {
    t_lastError = code;
    t_lastErrno = 0;
}
void SetErrnoError(int err) {
    t_lastError = ErrorFromErrno(err);
    t_lastErrno = err;
}
DWORD LastError() {
    return t_lastError;
}
int LastErrno() {
    return t_lastErrno;
}

DWORD ErrorFromErrno(int err) {
    switch (err) {
        case 0:
            return ERROR_SUCCESS;
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOTDIR:
        case ELOOP:
            return ERROR_FILE_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
            return ERROR_ACCESS_DENIED;
        case EBUSY:
        case EWOULDBLOCK:
            return ERROR_SHARING_VIOLATION;
        case ENOMEM:
        case EMFILE:
        case ENFILE:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        case EIO:
        case EPIPE:
            return ERROR_DEVICE_NOT_CONNECTED;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        default:
            return ERROR_GEN_FAILURE;
    }
}

void Event::Set() {
    std::lock_guard lock(g_eventMutex);
    m_bSignalled = true;
    for (Waiter* w : m_waiters) {
        if (w->all) {
            w->changed = true;
            w->cv.notify_one();
            continue;
        }
        if (w->satisfied >= 0) {
            continue;
        }
        auto it = std::find(w->events->begin(), w->events->end(), this);
        w->satisfied = static_cast<int>(it - w->events->begin());
        w->cv.notify_one();
        if (!m_bManualReset) {
            m_bSignalled = false;  // one waiter takes an auto-reset event
            break;
        }
    }
}

void Event::Reset() {
    std::lock_guard lock(g_eventMutex);
    m_bSignalled = false;
}

DWORD WaitEvents(const std::vector<Event*>& events, bool waitAll, DWORD ms) {
    const bool limited = ms != INFINITE;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limited ? ms : 0);
    std::unique_lock lock(g_eventMutex);
    Event::Waiter waiter;
    waiter.events = &events;
    waiter.all = waitAll;
    for (;;) {
        if (waitAll) {
            if (std::all_of(events.begin(), events.end(),
                            [](Event* e) { return e->m_bSignalled; })) {
                for (Event* e : events) {
                    e->m_bSignalled = e->m_bManualReset;
                }
                return WAIT_OBJECT_0;
            }
        } else {
            for (size_t i = 0; i < events.size(); ++i) {
                if (events[i]->m_bSignalled) {
                    events[i]->m_bSignalled = events[i]->m_bManualReset;
                    return WAIT_OBJECT_0 + static_cast<DWORD>(i);
                }
            }
        }
        for (Event* e : events) {
            e->m_waiters.push_back(&waiter);
        }
        auto released = [&] { return waitAll ? waiter.changed : waiter.satisfied >= 0; };
        bool done = true;
        if (limited) {
            done = waiter.cv.wait_until(lock, deadline, released);
        } else {
            waiter.cv.wait(lock, released);
        }
        for (Event* e : events) {
            auto& list = e->m_waiters;
            list.erase(std::remove(list.begin(), list.end(), &waiter), list.end());
        }
        if (!done) {
            return WAIT_TIMEOUT;
        }
        if (!waitAll) {
            return WAIT_OBJECT_0 + static_cast<DWORD>(waiter.satisfied);
        }
        waiter.changed = false;
    }
}

HANDLE Register(std::shared_ptr<KObject> object) {
    std::lock_guard lock(g_registryMutex);
    uintptr_t id = g_nextHandle;
    g_nextHandle += 4;
    g_registry.emplace(id, std::move(object));
    return reinterpret_cast<HANDLE>(id);
}

std::shared_ptr<KObject> Lookup(HANDLE h) {
    std::lock_guard lock(g_registryMutex);
    auto it = g_registry.find(reinterpret_cast<uintptr_t>(h));
    return it == g_registry.end() ? nullptr : it->second;
}

std::shared_ptr<KObject> Unregister(HANDLE h) {
    std::lock_guard lock(g_registryMutex);
    auto it = g_registry.find(reinterpret_cast<uintptr_t>(h));
    if (it == g_registry.end()) {
        return nullptr;
    }
    auto object = std::move(it->second);
    g_registry.erase(it);
    return object;
}

HANDLE NewThread(LPTHREAD_START_ROUTINE proc, LPVOID param, LPDWORD id) {
    if (proc == nullptr) {
        SetError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto thread = std::make_shared<ThreadObject>();
    try {
        // Detached: the handle is a signalled-on-return object, and the thread keeps its
        // own reference, so closing the handle of a running thread is harmless.
        std::thread([thread, proc, param] {
            proc(param);
            thread->Finished();
        }).detach();
    } catch (...) {
        SetError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (id != nullptr) {
        *id = g_nextThreadId.fetch_add(1);
    }
    return Register(std::move(thread));
}

DWORD WaitHandles(DWORD count, const HANDLE* handles, bool waitAll, DWORD ms) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr) {
        SetError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    // The references keep every object alive for the length of the wait.
    std::vector<std::shared_ptr<KObject>> objects(count);
    std::vector<Event*> events(count);
    for (DWORD i = 0; i < count; ++i) {
        objects[i] = Lookup(handles[i]);
        events[i] = objects[i] ? objects[i]->Waitable() : nullptr;
        if (events[i] == nullptr) {
            SetError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
    }
    return WaitEvents(events, waitAll, ms);
}

}  // namespace tarvic::posix
