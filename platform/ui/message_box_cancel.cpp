// Whether non-UI threads may show message boxes: cancelled when the dialog is closed
// during a check run, allowed again when the next dialog starts.
#include <mutex>

#include "platform/ui/backend.h"
#include "platform/ui/framework.h"

namespace tarvic::ui {
namespace {

std::mutex g_mutex;
bool g_cancelled = false;  // under g_mutex

}  // namespace

void AllowMessageBoxes() {
    std::lock_guard lock(g_mutex);
    g_cancelled = false;
}

bool UnlessBoxesCancelled(const std::function<void()>& fn) {
    std::lock_guard lock(g_mutex);
    if (g_cancelled) {
        return false;
    }
    fn();
    return true;
}

bool BoxesCancelled() {
    std::lock_guard lock(g_mutex);
    return g_cancelled;
}

}  // namespace tarvic::ui

void CancelMessageBoxes() {
    {
        std::lock_guard lock(tarvic::ui::g_mutex);
        tarvic::ui::g_cancelled = true;
    }
    // A box registered under UnlessBoxesCancelled before this is among those closed.
    tarvic::ui::CloseMessageBoxes();
}
