// A serial port handle: the tty descriptor (Start takes it over), owned by a driver thread that
// always takes the line's input into a queue, and the overlapped operations pending on it.
// port.cpp is the driver thread, port_calls.cpp the calls made on the handle.
#pragma once

#include <termios.h>

#include <chrono>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/posix/kernel.h"

namespace tarvic::posix {

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
    // Takes in the bytes the tty holds but the driver has not taken yet, so that they count
    // as arrived: the queue a caller sees and the queue a read takes from are the same.
    void ReadInQueued();
    void Receive(bool hangUp);
    void Transmit();
    // Writes buf[done..count) while the tty takes it, advancing done. ERROR_SUCCESS when all
    // is out, ERROR_IO_PENDING when the tty is full, else the write's error; an error that
    // means the line has gone also hangs the port up.
    DWORD WriteOut(const BYTE* buf, DWORD count, DWORD& done);
    void ServiceReads(Clock::time_point now);
    void HangUp();
    // Completes every pending operation with error; a read that had bytes keeps them and
    // completes with readWithBytes. Called with m_mutex held.
    void FailPending(DWORD error, DWORD readWithBytes);
    Clock::time_point NextDeadline() const;
    DWORD Take(BYTE* dest, DWORD count);
    bool ApplyModemLines(const DCB& dcb);
    bool Usable(bool needLine);
    static void MarkPending(OVERLAPPED* ov);
    // The owner may reuse the record as soon as Internal changes: it is written last.
    static void Finish(OVERLAPPED* ov, DWORD status, DWORD n, const std::shared_ptr<Event>& event);
    // Completes (through complete) and removes every operation of ops that ov names, all of
    // them for nullptr; true if there was one.
    template <class Op, class Complete>
    static bool EndOps(std::list<Op>& ops, const OVERLAPPED* ov, Complete complete) {
        bool found = false;
        for (auto it = ops.begin(); it != ops.end();) {
            if (ov == nullptr || it->ov == ov) {
                complete(*it);
                it = ops.erase(it);
                found = true;
            } else {
                ++it;
            }
        }
        return found;
    }
    void CompleteRead(ReadOp& op, DWORD status, DWORD n);
    void CompleteWait(WaitOp& op, DWORD status, DWORD mask);
    void CompleteWrite(WriteOp& op, DWORD status);
    DWORD QueuedOut() const;

    const int m_fd;
    const int m_wakeFd;
    std::thread m_driver;

    // Guards every member below: the driver thread and the callers of the handle's calls
    // (any thread) both use them. The descriptors above are set once; m_driver is
    // started by Start and joined by Closed or the destructor only.
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
