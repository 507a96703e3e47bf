// The parts of the serial test support that need no pseudo-terminal: they build on
// Windows too.
#include <chrono>
#include <thread>

#include "tests/serial/support.h"

namespace tarvic::test {

std::vector<std::string> RecordingPort::Errors() const {
    std::lock_guard lock(m_mutex);
    return m_errors;
}

std::vector<Bytes> RecordingPort::Received() const {
    std::lock_guard lock(m_mutex);
    return m_received;
}

void RecordingPort::OnError(const char* text) {
    std::lock_guard lock(m_mutex);
    m_errors.emplace_back(text);
}

void RecordingPort::OnReceive(const BYTE* data, DWORD length) {
    {
        std::lock_guard lock(m_mutex);
        m_received.emplace_back(data, data + length);
    }
    receiving.fetch_add(1);
    while (holdReceive.load()) {
        SleepMs(1);
    }
}

void RecordingPort::OnSend(const BYTE*, DWORD) {
    m_sends.fetch_add(1);
}

Bytes Pattern(size_t n, uint8_t seed) {
    Bytes out(n);
    for (size_t i = 0; i < n; ++i) {
        out[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    }
    return out;
}

bool ReadInto(CComPort& port, Bytes& out, DWORD timeoutMs) {
    Bytes dest(static_cast<size_t>(port.GetBufferSize()));
    int count = -1;
    if (!port.Read(dest.data(), &count, timeoutMs)) {
        return false;
    }
    out.assign(dest.begin(), dest.begin() + count);
    return true;
}

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace tarvic::test
