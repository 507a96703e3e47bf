#include "platform/ui/qt/ui_thread.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace ui {
namespace {

struct Request {
    const std::function<void()>* fn;
    bool done = false;
    bool ran = false;
};

// The queue is guarded by our own mutex rather than by Qt's event queue alone, so that the
// hand-over between the threads is visible to the thread sanitizer as well.
std::mutex g_mutex;
std::condition_variable g_doneCv;
std::deque<Request*> g_queue;
class Server;
Server* g_server = nullptr;  // under g_mutex

const QEvent::Type kWake = static_cast<QEvent::Type>(QEvent::registerEventType());

class Server : public QObject {
  public:
    explicit Server(QObject* parent) : QObject(parent) {}
    ~Server() override {
        // The application is going: nothing will serve the waiting callers any more.
        std::lock_guard lock(g_mutex);
        g_server = nullptr;
        for (Request* r : g_queue) {
            r->done = true;
        }
        g_queue.clear();
        g_doneCv.notify_all();
    }

    bool event(QEvent* e) override {
        if (e->type() == kWake) {
            ServePendingCalls();
            return true;
        }
        return QObject::event(e);
    }
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
    std::lock_guard lock(g_mutex);
    if (!g_server) {
        g_server = new Server(app);
    }
}

bool RunOnUiThread(const std::function<void()>& fn) {
    if (IsUiThread()) {
        fn();
        return true;
    }
    Request request{&fn};
    std::unique_lock lock(g_mutex);
    if (!g_server) {
        return false;
    }
    g_queue.push_back(&request);
    // Posted under the lock, so the server cannot be destroyed in between.
    QCoreApplication::postEvent(g_server, new QEvent(kWake));
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
