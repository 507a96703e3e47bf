#include "sim/internal.h"

namespace tarvic::sim::detail {

namespace {
constexpr char kExtra = static_cast<char>(0x8A);
constexpr char kStray = 0x55;
}  // namespace

Rs485::Rs485(int com, std::string link, Logger& log, Rs485Options options)
    : Device(com, std::move(link), log), m_opt(std::move(options)) {}

void Rs485::OnInput(std::string_view bytes, TimePoint now) {
    for (char c : bytes) {
        m_frame += c;
        m_lastByte = now;
        if (m_frame.size() >= std::max<std::size_t>(m_opt.frameMax, 1)) {
            Complete(now);
        }
    }
}

std::optional<TimePoint> Rs485::Deadline() const {
    if (m_frame.empty()) {
        return std::nullopt;
    }
    return m_lastByte + m_opt.frameGap;
}

void Rs485::OnTime(TimePoint now) {
    if (!m_frame.empty() && now >= m_lastByte + m_opt.frameGap) {
        Complete(now);
    }
}

void Rs485::OnPortOpened(TimePoint now) {
    if (m_opt.strayAfterOpen > 0) {
        Log("scenario: a stray burst after the open");
        Port().Queue(std::string(m_opt.strayAfterOpen, kStray), now + m_opt.strayDelay);
    }
}

void Rs485::OnPortClosed(TimePoint now) {
    m_frame.clear();
    Device::OnPortClosed(now);
}

void Rs485::Complete(TimePoint now) {
    std::string frame = std::exchange(m_frame, {});
    ++m_frames;
    Log("frame of " + std::to_string(frame.size()) + " bytes");
    if (m_opt.reply == Rs485Reply::Silent) {
        return;
    }
    std::string reply = frame;
    if (m_opt.reply == Rs485Reply::Xor) {
        for (char& c : reply) {
            c = static_cast<char>(static_cast<unsigned char>(c) ^ 0x80u);
        }
    }
    std::string first(m_opt.strayBytes, kStray);
    std::string second;
    if (m_opt.splitPause.count() > 0 && m_opt.splitAfter < reply.size()) {
        first += reply.substr(0, m_opt.splitAfter);
        second = reply.substr(m_opt.splitAfter);
    } else {
        first += reply;
    }
    std::string& last = second.empty() ? first : second;
    if (m_opt.extraByte) {
        last += kExtra;
    }
    TimePoint at = now + m_opt.turnaround;
    if (m_opt.echo) {
        // The adapter hears its own transmission at once.
        if (m_opt.echoPause.count() > 0) {
            Port().Queue(frame, now);
            at += m_opt.echoPause;
        } else {
            first = frame + first;
        }
    }
    Port().Queue(std::move(first), at);
    if (!second.empty()) {
        Port().Queue(std::move(second), at + m_opt.splitPause);
    }
}

}  // namespace tarvic::sim::detail
