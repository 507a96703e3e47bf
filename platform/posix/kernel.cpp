#include "platform/posix/kernel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace tarvic::posix {

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;

std::mutex g_registryMutex;
std::unordered_map<uintptr_t, std::shared_ptr<KObject>> g_registry;
// Starts well away from 0 and INVALID_HANDLE_VALUE; steps keep the values pointer-like.
uintptr_t g_nextHandle = 0x1000;
std::atomic<DWORD> g_nextThreadId{1};

class ThreadObject : public KObject {
  public:
    explicit ThreadObject(std::shared_ptr<Event> done) : m_done(std::move(done)) {}
    int WaitFd() const override { return m_done->WaitFd(); }
    bool Take() override { return m_done->Take(); }
    void Finished() { m_done->Set(); }

  private:
    std::shared_ptr<Event> m_done;
};

using Clock = std::chrono::steady_clock;

// Remaining time until deadline for ppoll, or nullptr for no limit.
timespec* Remaining(bool limited, Clock::time_point deadline, timespec& ts) {
    if (!limited) {
        return nullptr;
    }
    auto left = deadline - Clock::now();
    if (left < Clock::duration::zero()) {
        left = Clock::duration::zero();
    }
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    ts.tv_sec = static_cast<time_t>(ns / 1000000000);
    ts.tv_nsec = static_cast<long>(ns % 1000000000);
    return &ts;
}

}  // namespace

void SetError(DWORD code) {
    t_lastError = code;
}
DWORD LastError() {
    return t_lastError;
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

std::shared_ptr<Event> Event::Create(bool manualReset, bool signalled) {
    int fd = eventfd(signalled ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    return std::shared_ptr<Event>(new Event(fd, manualReset));
}

Event::~Event() {
    close(m_fd);
}

bool Event::Set() {
    Publish();
    uint64_t one = 1;
    return write(m_fd, &one, sizeof one) == static_cast<ssize_t>(sizeof one);
}

bool Event::Reset() {
    uint64_t value;
    // One read empties the counter; EAGAIN means it was not set.
    return read(m_fd, &value, sizeof value) == static_cast<ssize_t>(sizeof value) ||
           errno == EAGAIN;
}

bool Event::Take() {
    if (m_bManualReset) {
        Observe();
        return true;
    }
    uint64_t value;
    if (read(m_fd, &value, sizeof value) != static_cast<ssize_t>(sizeof value)) {
        return false;
    }
    Observe();
    return true;
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
    auto done = Event::Create(true, false);
    if (!done) {
        SetError(ErrorFromErrno(errno));
        return nullptr;
    }
    auto thread = std::make_shared<ThreadObject>(std::move(done));
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
    std::vector<std::shared_ptr<KObject>> objects(count);
    std::vector<pollfd> fds(count);
    for (DWORD i = 0; i < count; ++i) {
        objects[i] = Lookup(handles[i]);
        if (!objects[i] || objects[i]->WaitFd() < 0) {
            SetError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
    }
    const bool limited = ms != INFINITE;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limited ? ms : 0);
    for (;;) {
        DWORD polled = 0;
        std::vector<DWORD> index;
        for (DWORD i = 0; i < count; ++i) {
            fds[polled] = {objects[i]->WaitFd(), POLLIN, 0};
            index.push_back(i);
            ++polled;
        }
        if (waitAll) {
            // Which are set now? Then sleep only on those that are not.
            int ready = poll(fds.data(), polled, 0);
            if (ready < 0 && errno != EINTR) {
                SetError(ErrorFromErrno(errno));
                return WAIT_FAILED;
            }
            if (ready == static_cast<int>(polled)) {
                bool all = true;
                for (auto& o : objects) {
                    all = o->Take() && all;
                }
                if (all) {
                    return WAIT_OBJECT_0;
                }
                continue;
            }
            DWORD pending = 0;
            for (DWORD i = 0; i < polled; ++i) {
                if ((fds[i].revents & POLLIN) == 0) {
                    fds[pending++] = {fds[i].fd, POLLIN, 0};
                }
            }
            polled = pending;
        }
        timespec ts;
        int ready = ppoll(fds.data(), polled, Remaining(limited, deadline, ts), nullptr);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            SetError(ErrorFromErrno(errno));
            return WAIT_FAILED;
        }
        if (ready == 0) {
            return WAIT_TIMEOUT;
        }
        if (waitAll) {
            continue;
        }
        // The lowest signalled index wins, as callers rely on.
        for (DWORD i = 0; i < polled; ++i) {
            if ((fds[i].revents & POLLIN) != 0 && objects[index[i]]->Take()) {
                return WAIT_OBJECT_0 + index[i];
            }
        }
    }
}

}  // namespace tarvic::posix
