// A serial port handle: the tty descriptor (Start takes it over), owned by a driver thread that
// always drains the line into an input queue, and the overlapped operations pending on it.
#pragma once

#include <termios.h>

#include <chrono>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/posix/kernel.h"

namespace tarvic::posix {

// The folder whose entries com<n> name the ports: $XDG_CONFIG_HOME/tarvic/ports when that
// is an absolute path, else $HOME/.config/tarvic/ports; empty when neither is set.
std::string PortDirectory();

// "COM<n>:" (also "COM<n>" and "\\.\COM<n>") to a device path: the entry com<n> of the
// port directory when it exists, else /dev/ttyS<n-1>. A name starting with '/' is a path.
bool ResolvePortName(const char* name, std::string& path);

class Port : public KObject {
  public:
    // Takes over fd (an open tty) and starts the driver; nullptr if that fails.
    static std::shared_ptr<Port> Start(int fd);
    ~Port() override;
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;

    void Closed() override;

    BOOL GetState(DCB* dcb);
    BOOL SetState(const DCB* dcb);
    BOOL GetTimeouts(COMMTIMEOUTS* cto);
    BOOL SetTimeouts(const COMMTIMEOUTS* cto);
    BOOL SetMask(DWORD mask);
    BOOL Purge(DWORD flags);
    BOOL Escape(DWORD func);
    BOOL ClearError(DWORD* errors, COMSTAT* stat);
    BOOL WaitEvent(DWORD* mask, OVERLAPPED* ov);
    BOOL Read(void* buf, DWORD count, DWORD* done, OVERLAPPED* ov);
    BOOL Write(const void* buf, DWORD count, DWORD* done, OVERLAPPED* ov);
    BOOL Cancel(OVERLAPPED* ov);

  private:
    using Clock = std::chrono::steady_clock;

    struct ReadOp {
        OVERLAPPED* ov;
        BYTE* buf;
        DWORD count;
        std::shared_ptr<Event> event;
        DWORD interval;            // 0: no interval limit
        Clock::time_point expiry;  // Clock::time_point::max(): no total limit
    };
    struct WriteOp {
        OVERLAPPED* ov;
        const BYTE* buf;
        DWORD count;
        DWORD done;
        std::shared_ptr<Event> event;
    };
    struct WaitOp {
        OVERLAPPED* ov;
        DWORD* mask;
        std::shared_ptr<Event> event;
    };

    Port(int fd, int wakeFd);
    BOOL StartWait(DWORD* mask, OVERLAPPED* ov, std::shared_ptr<Event> event);
    BOOL StartRead(BYTE* buf, DWORD count, DWORD* done, OVERLAPPED* ov,
                   std::shared_ptr<Event> event);
    BOOL StartWrite(const BYTE* buf, DWORD count, DWORD* done, OVERLAPPED* ov,
                    std::shared_ptr<Event> event);
    void Drive();
    void Wake();
    void Drain();
    void Receive(bool hangUp);
    void Transmit();
    void ServiceReads(Clock::time_point now);
    void HangUp();
    // Completes every pending operation with error; a read that had bytes keeps them and
    // completes with readWithBytes. Called with m_mutex held.
    void FailPending(DWORD error, DWORD readWithBytes);
    Clock::time_point NextDeadline() const;
    DWORD Take(BYTE* dest, DWORD count);
    bool ApplyModemLines(const DCB& dcb);
    bool Usable(bool needLine);
    void CompleteRead(ReadOp& op, DWORD status, DWORD n);
    void CompleteWait(WaitOp& op, DWORD status, DWORD mask);
    void CompleteWrite(WriteOp& op, DWORD status);
    DWORD QueuedOut() const;

    const int m_fd;
    const int m_wakeFd;
    std::thread m_driver;

    std::mutex m_mutex;
    bool m_bClosed = false;
    bool m_bHungUp = false;
    std::deque<BYTE> m_input;
    Clock::time_point m_lastArrival{};
    bool m_bRxHistory = false;
    DWORD m_dwErrors = 0;
    DWORD m_dwMask = 0;
    COMMTIMEOUTS m_cto{};
    DCB m_dcb{};
    // The line as found at open, so that putting back the DCB read then restores the
    // termios exactly (a DCB cannot describe every termios flag).
    termios m_tiOpen{};
    DCB m_dcbOpen{};
    std::list<ReadOp> m_reads;
    std::list<WriteOp> m_writes;
    std::list<WaitOp> m_waits;
};

}  // namespace tarvic::posix
