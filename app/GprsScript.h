// The GPRS modem dialogue: the AT script, the assembly of received lines and the rules
// that answer each line. It does no I/O itself; the check gives it the received bytes and
// carries out what it asks for through a CSink, so the rules can be fed bytes directly.
#pragma once

#include <string>

typedef unsigned char BYTE;

class CGprsScript {
  public:
    // What the dialogue asks of the check.
    class CSink {
      public:
        // Write the text to the modem (100 ms time-out, result ignored), then log it.
        virtual void Send(const char* text) = 0;
        virtual void Log(const char* entry) = 0;
        // The pause before a command that the modem answered with ERROR is repeated.
        // False when the run is being ended and the dialogue must stop at once.
        virtual bool PauseAfterError() = 0;

      protected:
        ~CSink() = default;
    };

    static constexpr int kRows = 9;
    static constexpr int kDialRow = 6;
    static constexpr int kLastRow = 8;
    static constexpr int kLineSize = 10240;  // a line holds at most kLineSize - 1 bytes
    static const char* const atScript[kRows];

    // host: the checked host name or address that the dial command and the request name.
    explicit CGprsScript(std::string host);

    // Sends the first command.
    void Start(CSink& sink);
    // Handles the bytes of one successful read. False when the sink asked to stop.
    bool Feed(const BYTE* data, int count, CSink& sink);

    bool Passed() const { return m_bGprsOk; }
    int ScriptIndex() const { return m_nScriptIndex; }
    const std::string& DialCommand() const { return m_strDialCommand; }
    // What is sent to the host once the modem reports CONNECT.
    std::string Request() const;

  private:
    enum class Next { Byte, DiscardRead, Stop };
    Next Dispatch(const char* line, CSink& sink);
    Next DispatchData(const char* line, CSink& sink);
    void NextRow();
    void NoCarrier(CSink& sink);
    void SendCurrent(CSink& sink);

    std::string m_strHost;
    std::string m_strDialCommand;
    int m_nScriptIndex = 0;
    bool m_bStatusOk = false;
    bool m_bGprsOk = false;
    // From CONNECT to the next NO CARRIER the modem relays the host's bytes and sends no
    // result codes of its own: those lines are the host's answer, not modem talk.
    bool m_bDataPhase = false;
    bool m_bStatusSeen = false;  // the data phase's first line has been judged
    int m_nLineLen = 0;
    char m_lineBuf[kLineSize];
};

// A status line of a successful answer: "HTTP/1.0 " or "HTTP/1.1 ", then 200 or 302, then
// the end of the line or a blank and any reason phrase.
bool IsSuccessStatusLine(const char* line);
