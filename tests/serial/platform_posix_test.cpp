// The OS calls on POSIX: the results that CComPort relies on, over real pseudo-terminals.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/posix/port.h"
#include "platform/posix/seam.h"
#include "platform/winapi.h"
#include "tests/serial/support.h"

namespace tarvic::test {
namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

HANDLE OpenCom(int n) {
    char name[16];
    std::snprintf(name, sizeof name, "COM%d:", n);
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
}

struct Overlapped {
    OVERLAPPED ov{};
    Overlapped() { ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
    ~Overlapped() { CloseHandle(ov.hEvent); }
    bool Signalled() const { return WaitForSingleObject(ov.hEvent, 0) == WAIT_OBJECT_0; }
};

// A pseudo-terminal opened as COM<n>: with only an interval time-out set.
class OpenPort : public ::testing::Test {
  protected:
    void SetUp() override {
        port = OpenCom(pty.Number());
        ASSERT_NE(port, INVALID_HANDLE_VALUE);
        ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
        SetInterval(50);
    }
    void TearDown() override {
        if (port != INVALID_HANDLE_VALUE) {
            EXPECT_TRUE(CloseHandle(port));
        }
    }
    void SetInterval(DWORD ms) {
        COMMTIMEOUTS cto{};
        cto.ReadIntervalTimeout = ms;
        ASSERT_TRUE(SetCommTimeouts(port, &cto));
    }
    // Until the port's own queue holds n bytes.
    void AwaitQueued(DWORD n) {
        auto start = Clock::now();
        COMSTAT stat{};
        DWORD errors;
        while (MsSince(start) < 2000) {
            ASSERT_TRUE(ClearCommError(port, &errors, &stat));
            if (stat.cbInQue >= n) {
                return;
            }
            SleepMs(1);
        }
        FAIL() << "only " << stat.cbInQue << " bytes queued";
    }
    Pty pty{7};
    HANDLE port = INVALID_HANDLE_VALUE;
};

TEST(Events, WaitGivesLowestSignalledIndexAndTimesOut) {
    HANDLE a = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE b = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const HANDLE both[2] = {a, b};
    auto start = Clock::now();
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 30), WAIT_TIMEOUT);
    EXPECT_GE(MsSince(start), 29.0);
    ASSERT_TRUE(SetEvent(b));
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0 + 1);
    ASSERT_TRUE(SetEvent(a));
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0);
    // Manual reset: still set until reset.
    EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_OBJECT_0);
    ASSERT_TRUE(ResetEvent(a));
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(a));
    EXPECT_TRUE(CloseHandle(b));
}

TEST(Events, AutoResetWaitTakesTheSignal) {
    HANDLE e = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    CloseHandle(e);
}

TEST(Events, AWaiterIsReleasedBySetEvenIfTheEventIsResetAtOnce) {
    HANDLE e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> waiting{false};
    DWORD result = WAIT_FAILED;
    std::thread waiter([&] {
        waiting = true;
        result = WaitForSingleObject(e, 5000);
    });
    while (!waiting.load()) {
        std::this_thread::yield();
    }
    SleepMs(50);  // the waiter is blocked by now
    auto start = Clock::now();
    SetEvent(e);
    ResetEvent(e);
    waiter.join();
    EXPECT_EQ(result, WAIT_OBJECT_0);
    EXPECT_LT(MsSince(start), 1000);
    CloseHandle(e);
}

TEST(Events, ClosedOrUnknownHandlesFail) {
    HANDLE e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(CloseHandle(e));
    EXPECT_FALSE(CloseHandle(e));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(SetEvent(e));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    // A new object never gets the old value back.
    HANDLE f = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_NE(f, e);
    EXPECT_FALSE(ResetEvent(INVALID_HANDLE_VALUE));
    CloseHandle(f);
}

TEST(Threads, HandleIsSignalledWhenTheProcedureReturns) {
    static std::atomic<bool> release{false};
    static int value = 0;  // written by the thread, read after the wait
    release = false;
    auto proc = [](LPVOID p) -> DWORD {
        while (!release.load()) {
            Sleep(1);
        }
        value = *static_cast<int*>(p);
        return 0;
    };
    int arg = 42;
    HANDLE t = CreateThread(nullptr, 0, proc, &arg, 0, nullptr);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(WaitForSingleObject(t, 20), WAIT_TIMEOUT);
    release = true;
    EXPECT_EQ(WaitForSingleObject(t, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(value, 42);
    EXPECT_TRUE(CloseHandle(t));
}

TEST(Threads, ClosingTheHandleOfARunningThreadLetsItFinish) {
    static std::atomic<int> done{0};
    auto proc = [](LPVOID) -> DWORD {
        Sleep(30);
        done.fetch_add(1);
        return 0;
    };
    HANDLE t = CreateThread(nullptr, 0, proc, nullptr, 0, nullptr);
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE(CloseHandle(t));
    for (int i = 0; i < 500 && done.load() == 0; ++i) {
        SleepMs(10);
    }
    EXPECT_EQ(done.load(), 1);
}

TEST(LastError, IsPerThread) {
    SetLastError(1234);
    std::thread([] {
        EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
        SetLastError(99);
    }).join();
    EXPECT_EQ(GetLastError(), 1234u);
}

TEST(PortNames, ResolveToThePortDirectoryElseTtyS) {
    std::string path;
    ASSERT_TRUE(posix::ResolvePortName("COM250:", path));
    EXPECT_EQ(path, "/dev/ttyS249");
    Pty pty(12);
    ASSERT_TRUE(posix::ResolvePortName("COM12:", path));
    EXPECT_EQ(path, PortDirectory() + "/com12");
    ASSERT_TRUE(posix::ResolvePortName("com12", path));
    EXPECT_EQ(path, PortDirectory() + "/com12");
    for (const char* bad : {"COM0:", "COM:", "COMX:", "LPT1:", "COM3::", ""}) {
        EXPECT_FALSE(posix::ResolvePortName(bad, path)) << bad;
    }
}

TEST(PortNames, MissingDevicesFailWithAFittingError) {
    PortDirectory();
    EXPECT_EQ(OpenCom(0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    // An entry whose device has gone.
    std::string link = PortDirectory() + "/com41";
    ASSERT_EQ(symlink("/dev/pts/does-not-exist", link.c_str()), 0);
    EXPECT_EQ(OpenCom(41), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    unlink(link.c_str());
    // Not a terminal.
    ASSERT_EQ(symlink("/dev/null", link.c_str()), 0);
    EXPECT_EQ(OpenCom(41), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    unlink(link.c_str());
}

TEST(Exclusive, SecondOpenFailsFromThisAndAnotherProcess) {
    Pty pty(8);
    HANDLE first = OpenCom(8);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_EQ(OpenCom(8), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(RunProbe(8), 2);
    ASSERT_TRUE(CloseHandle(first));
    EXPECT_EQ(RunProbe(8), 0);
    HANDLE again = OpenCom(8);
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    CloseHandle(again);
}

struct LineCase {
    DWORD baud;
    BYTE bits;
    BYTE parity;
    BYTE stop;
};

void PrintTo(const LineCase& c, std::ostream* os) {
    *os << c.baud << " baud, " << int(c.bits) << " bits, parity " << int(c.parity) << ", stop "
        << int(c.stop);
}

class LineSettings : public OpenPort, public ::testing::WithParamInterface<LineCase> {};

TEST_P(LineSettings, ReadBackGivesWhatWasApplied) {
    const LineCase c = GetParam();
    DCB dcb{};
    ASSERT_TRUE(GetCommState(port, &dcb));
    dcb.BaudRate = c.baud;
    dcb.ByteSize = c.bits;
    dcb.Parity = c.parity;
    dcb.StopBits = c.stop;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fOutxCtsFlow = 0;
    dcb.XonLim = 77;  // not a termios value: kept as set
    ASSERT_TRUE(SetCommState(port, &dcb));
    DCB back{};
    ASSERT_TRUE(GetCommState(port, &back));
    EXPECT_EQ(back.BaudRate, c.baud);
    EXPECT_EQ(back.ByteSize, c.bits);
    EXPECT_EQ(back.Parity, c.parity);
    EXPECT_EQ(back.StopBits, c.stop);
    EXPECT_EQ(back.fOutxCtsFlow, 0u);
    EXPECT_EQ(back.fOutX, 0u);
    EXPECT_EQ(back.fDtrControl, unsigned{DTR_CONTROL_ENABLE});
    EXPECT_EQ(back.fRtsControl, unsigned{RTS_CONTROL_ENABLE});
    EXPECT_EQ(back.XonLim, 77);
    termios t = pty.SlaveTermios();
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_EQ((t.c_cflag & PARENB) != 0, c.parity != NOPARITY);
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.stop == TWOSTOPBITS);
}

// A pseudo-terminal keeps 8 data bits and no parity whatever is asked (and reading back
// says so), so the table varies what it does keep.
INSTANTIATE_TEST_SUITE_P(Table, LineSettings,
                         ::testing::Values(LineCase{9600, 8, NOPARITY, ONESTOPBIT},
                                           LineCase{19200, 8, NOPARITY, TWOSTOPBITS},
                                           LineCase{115200, 8, NOPARITY, ONESTOPBIT},
                                           LineCase{1200, 8, NOPARITY, TWOSTOPBITS}));

TEST_F(OpenPort, RefusedSettingsFail) {
    DCB dcb{};
    ASSERT_TRUE(GetCommState(port, &dcb));
    DCB bad = dcb;
    bad.BaudRate = 12345;
    EXPECT_FALSE(SetCommState(port, &bad));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    bad = dcb;
    bad.ByteSize = 9;
    EXPECT_FALSE(SetCommState(port, &bad));
}

TEST_F(OpenPort, CharacterEventIsLatchedNotLevel) {
    DWORD mask = 0;
    Overlapped o;
    pty.Send(Bytes{1, 2, 3});
    AwaitQueued(3);
    // Arrived since the last completed wait: done at once.
    EXPECT_TRUE(WaitCommEvent(port, &mask, &o.ov));
    EXPECT_EQ(mask, EV_RXCHAR);
    // The bytes are still queued, but nothing new arrived: this wait pends.
    mask = 0;
    EXPECT_FALSE(WaitCommEvent(port, &mask, &o.ov));
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    DWORD n;
    EXPECT_FALSE(GetOverlappedResult(port, &o.ov, &n, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
    EXPECT_EQ(WaitForSingleObject(o.ov.hEvent, 50), WAIT_TIMEOUT);
    pty.Send(Bytes{4});
    EXPECT_EQ(WaitForSingleObject(o.ov.hEvent, 2000), WAIT_OBJECT_0);
    EXPECT_TRUE(GetOverlappedResult(port, &o.ov, &n, FALSE));
    EXPECT_EQ(mask, EV_RXCHAR);
}

TEST_F(OpenPort, ANewEventMaskEndsAPendingWaitWithAnEmptyMask) {
    DWORD mask = EV_RXCHAR;
    Overlapped o;
    ASSERT_FALSE(WaitCommEvent(port, &mask, &o.ov));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    ASSERT_TRUE(SetCommMask(port, 0));
    EXPECT_TRUE(o.Signalled());
    DWORD n;
    EXPECT_TRUE(GetOverlappedResult(port, &o.ov, &n, FALSE));
    EXPECT_EQ(mask, 0u);
    // With no event asked for, there is nothing to wait for.
    EXPECT_FALSE(WaitCommEvent(port, &mask, &o.ov));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(OpenPort, IntervalReadWaitsForTheFirstByteThenEndsOnSilence) {
    SetInterval(30);
    BYTE buf[1000];
    Overlapped o;
    DWORD n = 0;
    ASSERT_FALSE(ReadFile(port, buf, sizeof buf, &n, &o.ov));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    // No limit for the first byte.
    EXPECT_EQ(WaitForSingleObject(o.ov.hEvent, 150), WAIT_TIMEOUT);
    auto sent = Clock::now();
    pty.Send(Pattern(10));
    ASSERT_EQ(WaitForSingleObject(o.ov.hEvent, 2000), WAIT_OBJECT_0);
    const double ms = MsSince(sent);
    ASSERT_TRUE(GetOverlappedResult(port, &o.ov, &n, FALSE));
    EXPECT_EQ(n, 10u);
    EXPECT_EQ(Bytes(buf, buf + n), Pattern(10));
    // Not before the interval, and at millisecond resolution, not in tenths of a second.
    EXPECT_GE(ms, 30.0);
    EXPECT_LT(ms, 90.0);
}

TEST_F(OpenPort, ReadEndsAtOnceWhenTheCountIsThere) {
    pty.Send(Pattern(30));
    AwaitQueued(30);
    BYTE buf[20];
    Overlapped o;
    DWORD n = 0;
    EXPECT_TRUE(ReadFile(port, buf, sizeof buf, &n, &o.ov));
    EXPECT_EQ(n, 20u);
    EXPECT_TRUE(o.Signalled());
    const Bytes sent = Pattern(30);
    EXPECT_EQ(Bytes(buf, buf + 20), Bytes(sent.begin(), sent.begin() + 20));
}

TEST_F(OpenPort, CancelEndsPendingOperationsAndKeepsWhatWasRead) {
    SetInterval(5000);
    BYTE buf[100];
    Overlapped o;
    DWORD n = 0;
    ASSERT_FALSE(ReadFile(port, buf, sizeof buf, &n, &o.ov));
    pty.Send(Bytes{9, 8, 7});
    AwaitQueued(3);
    EXPECT_FALSE(o.Signalled());
    ASSERT_TRUE(CancelIoEx(port, nullptr));
    EXPECT_TRUE(o.Signalled());
    EXPECT_FALSE(GetOverlappedResult(port, &o.ov, &n, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(Bytes(buf, buf + 3), (Bytes{9, 8, 7}));
    EXPECT_FALSE(CancelIoEx(port, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_NOT_FOUND);
}

TEST_F(OpenPort, WritesCompleteAndAFullLinePendsUntilCancelled) {
    Overlapped o;
    DWORD n = 0;
    const Bytes small = Pattern(16);
    EXPECT_TRUE(WriteFile(port, small.data(), 16, &n, &o.ov));
    EXPECT_EQ(n, 16u);
    EXPECT_EQ(pty.Receive(16, 2000), small);
    // Nobody reads the far end: the terminal's buffer fills and the write pends.
    const Bytes big(1 << 20, 0x55);
    ASSERT_FALSE(WriteFile(port, big.data(), static_cast<DWORD>(big.size()), &n, &o.ov));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    EXPECT_EQ(WaitForSingleObject(o.ov.hEvent, 50), WAIT_TIMEOUT);
    ASSERT_TRUE(CancelIoEx(port, &o.ov));
    EXPECT_FALSE(GetOverlappedResult(port, &o.ov, &n, TRUE));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    EXPECT_LT(n, big.size());
}

TEST_F(OpenPort, PurgeEmptiesTheInputQueue) {
    pty.Send(Pattern(40));
    AwaitQueued(40);
    ASSERT_TRUE(PurgeComm(port, PURGE_TXCLEAR | PURGE_RXCLEAR));
    COMSTAT stat{};
    DWORD errors;
    ASSERT_TRUE(ClearCommError(port, &errors, &stat));
    EXPECT_EQ(stat.cbInQue, 0u);
}

TEST_F(OpenPort, ModemLinesOnAPseudoTerminalAreNoFailure) {
    for (DWORD f : {SETDTR, CLRDTR, SETRTS, CLRRTS}) {
        EXPECT_TRUE(EscapeCommFunction(port, f)) << f;
    }
    EXPECT_FALSE(EscapeCommFunction(port, 99));
}

enum class Pending { kWait, kRead };

class HangUp : public OpenPort, public ::testing::WithParamInterface<Pending> {};

TEST_P(HangUp, PendingOperationsFailAndLaterOnesFailAtOnceWithoutSpinning) {
    Overlapped o;
    DWORD mask = 0;
    BYTE buf[64];
    DWORD n = 0;
    if (GetParam() == Pending::kWait) {
        ASSERT_FALSE(WaitCommEvent(port, &mask, &o.ov));
    } else {
        ASSERT_FALSE(ReadFile(port, buf, sizeof buf, &n, &o.ov));
    }
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    pty.CloseMaster();
    ASSERT_EQ(WaitForSingleObject(o.ov.hEvent, 2000), WAIT_OBJECT_0);
    EXPECT_FALSE(GetOverlappedResult(port, &o.ov, &n, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(ReadFile(port, buf, sizeof buf, &n, &o.ov));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(WaitCommEvent(port, &mask, &o.ov));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    const double before = CpuSeconds();
    SleepMs(300);
    EXPECT_LT(CpuSeconds() - before, 0.03);
}

INSTANTIATE_TEST_SUITE_P(Table, HangUp, ::testing::Values(Pending::kWait, Pending::kRead));

// The seam is swapped while other threads call through it.
BOOL CountingSetEvent(HANDLE h);
std::atomic<int> g_substituted{0};
BOOL CountingSetEvent(HANDLE h) {
    g_substituted.fetch_add(1);
    return posix::RealOps().SetEvent(h);
}

TEST(Seam, SwapsSafelyWhileCallsAreMadeAndTheGuardRestores) {
    posix::Ops ops = posix::RealOps();
    ops.SetEvent = CountingSetEvent;
    HANDLE e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    std::thread caller([&] {
        while (!stop.load()) {
            if (!SetEvent(e)) {
                failures.fetch_add(1);
            }
        }
    });
    for (int i = 0; i < 200; ++i) {
        posix::ScopedOps guard(ops);
        EXPECT_EQ(&posix::CurrentOps(), &ops);
        std::this_thread::yield();
    }
    stop = true;
    caller.join();
    EXPECT_EQ(&posix::CurrentOps(), &posix::RealOps());
    EXPECT_EQ(failures.load(), 0);
    {
        posix::ScopedOps guard(ops);
        const int before = g_substituted.load();
        SetEvent(e);
        EXPECT_EQ(g_substituted.load(), before + 1);
    }
    CloseHandle(e);
}

}  // namespace
}  // namespace tarvic::test
