#include "sim/internal.h"

namespace sim::detail {

namespace {
constexpr char kExtra = static_cast<char>(0x8A);
constexpr char kStray = 0x55;
}  // namespace

Rs485::Rs485(int com, std::string link, Logger& log, Rs485Options options)
    : Device(com, std::move(link), log), opt_(std::move(options)) {}

void Rs485::OnInput(std::string_view bytes, TimePoint now) {
    for (char c : bytes) {
        frame_ += c;
        lastByte_ = now;
        if (frame_.size() >= std::max<std::size_t>(opt_.frameMax, 1)) {
            Complete(now);
        }
    }
}

std::optional<TimePoint> Rs485::Deadline() const {
    if (frame_.empty()) {
        return std::nullopt;
    }
    return lastByte_ + opt_.frameGap;
}

void Rs485::OnTime(TimePoint now) {
    if (!frame_.empty() && now >= lastByte_ + opt_.frameGap) {
        Complete(now);
    }
}

void Rs485::OnPortClosed(TimePoint now) {
    frame_.clear();
    Device::OnPortClosed(now);
}

void Rs485::Complete(TimePoint now) {
    std::string frame = std::exchange(frame_, {});
    ++frames_;
    Log("frame of " + std::to_string(frame.size()) + " bytes");
    if (opt_.reply == Rs485Reply::Silent) {
        return;
    }
    std::string reply = frame;
    if (opt_.reply == Rs485Reply::Xor) {
        for (char& c : reply) {
            c = static_cast<char>(static_cast<unsigned char>(c) ^ 0x80u);
        }
    }
    std::string first(opt_.strayBytes, kStray);
    std::string second;
    if (opt_.splitPause.count() > 0 && opt_.splitAfter < reply.size()) {
        first += reply.substr(0, opt_.splitAfter);
        second = reply.substr(opt_.splitAfter);
    } else {
        first += reply;
    }
    std::string& last = second.empty() ? first : second;
    if (opt_.extraByte) {
        last += kExtra;
    }
    TimePoint at = now + opt_.turnaround;
    if (opt_.echo) {
        // The adapter hears its own transmission at once.
        if (opt_.echoPause.count() > 0) {
            Port().Queue(frame, now);
            at += opt_.echoPause;
        } else {
            first = frame + first;
        }
    }
    Port().Queue(std::move(first), at);
    if (!second.empty()) {
        Port().Queue(std::move(second), at + opt_.splitPause);
    }
}

}  // namespace sim::detail
