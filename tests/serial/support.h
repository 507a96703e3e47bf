// What the serial tests share: pseudo-terminals published as com<n> in a private port
// directory, a CComPort that records its hooks, and small helpers. On Windows the
// pseudo-terminals are those of the Linux host, reached through the bridge that runs the
// test under Wine (tests/wine/); what only a Linux process can do is not there.
#pragma once

#ifndef _WIN32
#include <termios.h>
#endif

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "serial/ComPort.h"

namespace tarvic::test {

using Bytes = std::vector<uint8_t>;

#ifndef _WIN32
// XDG_CONFIG_HOME points at a temporary folder of this process, so that the port
// directory is private and the user's own is never touched.
const std::string& PortDirectory();
#endif

// A pseudo-terminal whose slave is published as com<number>. The test keeps a slave
// descriptor open, so that the master sees no hang-up while the port is closed.
class Pty {
  public:
    explicit Pty(int number);
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    int Number() const { return m_number; }
    void Send(const Bytes& bytes);
    // What the port wrote: up to n bytes, or what came within timeoutMs.
    Bytes Receive(size_t n, int timeoutMs);
    // The far end goes away.
    void CloseMaster();
#ifndef _WIN32
    int Master() const {
        return m_master;
    }
    int Slave() const {
        return m_slave;
    }
    const std::string& SlavePath() const {
        return m_slavePath;
    }
    termios SlaveTermios() const;
    void SetSlaveTermios(const termios& t);
#endif

  private:
    int m_number;
#ifdef _WIN32
    uintptr_t m_socket;  // the bridge's connection to this terminal's master
#else
    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
    std::string m_link;
#endif
};

// A CComPort that records what its hooks see. Close it before it is destroyed: the
// reader calls the hooks, and they must not run while the derived part is going.
class RecordingPort : public CComPort {
  public:
    std::vector<std::string> Errors() const;
    std::vector<Bytes> Received() const;
    int Sends() const { return m_sends.load(); }
    // While set, OnReceive waits until it is cleared (a reader that is busy).
    std::atomic<bool> holdReceive{false};
    std::atomic<int> receiving{0};

  protected:
    void OnError(const char* text) override;
    void OnReceive(const BYTE* data, DWORD length) override;
    void OnSend(const BYTE* data, DWORD length) override;

  private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_errors;
    std::vector<Bytes> m_received;
    std::atomic<int> m_sends{0};
};

Bytes Pattern(size_t n, uint8_t seed = 0);
// Read with a destination of the port's buffer size; false when Read failed.
bool ReadInto(CComPort& port, Bytes& out, DWORD timeoutMs);
void SleepMs(int ms);
#ifndef _WIN32
// CPU time (user + system) of this process in seconds.
double CpuSeconds();
// Opens COMn in another process (the open probe); its exit code tells how that went.
int RunProbe(int n);
#endif

}  // namespace tarvic::test
