// Carrying calls from other threads over to the UI thread. IsUiThread and RunOnUiThread
// come from the back end; the rest is built on them.
#pragma once

#include <functional>
#include <type_traits>
#include <utility>

namespace ui {

bool IsUiThread();

// Runs fn on the UI thread and returns once it has run: at once when called there,
// otherwise by a request that the UI thread serves between its events. False when no UI
// thread serves requests (before start or after the application has gone); fn has then
// not run.
bool RunOnUiThread(const std::function<void()>& fn);

// The same with a result; fallback is returned when fn could not run.
template <class F, class R>
R OnUiThreadOr(F&& fn, R fallback) {
    R result = fallback;
    RunOnUiThread([&] { result = fn(); });
    return result;
}

template <class F>
auto OnUiThread(F&& fn) {
    using R = std::invoke_result_t<F&>;
    if constexpr (std::is_void_v<R>) {
        RunOnUiThread(std::function<void()>(std::forward<F>(fn)));
    } else {
        return OnUiThreadOr(std::forward<F>(fn), R{});
    }
}

}  // namespace ui
