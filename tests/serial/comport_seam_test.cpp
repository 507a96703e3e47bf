// CComPort over the failure seam: every report text with what follows it. The port
// underneath is a real pseudo-terminal; the seam passes calls through unless a fault
// is armed for them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "platform/posix/seam.h"
#include "serial/ComPort.h"
#include "serial/ReaderTimes.h"
#include "tests/serial/support.h"

namespace tarvic::test {
namespace {

using Clock = std::chrono::steady_clock;
using Texts = std::vector<std::string>;
using posix::RealOps;

double MsSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// Which thread's calls a fault hits: the test's own, or the others (the reader).
enum class Who { kAny, kCaller, kReader };

std::atomic<std::thread::id> g_caller;

struct Fault {
    std::atomic<int> skip{0};  // matching calls that pass before the first failure
    std::atomic<int> fail{0};  // failures to give; -1: all
    std::atomic<Who> who{Who::kAny};
    std::atomic<int> calls{0};  // matching calls seen

    bool Hit() {
        const bool onCaller = std::this_thread::get_id() == g_caller.load();
        const Who w = who.load();
        if ((w == Who::kCaller && !onCaller) || (w == Who::kReader && onCaller)) {
            return false;
        }
        calls.fetch_add(1);
        if (skip.load() > 0) {
            skip.fetch_sub(1);
            return false;
        }
        const int n = fail.load();
        if (n == 0) {
            return false;
        }
        if (n > 0) {
            fail.fetch_sub(1);
        }
        return true;
    }
    void Arm(Who w, int failures, int skipped = 0) {
        who = w;
        skip = skipped;
        fail = failures;
    }
    void Clear() {
        fail = 0;
        skip = 0;
        calls = 0;
        who = Who::kAny;
    }
};

struct Faults {
    Fault createFile, getCommState, setCommState, setCommMask, setCommTimeouts, escape;
    Fault closePort, readFile, waitCommEvent, getOverlapped, resetEvent, setEvent;
    Fault createThread, createEvent, waitMultiple;
    Fault writeFails, writePends, writeLate, cancelIgnored;
    std::atomic<DWORD> waitResult{WAIT_FAILED};  // what a hit on waitMultiple answers
    std::atomic<DWORD> waitMs{0};                // waitMultiple: only waits this long (0: any)
    std::atomic<DWORD> readPassMs{0};            // shortens the reader's 10 s read wait
    std::atomic<bool> slowPause{false};          // the reader's 5 ms pause lasts 300 ms
    std::atomic<HANDLE> port{nullptr};
    std::mutex logMutex;
    Texts log;  // the restoring calls, in order

    void Clear() {
        for (Fault* f : {&createFile, &getCommState, &setCommState, &setCommMask, &setCommTimeouts,
                         &escape, &closePort, &readFile, &waitCommEvent, &getOverlapped,
                         &resetEvent, &setEvent, &createThread, &createEvent, &waitMultiple,
                         &writeFails, &writePends, &writeLate, &cancelIgnored}) {
            f->Clear();
        }
        waitResult = WAIT_FAILED;
        waitMs = 0;
        readPassMs = 0;
        slowPause = false;
        std::lock_guard lock(logMutex);
        log.clear();
    }
    void Log(const char* what) {
        std::lock_guard lock(logMutex);
        log.emplace_back(what);
    }
    Texts Logged() {
        std::lock_guard lock(logMutex);
        return log;
    }
};

Faults g_faults;
DCB g_dcbRead{};

BOOL Refuse(DWORD error) {
    SetLastError(error);
    return FALSE;
}

const posix::Ops& FaultOps() {
    static const posix::Ops ops = [] {
        posix::Ops o = RealOps();
        o.CreateFileA = [](LPCSTR n, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD d, DWORD f,
                           HANDLE t) -> HANDLE {
            if (g_faults.createFile.Hit()) {
                SetLastError(ERROR_FILE_NOT_FOUND);
                return INVALID_HANDLE_VALUE;
            }
            HANDLE h = RealOps().CreateFileA(n, a, s, sa, d, f, t);
            g_faults.port = h;
            return h;
        };
        o.GetCommState = [](HANDLE h, LPDCB dcb) -> BOOL {
            if (g_faults.getCommState.Hit()) {
                return Refuse(ERROR_GEN_FAILURE);
            }
            BOOL ok = RealOps().GetCommState(h, dcb);
            g_dcbRead = *dcb;
            return ok;
        };
        o.SetCommState = [](HANDLE h, LPDCB dcb) -> BOOL {
            g_faults.Log(std::memcmp(dcb, &g_dcbRead, sizeof(DCB)) == 0 ? "SetCommState(saved)"
                                                                        : "SetCommState");
            if (g_faults.setCommState.Hit()) {
                return Refuse(ERROR_GEN_FAILURE);
            }
            return RealOps().SetCommState(h, dcb);
        };
        o.SetCommMask = [](HANDLE h, DWORD m) -> BOOL {
            return g_faults.setCommMask.Hit() ? Refuse(ERROR_GEN_FAILURE)
                                              : RealOps().SetCommMask(h, m);
        };
        o.SetCommTimeouts = [](HANDLE h, LPCOMMTIMEOUTS c) -> BOOL {
            g_faults.Log("SetCommTimeouts");
            return g_faults.setCommTimeouts.Hit() ? Refuse(ERROR_GEN_FAILURE)
                                                  : RealOps().SetCommTimeouts(h, c);
        };
        o.EscapeCommFunction = [](HANDLE h, DWORD f) -> BOOL {
            return g_faults.escape.Hit() ? Refuse(ERROR_GEN_FAILURE)
                                         : RealOps().EscapeCommFunction(h, f);
        };
        o.CloseHandle = [](HANDLE h) -> BOOL {
            if (h != g_faults.port.load()) {
                return RealOps().CloseHandle(h);
            }
            g_faults.Log("ClosePort");
            // A failed close that still closed: the handle is gone either way.
            BOOL ok = RealOps().CloseHandle(h);
            return g_faults.closePort.Hit() ? Refuse(ERROR_GEN_FAILURE) : ok;
        };
        o.ReadFile = [](HANDLE h, LPVOID b, DWORD n, LPDWORD r, LPOVERLAPPED ov) -> BOOL {
            return g_faults.readFile.Hit() ? Refuse(ERROR_GEN_FAILURE)
                                           : RealOps().ReadFile(h, b, n, r, ov);
        };
        o.WaitCommEvent = [](HANDLE h, LPDWORD m, LPOVERLAPPED ov) -> BOOL {
            return g_faults.waitCommEvent.Hit() ? Refuse(ERROR_DEVICE_NOT_CONNECTED)
                                                : RealOps().WaitCommEvent(h, m, ov);
        };
        o.GetOverlappedResult = [](HANDLE h, LPOVERLAPPED ov, LPDWORD n, BOOL wait) -> BOOL {
            if (!wait && g_faults.getOverlapped.Hit()) {
                return Refuse(ERROR_GEN_FAILURE);
            }
            return RealOps().GetOverlappedResult(h, ov, n, wait);
        };
        o.ResetEvent = [](HANDLE h) -> BOOL {
            return g_faults.resetEvent.Hit() ? Refuse(ERROR_INVALID_HANDLE)
                                             : RealOps().ResetEvent(h);
        };
        o.SetEvent = [](HANDLE h) -> BOOL {
            return g_faults.setEvent.Hit() ? Refuse(ERROR_INVALID_HANDLE) : RealOps().SetEvent(h);
        };
        o.CreateThread = [](LPSECURITY_ATTRIBUTES sa, size_t st, LPTHREAD_START_ROUTINE p, LPVOID a,
                            DWORD f, LPDWORD id) -> HANDLE {
            if (g_faults.createThread.Hit()) {
                SetLastError(ERROR_NOT_ENOUGH_MEMORY);
                return nullptr;
            }
            return RealOps().CreateThread(sa, st, p, a, f, id);
        };
        o.CreateEventA = [](LPSECURITY_ATTRIBUTES sa, BOOL m, BOOL i, LPCSTR n) -> HANDLE {
            if (g_faults.createEvent.Hit()) {
                SetLastError(ERROR_NOT_ENOUGH_MEMORY);
                return nullptr;
            }
            return RealOps().CreateEventA(sa, m, i, n);
        };
        o.WaitForMultipleObjects = [](DWORD c, const HANDLE* hs, BOOL all, DWORD ms) -> DWORD {
            const bool onReader = std::this_thread::get_id() != g_caller.load();
            if (onReader && ms == reader::kReadPassMs && g_faults.readPassMs.load() != 0) {
                ms = g_faults.readPassMs.load();
            } else if ((g_faults.waitMs.load() == 0 || g_faults.waitMs.load() == ms) &&
                       g_faults.waitMultiple.Hit()) {
                SetLastError(ERROR_GEN_FAILURE);
                return g_faults.waitResult.load();
            }
            return RealOps().WaitForMultipleObjects(c, hs, all, ms);
        };
        o.WriteFile = [](HANDLE h, LPCVOID b, DWORD n, LPDWORD w, LPOVERLAPPED ov) -> BOOL {
            if (g_faults.writeFails.Hit()) {
                return Refuse(ERROR_GEN_FAILURE);
            }
            if (g_faults.writePends.Hit()) {
                return Refuse(ERROR_IO_PENDING);  // under way, and it never ends
            }
            BOOL ok = RealOps().WriteFile(h, b, n, w, ov);
            if (ok && g_faults.writeLate.Hit()) {
                return Refuse(ERROR_IO_PENDING);  // done, but told as pending
            }
            return ok;
        };
        o.CancelIoEx = [](HANDLE h, LPOVERLAPPED ov) -> BOOL {
            // As some serial drivers do: nothing to cancel, and the operation goes on.
            return g_faults.cancelIgnored.Hit() ? Refuse(ERROR_NOT_FOUND)
                                                : RealOps().CancelIoEx(h, ov);
        };
        o.Sleep = [](DWORD ms) {
            const bool onReader = std::this_thread::get_id() != g_caller.load();
            RealOps().Sleep(
                onReader && ms == reader::kDeliveryPauseMs && g_faults.slowPause.load() ? 300 : ms);
        };
        return o;
    }();
    return ops;
}

size_t TotalReceived(const RecordingPort& port) {
    size_t n = 0;
    for (const auto& d : port.Received()) {
        n += d.size();
    }
    return n;
}

bool Eventually(const std::function<bool()>& condition, int ms = 3000) {
    for (int i = 0; i < ms && !condition(); ++i) {
        SleepMs(1);
    }
    return condition();
}

class Seam : public ::testing::Test {
  protected:
    void SetUp() override {
        g_caller = std::this_thread::get_id();
        g_faults.Clear();
        port.SetPortNumber(pty.Number());
        port.SetIntervalChars(20);  // 18 ms at 9600 baud
    }
    void TearDown() override {
        g_faults.Clear();
        EXPECT_TRUE(port.Close());
    }
    void OpenPort() { ASSERT_TRUE(port.Open()) << ::testing::PrintToString(port.Errors()); }
    bool ErrorsReach(size_t n) {
        return Eventually([&] { return port.Errors().size() >= n; });
    }
    void SendLater(Bytes bytes, int ms = 50) {
        senders.emplace_back([this, bytes, ms] {
            SleepMs(ms);
            pty.Send(bytes);
        });
    }
    ~Seam() override {
        for (auto& t : senders) {
            t.join();
        }
    }

    Pty pty{5};
    posix::ScopedOps seam{FaultOps()};
    RecordingPort port;
    std::vector<std::thread> senders;
};

TEST_F(Seam, ANewObjectHasItsDefaultsAndClosesWithoutReport) {
    CComPort fresh;
    EXPECT_EQ(fresh.GetPortNumber(), 1);
    EXPECT_EQ(fresh.GetBaudRate(), 9600u);
    EXPECT_EQ(fresh.GetIntervalChars(), 20);
    EXPECT_EQ(fresh.GetBufferSize(), 1024);
    EXPECT_TRUE(port.Close());
    EXPECT_FALSE(port.SetDtr(true));
    EXPECT_FALSE(port.SetRts(false));
    EXPECT_EQ(g_faults.escape.calls.load(), 0);
    EXPECT_TRUE(port.Errors().empty());
}

struct OpenCase {
    const char* name;
    Fault Faults::*fault;
    bool halfOpen;  // the device was opened before the failing step
};

void PrintTo(const OpenCase& c, std::ostream* os) {
    *os << c.name;
}

class OpenFailure : public Seam, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(OpenFailure, ReportsSystemErrorOnceAndLeavesAPortThatCloses) {
    (g_faults.*GetParam().fault).Arm(Who::kAny, -1);
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.Errors(), Texts{"System error!"});
    // Only a port that is open answers the modem-line calls.
    EXPECT_EQ(port.SetDtr(true), GetParam().halfOpen);
    g_faults.Clear();
    EXPECT_TRUE(port.Close());
    OpenPort();
    EXPECT_EQ(port.Errors(), Texts{"System error!"});
}

INSTANTIATE_TEST_SUITE_P(Table, OpenFailure,
                         ::testing::Values(OpenCase{"CreateFile", &Faults::createFile, false},
                                           OpenCase{"GetCommState", &Faults::getCommState, true},
                                           OpenCase{"SetCommState", &Faults::setCommState, true},
                                           OpenCase{"SetCommMask", &Faults::setCommMask, true},
                                           OpenCase{"SetCommTimeouts", &Faults::setCommTimeouts,
                                                    true},
                                           OpenCase{"CreateThread", &Faults::createThread, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Seam, OpenMakesFiveAttemptsWithOneReport) {
    g_faults.createFile.Arm(Who::kAny, -1);
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(g_faults.createFile.calls.load(), 5);
    EXPECT_EQ(port.Errors(), Texts{"System error!"});
    // The fifth attempt may succeed.
    g_faults.Clear();
    g_faults.createFile.Arm(Who::kAny, 4);
    EXPECT_TRUE(port.Open());
    EXPECT_EQ(g_faults.createFile.calls.load(), 5);
}

TEST_F(Seam, ABufferThatCannotBeHadFailsOpen) {
    port.SetBufferSize(0);
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.Errors(), Texts{"System error!"});
}

TEST_F(Seam, AFailedCloseReportsAndStillClosesThePort) {
    OpenPort();
    g_faults.closePort.Arm(Who::kAny, 1);
    EXPECT_FALSE(port.Close());
    EXPECT_EQ(port.Errors(), Texts{"ResetEvent error!"});
    EXPECT_FALSE(port.SetDtr(true));
    EXPECT_TRUE(port.Close());
}

TEST_F(Seam, OpenReportsAFailedCloseOfThePreviousPortFirst) {
    OpenPort();
    g_faults.closePort.Arm(Who::kAny, 1);
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.Errors(), (Texts{"ResetEvent error!", "System error!"}));
    EXPECT_EQ(g_faults.createFile.calls.load(), 1);  // the open before, none after
}

struct LineCase {
    const char* name;
    bool dtr;
    bool raise;
    const char* text;
};

void PrintTo(const LineCase& c, std::ostream* os) {
    *os << c.name;
}

class ModemLine : public Seam, public ::testing::WithParamInterface<LineCase> {};

TEST_P(ModemLine, AFailedLineChangeReports) {
    OpenPort();
    g_faults.escape.Arm(Who::kAny, 1);
    const auto& c = GetParam();
    EXPECT_FALSE(c.dtr ? port.SetDtr(c.raise) : port.SetRts(c.raise));
    EXPECT_EQ(port.Errors(), Texts{c.text});
    EXPECT_TRUE(c.dtr ? port.SetDtr(c.raise) : port.SetRts(c.raise));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ModemLine,
    ::testing::Values(LineCase{"RaiseDtr", true, true, "SETDTR/CLRDTR command error!"},
                      LineCase{"DropDtr", true, false, "SETDTR/CLRDTR command error!"},
                      LineCase{"RaiseRts", false, true, "SETRTS/CLRRTS command error!"},
                      LineCase{"DropRts", false, false, "SETRTS/CLRRTS command error!"}),
    [](const auto& info) { return std::string(info.param.name); });

struct ReaderCase {
    const char* name;
    void (*arm)();
    const char* text;
};

void PrintTo(const ReaderCase& c, std::ostream* os) {
    *os << c.name;
}

class ReaderFailure : public Seam, public ::testing::WithParamInterface<ReaderCase> {};

TEST_P(ReaderFailure, ReportsRaisesTheAbortAndGoesOn) {
    OpenPort();
    GetParam().arm();
    pty.Send(Pattern(10, 1));
    ASSERT_TRUE(ErrorsReach(1));
    Bytes got;
    auto start = Clock::now();
    EXPECT_FALSE(ReadInto(port, got, 2000));
    EXPECT_LT(MsSince(start), 500);
    EXPECT_EQ(port.Errors(), (Texts{GetParam().text, "Read abort!"}));
    // The pass goes on: later bursts still reach the reader.
    const Bytes later = Pattern(8, 2);
    pty.Send(later);
    ASSERT_TRUE(Eventually([&] {
        auto r = port.Received();
        return !r.empty() && r.back().size() >= later.size() &&
               Bytes(r.back().end() - static_cast<long>(later.size()), r.back().end()) == later;
    }));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReaderFailure,
    ::testing::Values(
        ReaderCase{"ResetCompletionEvent", [] { g_faults.resetEvent.Arm(Who::kReader, 1); },
                   "ResetEvent error!"},
        ReaderCase{"ResetReceiveEvent", [] { g_faults.resetEvent.Arm(Who::kReader, 1, 1); },
                   "ResetEvent error!"},
        ReaderCase{"ReadCannotStart",
                   [] {
                       g_faults.readFile.Arm(Who::kReader, 1);
                       g_faults.readPassMs = 100;  // the wait for a read that never began
                   },
                   "FileRead command error!"},
        ReaderCase{"ReadResult", [] { g_faults.getOverlapped.Arm(Who::kReader, 1); },
                   "GetOverlappedResult error! Unknown error!"},
        ReaderCase{"ReadWait",
                   [] {
                       g_faults.waitMs = reader::kReadPassMs;
                       g_faults.waitMultiple.Arm(Who::kReader, 1);
                   },
                   "FileRead command error! Unknown error!"},
        ReaderCase{"SetReceiveEvent", [] { g_faults.setEvent.Arm(Who::kReader, 1); },
                   "SetEvent error!"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Seam, WhenTheAbortCannotBeRaisedTheReaderReportsTwiceAndEnds) {
    OpenPort();
    g_faults.setEvent.Arm(Who::kReader, 2);
    pty.Send(Pattern(10, 3));
    ASSERT_TRUE(ErrorsReach(2));
    EXPECT_EQ(port.Errors(), (Texts{"SetEvent error!", "SetEvent error!"}));
    const size_t delivered = port.Received().size();
    pty.Send(Pattern(10, 4));
    SleepMs(200);
    EXPECT_EQ(port.Received().size(), delivered);  // no reader any more
    // The bytes placed before the signal failed are handed over; after them, as the abort
    // was never set, a silent time-out.
    Bytes got;
    ASSERT_TRUE(ReadInto(port, got, 100));
    EXPECT_EQ(got, Pattern(10, 3));
    EXPECT_FALSE(ReadInto(port, got, 100));
    EXPECT_EQ(port.Errors().size(), 2u);
}

TEST_F(Seam, TheAbortLatchHoldsUntilTheNextOpen) {
    OpenPort();
    g_faults.setEvent.Arm(Who::kReader, 1);
    pty.Send(Pattern(10, 5));
    ASSERT_TRUE(ErrorsReach(1));
    for (int i = 0; i < 3; ++i) {
        Bytes got;
        auto start = Clock::now();
        EXPECT_FALSE(ReadInto(port, got, 2000));
        EXPECT_LT(MsSince(start), 500);
    }
    EXPECT_EQ(port.Errors(),
              (Texts{"SetEvent error!", "Read abort!", "Read abort!", "Read abort!"}));
    // The reader still delivers meanwhile.
    const size_t before = TotalReceived(port);
    pty.Send(Pattern(7, 6));
    EXPECT_TRUE(Eventually([&] { return TotalReceived(port) == before + 7; }));
    OpenPort();
    const Bytes fresh = Pattern(9, 7);
    SendLater(fresh);
    Bytes got;
    ASSERT_TRUE(ReadInto(port, got, 2000));
    EXPECT_EQ(got, fresh);
    EXPECT_EQ(port.Errors().size(), 4u);
}

TEST_F(Seam, AReadThatTimesOutIsSilentAndTouchesNothing) {
    OpenPort();
    Bytes dest(1024, 0xAA);
    int count = -7;
    auto start = Clock::now();
    EXPECT_FALSE(port.Read(dest.data(), &count, 60));
    EXPECT_GE(MsSince(start), 59.0);
    EXPECT_EQ(count, -7);
    EXPECT_EQ(dest, Bytes(1024, 0xAA));
    EXPECT_TRUE(port.Errors().empty());
}

struct ReadCase {
    const char* name;
    void (*arm)(CComPort& port);
    const char* text;
};

void PrintTo(const ReadCase& c, std::ostream* os) {
    *os << c.name;
}

class ReadFailure : public Seam, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadFailure, ReportsAndHandsOverNothing) {
    OpenPort();
    g_faults.slowPause = true;  // the receive event stays set for a while after delivery
    pty.Send(Pattern(10, 8));
    ASSERT_TRUE(Eventually([&] { return TotalReceived(port) == 10; }));
    SleepMs(20);
    GetParam().arm(port);
    Bytes dest(1024, 0xAA);
    int count = -7;
    EXPECT_FALSE(port.Read(dest.data(), &count, 1000));
    EXPECT_EQ(port.Errors(), Texts{GetParam().text});
    EXPECT_EQ(count, -7);
    EXPECT_EQ(dest, Bytes(1024, 0xAA));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReadFailure,
    ::testing::Values(ReadCase{"ResetReceiveEvent",
                               [](CComPort&) { g_faults.resetEvent.Arm(Who::kCaller, 1); },
                               "ResetEvent error!"},
                      ReadCase{"Wait",
                               [](CComPort&) { g_faults.waitMultiple.Arm(Who::kCaller, 1); },
                               "Unknown error!"},
                      // The receive event is set as well: the abort wins.
                      ReadCase{"AbortAndReceive", [](CComPort& p) { p.Abort(); }, "Read abort!"}),
    [](const auto& info) { return std::string(info.param.name); });

struct WriteCase {
    const char* name;
    void (*arm)();
    bool abortFirst = false;
    DWORD timeoutMs = 1000;
    bool result = false;
    const char* text = nullptr;  // nullptr: no report
    int sends = 0;
    bool reachesLine = false;
};

void PrintTo(const WriteCase& c, std::ostream* os) {
    *os << c.name;
}

class WriteOutcome : public Seam, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(WriteOutcome, AnswersAndReportsAsItShould) {
    OpenPort();
    const auto& c = GetParam();
    c.arm();
    if (c.abortFirst) {
        port.Abort();
    }
    const Bytes data = {'A', 'T', 'Z', '\r'};
    auto start = Clock::now();
    EXPECT_EQ(port.Write(data.data(), static_cast<DWORD>(data.size()), c.timeoutMs), c.result);
    const double ms = MsSince(start);
    EXPECT_EQ(port.Errors(), c.text ? Texts{c.text} : Texts{});
    EXPECT_EQ(port.Sends(), c.sends);
    EXPECT_EQ(pty.Receive(data.size(), c.reachesLine ? 2000 : 50), c.reachesLine ? data : Bytes{});
    if (c.text != nullptr && std::string(c.text).find("TimeOut") != std::string::npos) {
        EXPECT_GE(ms, c.timeoutMs - 1.0);
    } else {
        EXPECT_LT(ms, c.timeoutMs);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, WriteOutcome,
    ::testing::Values(
        WriteCase{.name = "AtOnce", .arm = [] {}, .result = true, .sends = 1, .reachesLine = true},
        WriteCase{.name = "Pending",
                  .arm = [] { g_faults.writeLate.Arm(Who::kCaller, 1); },
                  .result = true,
                  .sends = 1,
                  .reachesLine = true},
        WriteCase{.name = "ResetBefore",
                  .arm = [] { g_faults.resetEvent.Arm(Who::kCaller, 1); },
                  .text = "Reset event error!"},
        WriteCase{.name = "NoEvent",
                  .arm = [] { g_faults.createEvent.Arm(Who::kCaller, 1); },
                  .text = "Reset event error!"},
        WriteCase{.name = "ResetAfter",
                  .arm = [] { g_faults.resetEvent.Arm(Who::kCaller, 1, 1); },
                  .text = "Reset event error!",
                  .sends = 1,
                  .reachesLine = true},
        WriteCase{.name = "CannotStart",
                  .arm = [] { g_faults.writeFails.Arm(Who::kCaller, 1); },
                  .text = "FileWrite command error!",
                  .sends = 1},
        WriteCase{.name = "TimeOut",
                  .arm = [] { g_faults.writePends.Arm(Who::kCaller, 1); },
                  .timeoutMs = 80,
                  .text = "FileWrite command error! TimeOut elapsed!",
                  .sends = 1},
        WriteCase{.name = "Abort",
                  .arm = [] { g_faults.writePends.Arm(Who::kCaller, 1); },
                  .abortFirst = true,
                  .text = "Write abort!",
                  .sends = 1},
        WriteCase{.name = "Result",
                  .arm =
                      [] {
                          g_faults.writeLate.Arm(Who::kCaller, 1);
                          g_faults.getOverlapped.Arm(Who::kCaller, 1);
                      },
                  .text = "GetOverlappedResult error! Unknown error!",
                  .sends = 1,
                  .reachesLine = true},
        WriteCase{.name = "Wait",
                  .arm =
                      [] {
                          g_faults.writePends.Arm(Who::kCaller, 1);
                          g_faults.waitMultiple.Arm(Who::kCaller, 1);
                      },
                  .text = "FileWrite command error! Unknown error!",
                  .sends = 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Seam, AWaitForLineEventsThatFailsOutrightAbortsOnceAndDoesNotSpin) {
    g_faults.waitCommEvent.Arm(Who::kReader, -1);
    OpenPort();
    Bytes got;
    EXPECT_FALSE(ReadInto(port, got, 2000));
    EXPECT_EQ(port.Errors(), Texts{"Read abort!"});
    const int calls = g_faults.waitCommEvent.calls.load();
    const double cpu = CpuSeconds();
    SleepMs(300);
    EXPECT_LT(CpuSeconds() - cpu, 0.03);
    EXPECT_EQ(g_faults.waitCommEvent.calls.load(), calls);
    auto start = Clock::now();
    EXPECT_TRUE(port.Close());
    EXPECT_LT(MsSince(start), 500);
}

TEST_F(Seam, AReadStillRunningWhenThePassEndsIsCancelledAndDelivered) {
    g_faults.readPassMs = 150;
    port.SetIntervalChars(100);  // 93 ms; the stream below never pauses that long
    OpenPort();
    Bytes sent;
    std::thread stream([&] {
        for (int i = 0; i < 25; ++i) {
            Bytes chunk = Pattern(4, static_cast<uint8_t>(i));
            pty.Send(chunk);
            sent.insert(sent.end(), chunk.begin(), chunk.end());
            SleepMs(20);
        }
    });
    stream.join();
    EXPECT_TRUE(Eventually([&] { return TotalReceived(port) == sent.size(); }));
    Bytes all;
    for (const auto& d : port.Received()) {
        all.insert(all.end(), d.begin(), d.end());
    }
    EXPECT_EQ(all, sent);
    EXPECT_GE(port.Received().size(), 2u);  // ended by the pass, not by silence
    EXPECT_TRUE(port.Errors().empty());
}

struct Sink : CComPort {
    Texts* texts;
    explicit Sink(Texts* t) : texts(t) {}
    void OnError(const char* text) override { texts->emplace_back(text); }
};

TEST_F(Seam, CloseEndsAPendingLineEventWaitThatCancellingLeavesAlone) {
    g_faults.cancelIgnored.Arm(Who::kAny, -1);
    OpenPort();
    SleepMs(50);  // the reader now waits for a line event
    const auto start = Clock::now();
    std::atomic<bool> closed{false};
    std::thread closer([&] {
        EXPECT_TRUE(port.Close());
        closed = true;
    });
    const bool prompt = Eventually([&] { return closed.load(); }, 1000);
    if (!prompt) {
        pty.Send({0x55});  // a byte ends the wait, so that the test itself can end
    }
    closer.join();
    EXPECT_TRUE(prompt) << "Close took " << MsSince(start) << " ms";
    EXPECT_TRUE(port.Errors().empty()) << ::testing::PrintToString(port.Errors());
}

TEST_F(Seam, DestructionPutsBackLineSettingsThenTimeOutsThenCloses) {
    Texts seen;
    {
        Sink sink(&seen);
        sink.SetPortNumber(pty.Number());
        ASSERT_TRUE(sink.Open());
        g_faults.Clear();
    }
    EXPECT_EQ(g_faults.Logged(), (Texts{"SetCommState(saved)", "SetCommTimeouts", "ClosePort"}));
    EXPECT_TRUE(seen.empty());
}

TEST_F(Seam, AFailedRestoreAtDestructionStopsTheRestoreAndReachesOnlyTheBase) {
    Texts seen;
    {
        Sink sink(&seen);
        sink.SetPortNumber(pty.Number());
        ASSERT_TRUE(sink.Open());
        g_faults.Clear();
        g_faults.setCommState.Arm(Who::kAny, 1);
    }
    EXPECT_EQ(g_faults.Logged(), (Texts{"SetCommState(saved)", "ClosePort"}));
    EXPECT_TRUE(seen.empty());
}

}  // namespace
}  // namespace tarvic::test
