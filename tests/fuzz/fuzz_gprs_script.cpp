// The GPRS dialogue under libFuzzer: arbitrary bytes in arbitrary reads. The input is a
// sequence of reads, each a length byte and that many bytes. It fails when the dialogue
// sends anything but a row of the script, the completed dial command or the request, or
// passes without a success status line as the first line of a data phase.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/GprsScript.h"

namespace {

const char kHost[] = "example.com";

// Follows the dialogue from what it sends and logs, independently of its own flags.
class CheckingSink final : public CGprsScript::CSink {
  public:
    explicit CheckingSink(const CGprsScript& script) : m_script(script) {}

    void Send(const char* text) override {
        const std::string sent = text;
        if (sent == m_script.Request()) {
            m_dataPhase = true;
            m_firstLineSeen = false;
            return;
        }
        if (sent == "AT#SD=1,0,80," + std::string(kHost) + "\r\n") {
            return;
        }
        for (int row = 0; row < CGprsScript::kRows; ++row) {
            if (row != CGprsScript::kDialRow && sent == CGprsScript::atScript[row]) {
                return;
            }
        }
        std::abort();  // not a row, the dial command or the request
    }

    void Log(const char* entry) override {
        if (!m_dataPhase) {
            return;
        }
        if (std::strcmp(entry, "NO CARRIER") == 0) {
            m_dataPhase = false;
        } else if (!m_firstLineSeen && entry[0] != '\0') {
            m_firstLineSeen = true;
            m_statusOk = m_statusOk || IsSuccessStatusLine(entry);
        }
    }

    bool PauseAfterError() override { return true; }

    bool StatusOk() const { return m_statusOk; }

  private:
    const CGprsScript& m_script;
    bool m_dataPhase = false;
    bool m_firstLineSeen = false;
    bool m_statusOk = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CGprsScript script(kHost);
    CheckingSink sink(script);
    script.Start(sink);
    size_t at = 0;
    while (at < size && !script.Passed()) {
        const size_t length = std::min<size_t>(data[at], size - at - 1);
        ++at;
        script.Feed(data + at, static_cast<int>(length), sink);
        at += length;
    }
    if (script.Passed() && !sink.StatusOk()) {
        std::abort();  // a pass without a success status line opening a data phase
    }
    return 0;
}
