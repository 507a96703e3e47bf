// The test driver's waits, timers and message-box handling, written once over the back
// end's primitives (test_driver_backend.h).
#include "platform/ui/test_driver.h"

#include <algorithm>
#include <chrono>
#include <memory>

#include "platform/ui/test_driver_backend.h"

namespace tarvic::uitest {
namespace {

using Clock = std::chrono::steady_clock;
using backend::StartTimer;
using backend::StopTimer;
using backend::TimerId;

// How long a pressed box may take to go: another thread may serve it.
constexpr int kBoxGoneMs = 2000;

void Once(int ms, const std::function<void()>& fn) {
    auto id = std::make_shared<TimerId>(0);
    *id = StartTimer(ms, [id, fn] {
        StopTimer(*id);
        fn();
    });
}

bool IsUp(backend::Box box) {
    const auto boxes = backend::Boxes();
    return std::find(boxes.begin(), boxes.end(), box) != boxes.end();
}

}  // namespace

INT_PTR RunModal(CDialog& dlg, const std::function<void()>& script, int timeoutMs) {
    bool started = false;
    bool timedOut = false;
    TimerId start = 0;
    start = StartTimer(0, [&] {
        StopTimer(start);
        started = true;
        if (!WaitUntil([&] { return IsOpen(dlg); })) {
            return;
        }
        script();
        if (IsOpen(dlg)) {
            ClickCloseBox(dlg);
        }
    });
    // Repeats: a box that comes up after the first round is dismissed by the next.
    const TimerId watchdog = StartTimer(timeoutMs, [&] {
        timedOut = true;
        while (ClickMessageBoxOk()) {
        }
        dlg.EndDialog(IDCANCEL);
    });
    const INT_PTR result = dlg.DoModal();
    StopTimer(watchdog);
    if (!started) {
        StopTimer(start);  // DoModal failed before its loop ran
    }
    return timedOut ? kTimedOut : result;
}

bool WaitUntil(const std::function<bool()>& cond, int timeoutMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    PumpMessagesUntil([&] { return cond() || Clock::now() >= end; });
    return cond();
}

void Pump(int ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    PumpMessagesUntil([&] { return Clock::now() >= end; });
}

void Soon(const std::function<void()>& fn) {
    Once(0, fn);
}

void DismissingBoxes(const std::function<void()>& act) {
    const TimerId id = StartTimer(20, [] { ClickMessageBoxOk(); });
    act();
    StopTimer(id);
}

std::vector<MessageBoxInfo> OpenMessageBoxes() {
    std::vector<MessageBoxInfo> infos;
    for (backend::Box box : backend::Boxes()) {
        infos.push_back(backend::Describe(box));
    }
    return infos;
}

std::optional<MessageBoxInfo> WaitForMessageBox(int timeoutMs) {
    if (!WaitUntil([] { return !backend::Boxes().empty(); }, timeoutMs)) {
        return std::nullopt;
    }
    return OpenMessageBoxes().front();
}

bool ClickMessageBoxOk() {
    const auto boxes = backend::Boxes();
    if (boxes.empty()) {
        return false;
    }
    const backend::Box box = boxes.front();
    if (!backend::PressOk(box)) {
        return false;
    }
    WaitUntil([box] { return !IsUp(box); }, kBoxGoneMs);
    return true;
}

std::optional<MessageBoxInfo> ClickAndDismissBox(CWnd& dlg, int id, int timeoutMs) {
    std::optional<MessageBoxInfo> seen;
    Soon([&] {
        seen = WaitForMessageBox(timeoutMs);
        if (seen) {
            ClickMessageBoxOk();
        }
    });
    Click(dlg, id);
    // Without a box the click returned at once: let the wait above run out here.
    WaitUntil([&] { return seen.has_value(); }, timeoutMs);
    return seen;
}

}  // namespace tarvic::uitest
