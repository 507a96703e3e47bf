// The simulated RS-485 device, driven through its published port as the tool drives it.

#include <gtest/gtest.h>

#include <memory>

#include "sim/sim.h"
#include "sim_test_util.h"

namespace tarvic {
namespace {

using simtest::Hex;
using simtest::TestPort;
using std::chrono::milliseconds;

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) {
        s += static_cast<char>(v);
    }
    return s;
}

std::string Range(int from, int to) {
    std::string s;
    for (int v = from; v <= to; ++v) {
        s += static_cast<char>(v);
    }
    return s;
}

const std::string kPattern = Range(0x00, 0x09);
const std::string kReply = Range(0x80, 0x89);

// Pauses longer than this inside what comes back separate two bursts. The tool's read
// interval at 115200 baud is 78 ms; the scenarios pause 100 ms or more.
constexpr milliseconds kBurstGap(40);

struct Burst {
    milliseconds at;
    std::string bytes;
};

std::vector<Burst> Bursts(const std::vector<TestPort::Chunk>& chunks) {
    std::vector<Burst> out;
    milliseconds last(-1000);
    for (const auto& c : chunks) {
        if (out.empty() || c.at - last > kBurstGap) {
            out.push_back({c.at, ""});
        }
        out.back().bytes += c.bytes;
        last = c.at;
    }
    return out;
}

class Rs485Test : public testing::Test {
  protected:
    void StartDevice(sim::Rs485Options options) {
        m_bench = std::make_unique<sim::Bench>(m_home.Path());
        m_bench->AddRs485(4, std::move(options));
        m_bench->Start();
        m_port = std::make_unique<TestPort>(m_bench->LinkPath(4));
    }
    std::vector<Burst> Exchange(const std::string& frame) {
        m_port->Write(frame);
        return Bursts(m_port->ReadChunks(milliseconds(300), milliseconds(3000)));
    }

    simtest::TempDir m_home;
    std::unique_ptr<sim::Bench> m_bench;
    std::unique_ptr<TestPort> m_port;
};

struct ReplyCase {
    const char* name;
    sim::Rs485Options options;
    std::vector<std::string> bursts;  // what comes back, burst by burst
    milliseconds minGap;              // at least this between two bursts
};

void PrintTo(const ReplyCase& c, std::ostream* os) {
    *os << c.name;
}

sim::Rs485Options With(std::function<void(sim::Rs485Options&)> set) {
    sim::Rs485Options o;
    set(o);
    return o;
}

std::vector<ReplyCase> ReplyCases() {
    using R = sim::Rs485Reply;
    return {
        {"XorReply", {}, {kReply}, milliseconds(0)},
        {"Loopback", With([](auto& o) { o.reply = R::Loopback; }), {kPattern}, milliseconds(0)},
        {"Silent", With([](auto& o) { o.reply = R::Silent; }), {}, milliseconds(0)},
        {"EchoInTheSameBurst",
         With([](auto& o) { o.echo = true; }),
         {kPattern + kReply},
         milliseconds(0)},
        {"EchoThenPauseThenReply",
         With([](auto& o) {
             o.echo = true;
             o.echoPause = milliseconds(120);
         }),
         {kPattern, kReply},
         milliseconds(100)},
        {"ReplySplitAfterFifthByte",
         With([](auto& o) { o.splitPause = milliseconds(100); }),
         {Range(0x80, 0x84), Range(0x85, 0x89)},
         milliseconds(85)},
        {"ReplySplitAfterThirdByte",
         With([](auto& o) {
             o.splitPause = milliseconds(100);
             o.splitAfter = 3;
         }),
         {Range(0x80, 0x82), Range(0x83, 0x89)},
         milliseconds(85)},
        {"ExtraByteAfterReply",
         With([](auto& o) { o.extraByte = true; }),
         {kReply + Bytes({0x8A})},
         milliseconds(0)},
        {"StrayBurstJustBeforeReply",
         With([](auto& o) { o.strayBytes = 3; }),
         {Bytes({0x55, 0x55, 0x55}) + kReply},
         milliseconds(0)},
        {"SplitLoopbackWithExtraByte",
         With([](auto& o) {
             o.reply = R::Loopback;
             o.splitPause = milliseconds(100);
             o.extraByte = true;
         }),
         {Range(0, 4), Range(5, 9) + Bytes({0x8A})},
         milliseconds(85)},
    };
}

class Rs485Reply : public Rs485Test, public testing::WithParamInterface<ReplyCase> {};

TEST_P(Rs485Reply, AnswersThePattern) {
    const ReplyCase& c = GetParam();
    StartDevice(c.options);
    std::vector<Burst> got = Exchange(kPattern);
    ASSERT_EQ(got.size(), c.bursts.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(Hex(got[i].bytes), Hex(c.bursts[i])) << "burst " << i;
        if (i > 0) {
            EXPECT_GE((got[i].at - got[i - 1].at).count(), c.minGap.count()) << "burst " << i;
        }
    }
    EXPECT_EQ(m_bench->Rs485Received(), std::vector<uint8_t>(kPattern.begin(), kPattern.end()));
    EXPECT_EQ(m_bench->Rs485Frames(), 1);
}

INSTANTIATE_TEST_SUITE_P(Table, Rs485Reply, testing::ValuesIn(ReplyCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Rs485Test, SilenceEndsAShortFrame) {
    StartDevice({});
    m_port->Write(Range(0, 3));
    std::string first = m_port->ReadCount(4);
    EXPECT_EQ(Hex(first), Hex(Range(0x80, 0x83)));
    m_port->Write(Range(4, 9));
    EXPECT_EQ(Hex(m_port->ReadCount(6)), Hex(Range(0x84, 0x89)));
    EXPECT_EQ(m_bench->Rs485Frames(), 2);
}

TEST_F(Rs485Test, TenBytesMakeAFrameWithoutWaiting) {
    sim::Rs485Options o;
    o.frameGap = std::chrono::milliseconds(400);  // silence alone would take long
    StartDevice(o);
    auto start = simtest::Clock::now();
    m_port->Write(kPattern);
    EXPECT_EQ(Hex(m_port->ReadCount(10)), Hex(kReply));
    EXPECT_LT(std::chrono::duration_cast<milliseconds>(simtest::Clock::now() - start).count(), 300);
    // Twenty bytes in one write are two frames.
    m_port->Write(kPattern + kPattern);
    EXPECT_EQ(Hex(m_port->ReadCount(20)), Hex(kReply + kReply));
    EXPECT_EQ(m_bench->Rs485Frames(), 3);
}

TEST_F(Rs485Test, ReplyWaitsForTheTurnaround) {
    sim::Rs485Options o;
    o.turnaround = std::chrono::milliseconds(150);
    StartDevice(o);
    m_port->Write(kPattern);
    auto chunks = m_port->ReadChunks(milliseconds(300), milliseconds(3000));
    ASSERT_FALSE(chunks.empty());
    EXPECT_GE(chunks.front().at.count(), 140);
    EXPECT_EQ(Hex(Bursts(chunks).front().bytes), Hex(kReply));
}

TEST_F(Rs485Test, ReplyPendingAtCloseIsLost) {
    sim::Rs485Options o;
    o.turnaround = std::chrono::milliseconds(200);
    StartDevice(o);
    m_port->Write(kPattern);
    ASSERT_TRUE(m_bench->WaitRs485Received(10, milliseconds(3000)));
    m_port.reset();
    std::this_thread::sleep_for(milliseconds(300));
    m_port = std::make_unique<TestPort>(m_bench->LinkPath(4));
    EXPECT_EQ(Hex(m_port->ReadQuiet(milliseconds(150))), "");
    m_port->Write(kPattern);
    EXPECT_EQ(Hex(m_port->ReadCount(10)), Hex(kReply));
}

TEST_F(Rs485Test, ScenarioCanChangeWhileRunning) {
    StartDevice({});
    m_port->Write(kPattern);
    EXPECT_EQ(Hex(m_port->ReadCount(10)), Hex(kReply));
    sim::Rs485Options loop;
    loop.reply = sim::Rs485Reply::Loopback;
    m_bench->SetRs485Options(4, loop);
    m_port->Write(kPattern);
    EXPECT_EQ(Hex(m_port->ReadCount(10)), Hex(kPattern));
    EXPECT_TRUE(m_bench->WaitRs485Sent(20, milliseconds(1000)));
    std::string sent = kReply + kPattern;
    EXPECT_EQ(m_bench->Rs485Sent(), std::vector<uint8_t>(sent.begin(), sent.end()));
}

}  // namespace
}  // namespace tarvic
