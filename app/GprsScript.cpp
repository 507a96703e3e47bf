#include "app/GprsScript.h"

#include <cstring>
#include <utility>

const char* const CGprsScript::atScript[kRows] = {
    "AT\r\n",
    "ATZ\r\n",
    "ATE0\r\n",
    "AT+CGDCONT=1,\"IP\",\"internet\"\r\n",
    "AT#SGACT?\r\n",
    "AT#SGACT=1,1\r\n",
    "AT#SD",
    "AT\r\n",
    "",
};

namespace {

const char kSgactPrefix[] = "#SGACT: ";

// One "%d" of scanf: leading white space, an optional sign, digits. Out-of-range values
// saturate instead of being undefined. Returns false (value untouched) when no digit came.
bool ScanInt(const char*& p, int& value) {
    const char* s = p;
    while (*s == ' ' || *s == '\t' || *s == '\n' || *s == '\v' || *s == '\f' || *s == '\r') {
        ++s;
    }
    bool negative = false;
    if (*s == '+' || *s == '-') {
        negative = *s == '-';
        ++s;
    }
    if (*s < '0' || *s > '9') {
        return false;
    }
    long long v = 0;
    for (; *s >= '0' && *s <= '9'; ++s) {
        if (v < 1LL << 32) {
            v = v * 10 + (*s - '0');
        }
    }
    if (negative) {
        v = -v;
    }
    value = v > 2147483647LL ? 2147483647 : v < -2147483648LL ? -2147483647 - 1 : int(v);
    p = s;
    return true;
}

// "%d,%d": numbers that are missing stay 0.
void ScanTwoInts(const char* p, int& first, int& second) {
    first = 0;
    second = 0;
    if (!ScanInt(p, first) || *p != ',') {
        return;
    }
    ++p;
    ScanInt(p, second);
}

}  // namespace

bool IsSuccessStatusLine(const char* line) {
    if (std::strncmp(line, "HTTP/1.0 ", 9) != 0 && std::strncmp(line, "HTTP/1.1 ", 9) != 0) {
        return false;
    }
    const char* code = line + 9;
    if (std::strncmp(code, "200", 3) != 0 && std::strncmp(code, "302", 3) != 0) {
        return false;
    }
    return code[3] == '\0' || code[3] == ' ';
}

CGprsScript::CGprsScript(std::string host) : m_strHost(std::move(host)) {
    m_lineBuf[0] = '\0';
}

void CGprsScript::Start(CSink& sink) {
    m_nScriptIndex = 0;
    m_bStatusOk = false;
    m_bGprsOk = false;
    m_bDataPhase = false;
    m_bStatusSeen = false;
    m_nLineLen = 0;
    m_strDialCommand = atScript[kDialRow];
    SendCurrent(sink);
}

void CGprsScript::SendCurrent(CSink& sink) {
    sink.Send(m_nScriptIndex == kDialRow ? m_strDialCommand.c_str() : atScript[m_nScriptIndex]);
}

bool CGprsScript::Feed(const BYTE* data, int count, CSink& sink) {
    for (int i = 0; i < count; ++i) {
        const char b = static_cast<char>(data[i]);
        if (b == '\r') {
            continue;
        }
        if (b != '\n') {
            // An overlong line is cut: the rest up to its line feed is dropped.
            if (m_nLineLen < kLineSize - 1) {
                m_lineBuf[m_nLineLen++] = b;
            }
            continue;
        }
        if (m_nLineLen == 0) {
            continue;
        }
        m_lineBuf[m_nLineLen] = '\0';
        m_nLineLen = 0;
        sink.Log(m_lineBuf);
        switch (m_bDataPhase ? DispatchData(m_lineBuf, sink) : Dispatch(m_lineBuf, sink)) {
            case Next::Byte:
                break;
            case Next::DiscardRead:
                return true;
            case Next::Stop:
                return false;
        }
    }
    return true;
}

void CGprsScript::NextRow() {
    ++m_nScriptIndex;
    // However the dial row becomes current, what it sends is the completed command.
    if (m_nScriptIndex == kDialRow) {
        m_strDialCommand += "=1,0,80,";
        m_strDialCommand += m_strHost;
        m_strDialCommand += "\r\n";
    }
}

std::string CGprsScript::Request() const {
    // The origin form: the connection goes straight to the host, not through a proxy.
    return "GET / HTTP/1.0\r\nHost: " + m_strHost + "\r\n\r\n";
}

// Outside a data phase a status line is only logged: the host's answer begins at CONNECT.
CGprsScript::Next CGprsScript::Dispatch(const char* line, CSink& sink) {
    if (std::strcmp(line, "OK") == 0) {
        if (m_nScriptIndex == kLastRow) {
            return Next::DiscardRead;
        }
        NextRow();
        SendCurrent(sink);
    } else if (std::strncmp(line, kSgactPrefix, sizeof kSgactPrefix - 1) == 0) {
        // One line per context; only context 1 is the one the script activates and dials.
        int cid = 0;
        int state = 0;
        ScanTwoInts(line + sizeof kSgactPrefix - 1, cid, state);
        if (cid == 1 && state != 0 && m_nScriptIndex < kLastRow) {
            NextRow();
        }
    } else if (std::strcmp(line, "ERROR") == 0) {
        if (!sink.PauseAfterError()) {
            return Next::Stop;
        }
        SendCurrent(sink);
    } else if (std::strcmp(line, "CONNECT") == 0) {
        // Whatever follows, even in this same read, comes from the host.
        m_bDataPhase = true;
        m_bStatusSeen = false;
        sink.Send(Request().c_str());
    } else if (std::strcmp(line, "NO CARRIER") == 0) {
        NoCarrier(sink);
    }
    return Next::Byte;
}

CGprsScript::Next CGprsScript::DispatchData(const char* line, CSink& sink) {
    if (std::strcmp(line, "NO CARRIER") == 0) {
        m_bDataPhase = false;
        NoCarrier(sink);
    } else if (!m_bStatusSeen && line[0] != '\0') {
        // Only the first line of the answer is its status line; the rest is only logged.
        m_bStatusSeen = true;
        if (IsSuccessStatusLine(line)) {
            sink.Log("its OK");
            m_bStatusOk = true;
        }
    }
    return Next::Byte;
}

void CGprsScript::NoCarrier(CSink& sink) {
    if (m_bStatusOk) {
        m_bGprsOk = true;
        sink.Log("exit");
    } else {
        SendCurrent(sink);
    }
}
