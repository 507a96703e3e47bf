// CComPort over real pseudo-terminals: names, exclusive use, line settings, the delivery
// of bursts through the reader, and the far end going away. The Windows build runs the
// data path under Wine; names, exclusive use, the terminal settings and the far end going
// away are tested here on Linux only (Wine cannot show them on a pseudo-terminal).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#ifndef _WIN32
#include "platform/posix/seam.h"
#endif
#include "serial/ComPort.h"
#include "tests/serial/support.h"

namespace tarvic::test {
namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

Bytes Join(const Bytes& a, const Bytes& b) {
    Bytes out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

size_t TotalReceived(const RecordingPort& port) {
    size_t n = 0;
    for (const auto& d : port.Received()) {
        n += d.size();
    }
    return n;
}

// Until the reader has delivered n bytes in all (no Read takes them meanwhile).
bool AwaitReceived(const RecordingPort& port, size_t n) {
    for (int i = 0; i < 3000 && TotalReceived(port) < n; ++i) {
        SleepMs(1);
    }
    return TotalReceived(port) >= n;
}

// Sends after a delay on a thread of its own, so that a Read is already waiting.
class LateSender {
  public:
    LateSender(Pty& pty, Bytes bytes, int delayMs = 50)
        : m_thread([&pty, bytes, delayMs] {
              SleepMs(delayMs);
              pty.Send(bytes);
          }) {}
    ~LateSender() { m_thread.join(); }

  private:
    std::thread m_thread;
};

class PtyPort : public ::testing::Test {
  protected:
    void Configure(DWORD baud, int intervalChars, int bufferSize = 1024) {
        port.SetPortNumber(pty.Number());
        port.SetBaudRate(baud);
        port.SetIntervalChars(intervalChars);
        port.SetBufferSize(bufferSize);
    }
    void TearDown() override { EXPECT_TRUE(port.Close()); }
    Pty pty{3};
    RecordingPort port;
};

#ifndef _WIN32
class NameMapping : public ::testing::TestWithParam<int> {};

TEST_P(NameMapping, PortNumberOpensItsEntryOfThePortDirectory) {
    Pty pty(GetParam());
    Pty other(GetParam() + 1);
    RecordingPort port;
    port.SetPortNumber(GetParam());
    ASSERT_TRUE(port.Open());
    LateSender send(pty, Bytes{'h', 'i'});
    Bytes got;
    ASSERT_TRUE(ReadInto(port, got, 2000));
    EXPECT_EQ(got, (Bytes{'h', 'i'}));
    EXPECT_TRUE(port.Close());
    EXPECT_TRUE(port.Errors().empty());
}

INSTANTIATE_TEST_SUITE_P(Table, NameMapping, ::testing::Values(3, 12));

TEST(Open, AMissingDeviceFailsWithOneReport) {
    PortDirectory();
    RecordingPort port;
    port.SetPortNumber(240);  // no entry, and /dev/ttyS239 does not exist
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.Errors(), std::vector<std::string>{"System error!"});
    EXPECT_FALSE(port.SetDtr(true));
    EXPECT_TRUE(port.Close());
}

TEST_F(PtyPort, OpenIsExclusiveUntilClosed) {
    Configure(9600, 20);
    ASSERT_TRUE(port.Open());
    RecordingPort second;
    second.SetPortNumber(pty.Number());
    EXPECT_FALSE(second.Open());
    EXPECT_EQ(second.Errors(), std::vector<std::string>{"System error!"});
    EXPECT_EQ(RunProbe(pty.Number()), 2);
    ASSERT_TRUE(port.Close());
    EXPECT_TRUE(second.Open());
    EXPECT_TRUE(second.Close());
}

// What exclusive use holds on Linux, as the README says: later openers are refused unless
// they are privileged, lockers are refused always, an earlier opener is not noticed.
TEST_F(PtyPort, ExclusiveUseKeepsOutLaterOpenersAndLockersOnly) {
    Configure(9600, 20);
    const int earlier = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(earlier, 0);
    ASSERT_TRUE(port.Open());
    const int later = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const int openErrno = errno;
    if (geteuid() == 0) {
        EXPECT_GE(later, 0);  // TIOCEXCL does not stop a privileged opener
    } else {
        EXPECT_LT(later, 0);
        EXPECT_EQ(openErrno, EBUSY);
    }
    const int locker = later >= 0 ? later : earlier;
    EXPECT_NE(flock(locker, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(errno, EWOULDBLOCK);
    if (later >= 0) {
        close(later);
    }
    close(earlier);
}

class LineSettings : public PtyPort, public ::testing::WithParamInterface<DWORD> {};

TEST_P(LineSettings, AreAppliedToTheDevice) {
    termios before = pty.SlaveTermios();
    before.c_cflag |= CSTOPB | CRTSCTS;
    before.c_iflag |= IXON | IXOFF;
    pty.SetSlaveTermios(before);
    Configure(GetParam(), 20);
    ASSERT_TRUE(port.Open());
    const termios t = pty.SlaveTermios();
    speed_t expected = GetParam() == 9600 ? B9600 : GetParam() == 19200 ? B19200 : B115200;
    EXPECT_EQ(cfgetospeed(&t), expected);
    EXPECT_EQ(cfgetispeed(&t), expected);
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t{CS8});
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_TRUE(port.SetDtr(false));
    EXPECT_TRUE(port.SetRts(true));
    EXPECT_TRUE(port.Errors().empty());
}

INSTANTIATE_TEST_SUITE_P(Table, LineSettings, ::testing::Values(9600u, 19200u, 115200u));

// The interval that Open applies, seen through a pass-through seam.
std::atomic<DWORD> g_interval{0};
BOOL RecordTimeouts(HANDLE h, LPCOMMTIMEOUTS cto) {
    g_interval = cto->ReadIntervalTimeout;
    return posix::RealOps().SetCommTimeouts(h, cto);
}

struct IntervalCase {
    DWORD baud;
    int chars;
    DWORD ms;
};

void PrintTo(const IntervalCase& c, std::ostream* os) {
    *os << c.baud << " baud, " << c.chars << " chars";
}

class Interval : public PtyPort, public ::testing::WithParamInterface<IntervalCase> {};

TEST_P(Interval, CountsNineBitTimesPerCharacter) {
    posix::Ops ops = posix::RealOps();
    ops.SetCommTimeouts = RecordTimeouts;
    posix::ScopedOps seam(ops);
    Configure(GetParam().baud, GetParam().chars);
    g_interval = 0xDEAD;
    ASSERT_TRUE(port.Open());
    EXPECT_EQ(g_interval.load(), GetParam().ms);
    EXPECT_TRUE(port.Close());
}

INSTANTIATE_TEST_SUITE_P(Table, Interval,
                         ::testing::Values(IntervalCase{9600, 20, 18}, IntervalCase{9600, 500, 468},
                                           IntervalCase{115200, 1000, 78},
                                           IntervalCase{115200, 20, 1}));

TEST(Destruction, PutsBackTheTerminalSettingsFoundAtOpen) {
    Pty pty(4);
    termios original = pty.SlaveTermios();
    cfsetspeed(&original, B4800);
    original.c_lflag |= ICANON | ECHO;
    original.c_cflag |= CSTOPB;
    original.c_iflag |= ICRNL;
    pty.SetSlaveTermios(original);
    original = pty.SlaveTermios();
    {
        CComPort port;
        port.SetPortNumber(4);
        port.SetBaudRate(115200);
        ASSERT_TRUE(port.Open());
        const termios open = pty.SlaveTermios();
        ASSERT_EQ(cfgetospeed(&open), speed_t{B115200});
        ASSERT_EQ(open.c_lflag & ICANON, 0u);
    }
    const termios after = pty.SlaveTermios();
    EXPECT_EQ(cfgetospeed(&after), speed_t{B4800});
    EXPECT_EQ(after.c_iflag, original.c_iflag);
    EXPECT_EQ(after.c_oflag, original.c_oflag);
    EXPECT_EQ(after.c_cflag, original.c_cflag);
    EXPECT_EQ(after.c_lflag, original.c_lflag);
}

#endif  // _WIN32

TEST_F(PtyPort, ABurstIsDeliveredAsOneRead) {
    Configure(9600, 100);  // 93 ms of silence ends a burst
    ASSERT_TRUE(port.Open());
    const Bytes burst = Pattern(200);
    LateSender send(pty, burst);
    Bytes got;
    ASSERT_TRUE(ReadInto(port, got, 3000));
    EXPECT_EQ(got, burst);
    EXPECT_EQ(port.Received().size(), 1u);
}

TEST_F(PtyPort, TwoBurstsAreGatheredIntoOneRead) {
    Configure(9600, 20);
    ASSERT_TRUE(port.Open());
    const Bytes first = Pattern(30, 1);
    const Bytes second = Pattern(40, 2);
    pty.Send(first);
    ASSERT_TRUE(AwaitReceived(port, first.size()));
    SleepMs(50);  // the first delivery's signal has been withdrawn
    pty.Send(second);
    ASSERT_TRUE(AwaitReceived(port, first.size() + second.size()));
    Bytes got;
    ASSERT_TRUE(ReadInto(port, got, 3000));
    EXPECT_EQ(got, Join(first, second));
    EXPECT_EQ(port.Received().size(), 2u);
}

// A Read that starts after the delivery's signal has been withdrawn takes the bytes at once
// instead of waiting for a next burst that may never come; the next Read waits again.
TEST_F(PtyPort, BytesDeliveredBeforeTheReadAreTakenAtOnce) {
    Configure(9600, 20);
    ASSERT_TRUE(port.Open());
    const Bytes burst = Pattern(10, 14);
    pty.Send(burst);
    ASSERT_TRUE(AwaitReceived(port, burst.size()));
    SleepMs(50);
    Bytes got;
    auto start = Clock::now();
    ASSERT_TRUE(ReadInto(port, got, 1000));
    EXPECT_LT(MsSince(start), 100);
    EXPECT_EQ(got, burst);
    start = Clock::now();
    EXPECT_FALSE(ReadInto(port, got, 200));
    EXPECT_GE(MsSince(start), 199.0);
    const Bytes next = Pattern(1, 15);
    LateSender send(pty, next);
    ASSERT_TRUE(ReadInto(port, got, 3000));
    EXPECT_EQ(got, next);
    EXPECT_TRUE(port.Errors().empty());
}

struct GapCase {
    int gapMs;
    size_t deliveries;
};

void PrintTo(const GapCase& c, std::ostream* os) {
    *os << c.gapMs << " ms gap";
}

class Gap : public PtyPort, public ::testing::WithParamInterface<GapCase> {};

TEST_P(Gap, APauseLongerThanTheIntervalSplitsBursts) {
    Configure(9600, 100);  // 93 ms
    ASSERT_TRUE(port.Open());
    const Bytes a = Pattern(20, 3);
    const Bytes b = Pattern(20, 4);
    std::thread sender([&] {
        SleepMs(50);
        pty.Send(a);
        SleepMs(GetParam().gapMs);
        pty.Send(b);
    });
    Bytes all;
    std::vector<Bytes> reads;
    while (all.size() < a.size() + b.size()) {
        Bytes got;
        if (!ReadInto(port, got, 3000)) {
            break;
        }
        reads.push_back(got);
        all.insert(all.end(), got.begin(), got.end());
    }
    sender.join();
    EXPECT_EQ(all, Join(a, b));
    EXPECT_EQ(port.Received().size(), GetParam().deliveries);
    EXPECT_EQ(reads.size(), GetParam().deliveries);
    if (GetParam().deliveries == 2 && reads.size() == 2) {
        EXPECT_EQ(reads[0], a);
        EXPECT_EQ(reads[1], b);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, Gap, ::testing::Values(GapCase{10, 1}, GapCase{400, 2}));

TEST_F(PtyPort, AFullBufferWrapsAndTheNextReadHandsOverOnlyTheNewBurst) {
    Configure(9600, 20, 1024);
    ASSERT_TRUE(port.Open());
    pty.Send(Pattern(1024, 5));
    ASSERT_TRUE(AwaitReceived(port, 1024));
    SleepMs(30);
    const Bytes next = Pattern(10, 6);
    pty.Send(next);
    ASSERT_TRUE(AwaitReceived(port, 1024 + next.size()));
    Bytes got;
    ASSERT_TRUE(ReadInto(port, got, 3000));
    EXPECT_EQ(got, next);
}

TEST_F(PtyPort, AReadNeverAsksForMoreThanTheFreePartAndLeavesNothingBehind) {
    Configure(9600, 20, 1024);
    ASSERT_TRUE(port.Open());
    const Bytes gathered = Pattern(1000, 7);
    pty.Send(gathered);
    ASSERT_TRUE(AwaitReceived(port, 1000));
    SleepMs(30);
    const Bytes burst = Pattern(50, 8);
    pty.Send(burst);
    // The first 24 bytes fill the buffer; the other 26 are read at once by the next
    // pass, though no new character arrives to announce them, and start it again.
    ASSERT_TRUE(AwaitReceived(port, 1050));
    const std::vector<Bytes> deliveries = port.Received();
    ASSERT_EQ(deliveries.size(), 3u);
    EXPECT_EQ(deliveries[1], Bytes(burst.begin(), burst.begin() + 24));
    EXPECT_EQ(deliveries[2], Bytes(burst.begin() + 24, burst.end()));
    Bytes got;
    ASSERT_TRUE(ReadInto(port, got, 3000));
    EXPECT_EQ(got, deliveries[2]);
}

TEST_F(PtyPort, OpenStartsWithAnEmptyReceiveBuffer) {
    Configure(9600, 20);
    ASSERT_TRUE(port.Open());
    pty.Send(Pattern(30, 12));
    ASSERT_TRUE(AwaitReceived(port, 30));
    SleepMs(30);
    // Open on an open port: a fresh buffer, so what the old one held is gone.
    ASSERT_TRUE(port.Open());
    const Bytes fresh = Pattern(5, 13);
    LateSender send(pty, fresh);
    Bytes got;
    ASSERT_TRUE(ReadInto(port, got, 3000));
    EXPECT_EQ(got, fresh);
    EXPECT_TRUE(port.Errors().empty());
}

TEST_F(PtyPort, BytesGatheredBeforeAWriteReachTheNextReadIntact) {
    Configure(9600, 20);
    ASSERT_TRUE(port.Open());
    const Bytes before = Pattern(25, 9);
    pty.Send(before);
    ASSERT_TRUE(AwaitReceived(port, before.size()));
    SleepMs(30);  // the delivery's signal has been withdrawn; the bytes wait in the buffer
    const Bytes command = {'A', 'T', '\r'};
    ASSERT_TRUE(port.Write(command.data(), 3, 1000));
    EXPECT_EQ(pty.Receive(3, 2000), command);
    EXPECT_EQ(port.Sends(), 1);
    const Bytes after = Pattern(5, 10);
    pty.Send(after);
    ASSERT_TRUE(AwaitReceived(port, before.size() + after.size()));
    Bytes got;
    ASSERT_TRUE(ReadInto(port, got, 3000));
    EXPECT_EQ(got, Join(before, after));
}

TEST_F(PtyPort, AByteQueuedWhileTheReaderIsBusyIsNotStranded) {
    Configure(9600, 20);
    ASSERT_TRUE(port.Open());
    port.holdReceive = true;
    const Bytes burst = Pattern(12, 11);
    pty.Send(burst);
    for (int i = 0; i < 3000 && port.receiving.load() == 0; ++i) {
        SleepMs(1);
    }
    ASSERT_EQ(port.receiving.load(), 1);
    pty.Send(Bytes{0x42});  // arrives while the reader is still in OnReceive
    SleepMs(50);
    port.holdReceive = false;
    Bytes all;
    while (all.size() < burst.size() + 1) {
        Bytes got;
        if (!ReadInto(port, got, 2000)) {
            break;
        }
        all.insert(all.end(), got.begin(), got.end());
    }
    EXPECT_EQ(all, Join(burst, Bytes{0x42}));
}

TEST_F(PtyPort, AbortEndsAWaitingReadAndAPendingWriteAtOnce) {
    Configure(115200, 20);
    ASSERT_TRUE(port.Open());
    std::thread aborter([&] {
        SleepMs(100);
        port.Abort();
    });
    auto start = Clock::now();
    Bytes got;
    EXPECT_FALSE(ReadInto(port, got, 5000));
    EXPECT_LT(MsSince(start), 2000);
    aborter.join();
    // Nobody reads the far end, so a large write stays pending: the abort ends it.
    const Bytes big(1 << 20, 0x33);
    start = Clock::now();
    EXPECT_FALSE(port.Write(big.data(), static_cast<DWORD>(big.size()), 5000));
    EXPECT_LT(MsSince(start), 2000);
    EXPECT_EQ(port.Errors(), (std::vector<std::string>{"Read abort!", "Write abort!"}));
}

TEST_F(PtyPort, CloseAndReopenStartsAFreshReader) {
    Configure(9600, 20);
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(port.Open());
        const Bytes burst = Pattern(16, static_cast<uint8_t>(round));
        LateSender send(pty, burst);
        Bytes got;
        ASSERT_TRUE(ReadInto(port, got, 3000)) << "round " << round;
        EXPECT_EQ(got, burst);
        const Bytes answer = {'O', 'K', static_cast<uint8_t>('0' + round)};
        ASSERT_TRUE(port.Write(answer.data(), 3, 1000));
        EXPECT_EQ(pty.Receive(3, 2000), answer);
        ASSERT_TRUE(port.Close());
    }
    EXPECT_TRUE(port.Errors().empty()) << ::testing::PrintToString(port.Errors());
}

TEST_F(PtyPort, CloseReturnsPromptlyWhileTheReaderWaitsForALineEvent) {
    Configure(9600, 20);
    ASSERT_TRUE(port.Open());
    SleepMs(100);  // nothing arrives: the reader waits for the character event
    const auto start = Clock::now();
    EXPECT_TRUE(port.Close());
    EXPECT_LT(MsSince(start), 500);
    EXPECT_TRUE(port.Errors().empty()) << ::testing::PrintToString(port.Errors());
}

#ifndef _WIN32
enum class FarEnd { kWhileWaiting, kWhileReading };

void PrintTo(FarEnd when, std::ostream* os) {
    *os << (when == FarEnd::kWhileWaiting ? "WhileWaiting" : "WhileReading");
}

class FarEndCloses : public ::testing::TestWithParam<FarEnd> {};

TEST_P(FarEndCloses, TheReaderAbortsReadsFailAtOnceAndNothingSpins) {
    Pty pty(6);
    auto port = std::make_unique<RecordingPort>();
    port->SetPortNumber(6);
    port->SetIntervalChars(500);  // 468 ms: a burst is still being read when the end goes
    ASSERT_TRUE(port->Open());
    if (GetParam() == FarEnd::kWhileReading) {
        pty.Send(Pattern(5));
        SleepMs(100);
    } else {
        SleepMs(50);
    }
    pty.CloseMaster();
    auto start = Clock::now();
    Bytes got;
    Bytes before;  // what had arrived before the end went may still be handed over
    while (ReadInto(*port, got, 5000) && before.size() < 5) {
        before.insert(before.end(), got.begin(), got.end());
    }
    EXPECT_LT(MsSince(start), 2000);
    EXPECT_EQ(before, GetParam() == FarEnd::kWhileReading ? Pattern(5) : Bytes{});
    const double cpu = CpuSeconds();
    SleepMs(500);
    EXPECT_LT(CpuSeconds() - cpu, 0.05);
    start = Clock::now();
    EXPECT_FALSE(ReadInto(*port, got, 5000));
    EXPECT_LT(MsSince(start), 100);
    for (const auto& e : port->Errors()) {
        EXPECT_EQ(e, "Read abort!");
    }
    EXPECT_EQ(port->Errors().size(), 2u);
    EXPECT_TRUE(port->Close());
    port.reset();
    // Destruction of a port whose device has gone, still open.
    auto plain = std::make_unique<CComPort>();
    Pty again(6);
    plain->SetPortNumber(6);
    ASSERT_TRUE(plain->Open());
    again.CloseMaster();
    SleepMs(50);
    plain.reset();
}

INSTANTIATE_TEST_SUITE_P(Table, FarEndCloses,
                         ::testing::Values(FarEnd::kWhileWaiting, FarEnd::kWhileReading),
                         [](const auto& info) { return ::testing::PrintToString(info.param); });

#endif  // _WIN32

}  // namespace
}  // namespace tarvic::test
