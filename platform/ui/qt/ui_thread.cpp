#include "platform/ui/ui_thread.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QObject>
#include <QSocketNotifier>
#include <QThread>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "platform/ui/qt/qt_app.h"

namespace ui {
namespace {

struct Request {
    const std::function<void()>* fn;
    bool done = false;
    bool ran = false;
};

// Requests travel through our own mutex-guarded queue, and the UI thread is woken through
// an eventfd it watches: nothing the caller allocates passes through Qt's event queue,
// whose locking the thread sanitizer cannot see.
std::mutex g_mutex;
std::condition_variable g_doneCv;
std::deque<Request*> g_queue;
int g_wakeFd = -1;  // under g_mutex; valid while the server exists

class Server : public QObject {
  public:
    Server(QObject* parent, int fd)
        : QObject(parent), m_fd(fd), m_notifier(fd, QSocketNotifier::Read) {
        QObject::connect(&m_notifier, &QSocketNotifier::activated, this, [this] {
            uint64_t count = 0;
            while (::read(m_fd, &count, sizeof count) > 0) {
            }
            ServePendingCalls();
        });
    }

    ~Server() override {
        // The application is going: nothing will serve the waiting callers any more.
        {
            std::lock_guard lock(g_mutex);
            g_wakeFd = -1;
            for (Request* r : g_queue) {
                r->done = true;
            }
            g_queue.clear();
        }
        g_doneCv.notify_all();
        m_notifier.setEnabled(false);
        ::close(m_fd);
    }

  private:
    int m_fd;
    QSocketNotifier m_notifier;
};

}  // namespace

bool IsUiThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

void StartServingCalls() {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || !IsUiThread()) {
        return;
    }
    {
        std::lock_guard lock(g_mutex);
        if (g_wakeFd >= 0) {
            return;
        }
    }
    const int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) {
        return;
    }
    new Server(app, fd);  // owned by the application object
    std::lock_guard lock(g_mutex);
    g_wakeFd = fd;
}

bool RunOnUiThread(const std::function<void()>& fn) {
    if (IsUiThread()) {
        fn();
        return true;
    }
    Request request{&fn};
    std::unique_lock lock(g_mutex);
    if (g_wakeFd < 0) {
        return false;
    }
    g_queue.push_back(&request);
    const uint64_t one = 1;
    // Under the lock, so the descriptor cannot be closed in between.
    if (::write(g_wakeFd, &one, sizeof one) < 0) {
        // The counter is full, so the UI thread has a wake-up pending already.
    }
    g_doneCv.wait(lock, [&] { return request.done; });
    return request.ran;
}

void ServePendingCalls() {
    std::unique_lock lock(g_mutex);
    while (!g_queue.empty()) {
        Request* r = g_queue.front();
        g_queue.pop_front();
        lock.unlock();
        (*r->fn)();
        lock.lock();
        r->ran = true;
        r->done = true;
        g_doneCv.notify_all();
    }
}

}  // namespace ui
