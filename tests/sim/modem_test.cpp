// The simulated GPRS modem, driven through its published port as the tool drives it.

#include <gtest/gtest.h>

#include <memory>

#include "sim/sim.h"
#include "sim_test_util.h"
#include "tests/support/posix/web_server.h"

namespace tarvic {
namespace {

using simtest::Hex;
using simtest::TestPort;
using std::chrono::milliseconds;
using namespace std::string_literals;

const std::string kOk = "\r\nOK\r\n";
const std::string kError = "\r\nERROR\r\n";
const std::string kConnect = "\r\nCONNECT\r\n";
const std::string kNoCarrier = "\r\nNO CARRIER\r\n";
const std::string kRequest = "GET / HTTP/1.0\r\nHost: example.com\r\n\r\n";

class ModemTest : public testing::Test {
  protected:
    void StartModem(sim::ModemOptions options) {
        m_bench = std::make_unique<sim::Bench>(m_home.Path());
        m_bench->AddModem(1, std::move(options));
        m_bench->Start();
        m_port = std::make_unique<TestPort>(m_bench->LinkPath(1));
    }
    // Sends a command and returns exactly as many bytes as `expected` has (or fewer, late).
    std::string Say(const std::string& command, const std::string& expected) {
        m_port->Write(command);
        return m_port->ReadCount(expected.size());
    }
    void ExpectSay(const std::string& command, const std::string& expected) {
        EXPECT_EQ(Hex(Say(command, expected)), Hex(expected)) << "after " << Hex(command);
    }
    void EchoOff() { ExpectSay("ATE0\r\n", "ATE0\r" + kOk); }

    simtest::TempDir m_home;
    std::unique_ptr<sim::Bench> m_bench;
    std::unique_ptr<TestPort> m_port;
};

struct Step {
    std::string send;
    std::string expect;  // the exact bytes that come back; "" for none
};

struct ExchangeCase {
    const char* name;
    sim::ModemOptions options;
    std::vector<Step> steps;
};

void PrintTo(const ExchangeCase& c, std::ostream* os) {
    *os << c.name;
}

sim::ModemOptions With(std::function<void(sim::ModemOptions&)> set) {
    sim::ModemOptions o;
    set(o);
    return o;
}

const std::string kEchoOff = "ATE0\r\n";
const std::string kEchoOffAnswer = "ATE0\r" + kOk;

std::vector<ExchangeCase> ExchangeCases() {
    return {
        {"EchoUntilAte0",
         {},
         {{"AT\r\n", "AT\r" + kOk}, {kEchoOff, kEchoOffAnswer}, {"AT\r\n", kOk}}},
        {"AtzTurnsEchoBackOn",
         {},
         {{kEchoOff, kEchoOffAnswer}, {"ATZ\r\n", kOk}, {"AT\r\n", "AT\r" + kOk}}},
        {"Ate1TurnsEchoOn",
         {},
         {{kEchoOff, kEchoOffAnswer}, {"ATE1\r\n", kOk}, {"AT\r\n", "AT\r" + kOk}}},
        {"CaseIgnoredInCommands", {}, {{"ate0\r\n", "ate0\r" + kOk}, {"at\r\n", kOk}}},
        {"UnknownCommandsAreErrors",
         {},
         {{kEchoOff, kEchoOffAnswer},
          {"ATX7\r\n", kError},
          {"HELLO\r\n", kError},
          {"AT#SGACT=2,1\r\n", kError},
          {"AT\r\n", kOk}}},
        {"LineEndsAtCrAndLfIsIgnored",
         {},
         {{kEchoOff, kEchoOffAnswer},
          {"AT\r", kOk},
          {"\nAT\r", kOk},  // the LF of the line before, in a later write
          {"\r\n", ""},     // an empty line gets no answer
          {"AT\r\n", kOk}}},
        {"ContextDefinition",
         {},
         {{kEchoOff, kEchoOffAnswer}, {"AT+CGDCONT=1,\"IP\",\"internet\"\r\n", kOk}}},
        {"ActivationAndQueries",
         {},
         {{kEchoOff, kEchoOffAnswer},
          {"AT#SGACT?\r\n", "\r\n#SGACT: 1,0\r\n" + kOk},
          {"AT#SGACT=1,1\r\n", "\r\n#SGACT: 10.64.37.12\r\n" + kOk},
          {"AT#SGACT?\r\n", "\r\n#SGACT: 1,1\r\n" + kOk},
          {"AT#SGACT=1,1\r\n", kError},  // already active
          {"AT#SGACT=1,0\r\n", kOk},
          {"AT#SGACT?\r\n", "\r\n#SGACT: 1,0\r\n" + kOk}}},
        {"ContextActiveFromStart",
         With([](auto& o) { o.contextActive = true; }),
         {{kEchoOff, kEchoOffAnswer},
          {"AT#SGACT?\r\n", "\r\n#SGACT: 1,1\r\n" + kOk},
          {"AT#SGACT=1,1\r\n", kError}}},
        {"ReactivationAllowed",
         With([](auto& o) {
             o.contextActive = true;
             o.reactivateOk = true;
             o.ipAddress = "192.168.7.9";
         }),
         {{kEchoOff, kEchoOffAnswer}, {"AT#SGACT=1,1\r\n", "\r\n#SGACT: 192.168.7.9\r\n" + kOk}}},
        {"ErrorTwiceThenNormal",
         With([](auto& o) {
             o.errors = {{"AT#SGACT=1,1", 2}};
         }),
         {{kEchoOff, kEchoOffAnswer},
          {"AT#SGACT=1,1\r\n", kError},
          {"AT#SGACT?\r\n", "\r\n#SGACT: 1,0\r\n" + kOk},  // other commands unaffected
          {"AT#SGACT=1,1\r\n", kError},
          {"AT#SGACT=1,1\r\n", "\r\n#SGACT: 10.64.37.12\r\n" + kOk}}},
        {"ErrorRuleIsAPrefixAndIgnoresCase",
         With([](auto& o) {
             o.errors = {{"at+cgdcont", 1}};
         }),
         {{kEchoOff, kEchoOffAnswer},
          {"AT+CGDCONT=1,\"IP\",\"internet\"\r\n", kError},
          {"AT+CGDCONT=1,\"IP\",\"internet\"\r\n", kOk}}},
        {"ErrorToEchoOffKeepsEcho",
         With([](auto& o) {
             o.errors = {{"ATE0", 1}};
         }),
         {{kEchoOff, "ATE0\r" + kError}, {kEchoOff, kEchoOffAnswer}, {"AT\r\n", kOk}}},
        {"NulBytesBeforeEachReply",
         With([](auto& o) { o.nulBefore = 3; }),
         {{"AT\r\n", "AT\r"s + "\0\0\0"s + kOk}, {kEchoOff, "ATE0\r"s + "\0\0\0"s + kOk}}},
        {"SilentModem", With([](auto& o) { o.silent = true; }), {{"AT\r\n", ""}, {kEchoOff, ""}}},
        {"DialNeedsAnActiveContext",
         {},
         {{kEchoOff, kEchoOffAnswer}, {"AT#SD=1,0,80,\"example.com\"\r\n", kError}}},
        {"BadDialsAreErrors",
         With([](auto& o) { o.contextActive = true; }),
         {{kEchoOff, kEchoOffAnswer},
          {"AT#SD=1,0,80\r\n", kError},
          {"AT#SD=1,1,80,\"example.com\"\r\n", kError},  // UDP
          {"AT#SD=1,0,0,\"example.com\"\r\n", kError},
          {"AT#SD=1,0,80,\"exa mple.com\"\r\n", kError},
          {"AT\r\n", kOk}}},
        {"DialThatNeverConnects",
         With([](auto& o) {
             o.contextActive = true;
             o.dialNeverConnects = true;
         }),
         {{kEchoOff, kEchoOffAnswer}, {"AT#SD=1,0,80,\"example.com\"\r\n", ""}, {"AT\r\n", kOk}}},
        {"RefusedDialsThenConnect",
         With([](auto& o) {
             o.contextActive = true;
             o.refusedDials = 2;
         }),
         {{kEchoOff, kEchoOffAnswer},
          {"AT#SD=1,0,80,\"example.com\"\r\n", kNoCarrier},
          {"AT#SD=1,0,80,\"example.com\"\r\n", kNoCarrier},
          {"AT#SD=1,0,80,\"example.com\"\r\n", kConnect}}},
        {"OtherContextsAreReportedAfterContextOne",
         With([](auto& o) {
             o.otherContexts = {true, false};
         }),
         {{kEchoOff, kEchoOffAnswer},
          {"AT#SGACT?\r\n", "\r\n#SGACT: 1,0\r\n#SGACT: 2,1\r\n#SGACT: 3,0\r\n" + kOk}}},
        {"ContextThatComesUpByItself",
         With([](auto& o) { o.contextComesUp = true; }),
         {{kEchoOff, kEchoOffAnswer},
          {"AT#SGACT?\r\n", "\r\n#SGACT: 1,0\r\n" + kOk},
          {"AT#SGACT=1,1\r\n", "\r\n#SGACT: 1,1\r\n" + kError},
          {"AT#SGACT?\r\n", "\r\n#SGACT: 1,1\r\n" + kOk},
          {"AT#SD=1,0,80,example.com\r\n", kConnect}}},
        {"BuiltinWebQuotedHost",
         With([](auto& o) { o.contextActive = true; }),
         {{kEchoOff, kEchoOffAnswer}, {"AT#SD=1,0,80,\"example.com\"\r\n", kConnect}}},
        {"BuiltinWebBareHost",
         With([](auto& o) { o.contextActive = true; }),
         {{kEchoOff, kEchoOffAnswer}, {"AT#SD=1,0,80,example.com\r\n", kConnect}}},
    };
}

class ModemExchange : public ModemTest, public testing::WithParamInterface<ExchangeCase> {};

TEST_P(ModemExchange, AnswersExactly) {
    StartModem(GetParam().options);
    for (const Step& step : GetParam().steps) {
        ExpectSay(step.send, step.expect);
    }
    // Nothing more, late or extra.
    EXPECT_EQ(Hex(m_port->ReadQuiet(milliseconds(150))), "");
}

INSTANTIATE_TEST_SUITE_P(Table, ModemExchange, testing::ValuesIn(ExchangeCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ModemTest, RecordsWhatTheToolSent) {
    StartModem({});
    ExpectSay("AT\r\n", "AT\r" + kOk);
    ExpectSay(" at+cgdcont=1,\"IP\",\"internet\" \r\n",
              " at+cgdcont=1,\"IP\",\"internet\" \r" + kOk);
    EXPECT_EQ(m_bench->ModemReceived(), "AT\r\n at+cgdcont=1,\"IP\",\"internet\" \r\n");
    EXPECT_EQ(m_bench->ModemSent(), "AT\r" + kOk + " at+cgdcont=1,\"IP\",\"internet\" \r" + kOk);
    EXPECT_EQ(m_bench->ModemCommands(),
              (std::vector<std::string>{"AT", "at+cgdcont=1,\"IP\",\"internet\""}));
}

TEST_F(ModemTest, NoiseBeforeEachReplyHoldsNoLineBytes) {
    sim::ModemOptions o;
    o.noiseBefore = 40;
    StartModem(o);
    std::string got = Say("AT\r\n", "AT\r" + std::string(40, 'x') + kOk);
    ASSERT_EQ(got.size(), 3 + 40 + kOk.size()) << Hex(got);
    EXPECT_EQ(got.substr(0, 3), "AT\r");
    EXPECT_EQ(got.substr(43), kOk);
    for (char c : got.substr(3, 40)) {
        EXPECT_NE(c, '\0');
        EXPECT_NE(c, '\r');
        EXPECT_NE(c, '\n');
    }
}

TEST_F(ModemTest, TrickledRepliesComeInPiecesWithPauses) {
    sim::ModemOptions o;
    o.tricklePiece = 4;
    o.tricklePause = milliseconds(60);
    StartModem(o);
    m_port->Write("ATE0\r\n");
    EXPECT_EQ(Hex(m_port->ReadUntil(kOk)), Hex("ATE0\r" + kOk));
    const std::string answer = "\r\n#SGACT: 1,0\r\n" + kOk;
    m_port->Write("AT#SGACT?\r\n");
    auto chunks = m_port->ReadChunks(milliseconds(300), milliseconds(3000));
    std::string all;
    for (const auto& c : chunks) {
        all += c.bytes;
        EXPECT_LE(c.bytes.size(), 4u) << Hex(c.bytes);
    }
    EXPECT_EQ(Hex(all), Hex(answer));
    ASSERT_FALSE(chunks.empty());
    const long pieces = static_cast<long>((answer.size() + 3) / 4);
    EXPECT_GE(chunks.back().at.count() - chunks.front().at.count(), (pieces - 1) * 60 - 20);
}

TEST_F(ModemTest, ActivationAnswerWaitsForTheDelay) {
    sim::ModemOptions o;
    o.activationDelay = milliseconds(400);
    StartModem(o);
    EchoOff();
    m_port->Write("AT#SGACT=1,1\r\n");
    auto start = simtest::Clock::now();
    std::string got = m_port->ReadUntil(kOk, milliseconds(3000));
    auto took = std::chrono::duration_cast<milliseconds>(simtest::Clock::now() - start);
    EXPECT_EQ(Hex(got), Hex("\r\n#SGACT: 10.64.37.12\r\n" + kOk));
    EXPECT_GE(took.count(), 380);
    EXPECT_TRUE(m_bench->ModemContextActive());
}

TEST_F(ModemTest, BuiltinWebAnswersTheRequestThenHangsUp) {
    sim::ModemOptions o;
    o.contextActive = true;
    StartModem(o);
    EchoOff();
    ExpectSay("AT#SD=1,0,80,\"example.com\"\r\n", kConnect);
    EXPECT_TRUE(m_bench->ModemInDataMode());
    m_port->Write(kRequest);
    std::string got = m_port->ReadUntil(kNoCarrier);
    ASSERT_GE(got.size(), kNoCarrier.size()) << Hex(got);
    EXPECT_EQ(got.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << Hex(got);
    EXPECT_EQ(got.substr(got.size() - kNoCarrier.size()), kNoCarrier);
    std::string response = got.substr(0, got.size() - kNoCarrier.size());
    std::size_t headEnd = response.find("\r\n\r\n");
    ASSERT_NE(headEnd, std::string::npos);
    std::string body = response.substr(headEnd + 4);
    EXPECT_FALSE(body.empty());
    EXPECT_NE(response.find("Content-Length: " + std::to_string(body.size()) + "\r\n"),
              std::string::npos)
        << Hex(response);
    // Back in command mode.
    ExpectSay("AT\r\n", kOk);
    ASSERT_EQ(m_bench->ModemDials().size(), 1u);
    EXPECT_EQ(m_bench->ModemDials()[0].host, "example.com");
    EXPECT_EQ(m_bench->ModemDials()[0].port, 80);
}

// The built-in answer takes a request as an origin server that follows HTTP/1.0 does.
TEST_F(ModemTest, BuiltinWebAnswersOnlyARequestForTheRootOfTheDialledHost) {
    const struct {
        const char* request;
        const char* status;
    } table[] = {
        {"GET / HTTP/1.0\r\nHost: example.com\r\n\r\n", "HTTP/1.1 200 OK"},
        {"GET / HTTP/1.1\r\nhost:  EXAMPLE.com \r\nAccept: */*\r\n\r\n", "HTTP/1.1 200 OK"},
        {"GET / HTTP/1.0\n\n", "HTTP/1.0 400 Bad Request"},
        {"GET http://example.com/ HTTP/1.0\r\n\r\n", "HTTP/1.0 400 Bad Request"},
        {"GET http://example.com/ HTTP/1.0\r\nHost: example.com\r\n\r\n",
         "HTTP/1.0 400 Bad Request"},
        {"GET / HTTP/1.0\r\nHost: example.org\r\n\r\n", "HTTP/1.0 400 Bad Request"},
        {"GET /index.html HTTP/1.0\r\nHost: example.com\r\n\r\n", "HTTP/1.0 400 Bad Request"},
    };
    sim::ModemOptions o;
    o.contextActive = true;
    StartModem(o);
    EchoOff();
    for (const auto& row : table) {
        ExpectSay("AT#SD=1,0,80,example.com\r\n", kConnect);
        m_port->Write(row.request);
        const std::string got = m_port->ReadUntil(kNoCarrier);
        EXPECT_EQ(got.rfind(std::string(row.status) + "\r\n", 0), 0u)
            << Hex(row.request) << " -> " << Hex(got);
    }
}

TEST_F(ModemTest, BuiltinStatusLineIsConfigurable) {
    sim::ModemOptions o;
    o.contextActive = true;
    o.builtinStatus = "HTTP/1.0 302 Found";
    StartModem(o);
    EchoOff();
    ExpectSay("AT#SD=1,0,80,example.com\r\n", kConnect);
    m_port->Write(kRequest);
    std::string got = m_port->ReadUntil(kNoCarrier);
    EXPECT_EQ(got.rfind("HTTP/1.0 302 Found\r\n", 0), 0u) << Hex(got);
}

// The chosen body, then, after the pause, the hang-up as a burst of its own.
TEST_F(ModemTest, BuiltinBodyAndTheHangUpPauseAreConfigurable) {
    sim::ModemOptions o;
    o.contextActive = true;
    o.builtinStatus = "HTTP/1.1 404 Not Found";
    o.builtinBody = "OK\r\nHTTP/1.1 200 OK\r\n";
    o.hangupPause = milliseconds(300);
    StartModem(o);
    EchoOff();
    ExpectSay("AT#SD=1,0,80,example.com\r\n", kConnect);
    m_port->Write(kRequest);
    const auto chunks = m_port->ReadChunks(milliseconds(1000), milliseconds(3000));
    ASSERT_GE(chunks.size(), 2u);
    std::string answer;
    for (size_t i = 0; i + 1 < chunks.size(); ++i) {
        answer += chunks[i].bytes;
    }
    EXPECT_EQ(answer.rfind("HTTP/1.1 404 Not Found\r\n", 0), 0u) << Hex(answer);
    EXPECT_EQ(Hex(answer.substr(answer.find("\r\n\r\n") + 4)), Hex(o.builtinBody));
    EXPECT_NE(answer.find("Content-Length: " + std::to_string(o.builtinBody.size())),
              std::string::npos);
    EXPECT_EQ(Hex(chunks.back().bytes), Hex(kNoCarrier));
    EXPECT_GE((chunks.back().at - chunks[chunks.size() - 2].at).count(), 280);
}

// A web server that records the request and answers as an HTTP/1.0 server would.
struct RecordingServer {
    std::mutex mu;
    std::string request;
    simtest::TcpServer server{[this](int fd) {
        std::string r = simtest::RecvUntil(fd, "\r\n\r\n");
        {
            std::lock_guard<std::mutex> lock(mu);
            request = r;
        }
        simtest::SendAll(fd, "HTTP/1.0 200 OK\r\nServer: test\r\n\r\nhello\r\n");
    }};
    std::string Request() {
        std::lock_guard<std::mutex> lock(mu);
        return request;
    }
};

TEST_F(ModemTest, DataModeThroughARealConnection) {
    RecordingServer web;
    sim::ModemOptions o;
    o.contextActive = true;
    o.web = sim::Web::Address;
    o.webAddress = web.server.Address();
    StartModem(o);
    EchoOff();
    ExpectSay("AT#SD=1,0,80,\"example.com\"\r\n", kConnect);
    m_port->Write(kRequest);
    std::string got = m_port->ReadUntil(kNoCarrier);
    EXPECT_EQ(Hex(got), Hex("HTTP/1.0 200 OK\r\nServer: test\r\n\r\nhello\r\n" + kNoCarrier));
    // The LF of the dial line stays with the dial; the server gets the request alone.
    EXPECT_EQ(Hex(web.Request()), Hex(kRequest));
    ExpectSay("AT\r\n", kOk);
    EXPECT_EQ(web.server.Connections(), 1);
}

TEST_F(ModemTest, DataModePassesBytesBothWaysUntilTheFarEndCloses) {
    simtest::TcpServer server([](int fd) {
        simtest::SendAll(fd, "hello\n");
        std::string got = simtest::RecvUntil(fd, "bye");
        simtest::SendAll(fd, "got " + std::to_string(got.size()) + ": " + got);
    });
    sim::ModemOptions o;
    o.contextActive = true;
    o.web = sim::Web::Address;
    o.webAddress = server.Address();
    StartModem(o);
    EchoOff();
    ExpectSay("AT#SD=1,0,80,host\r\n", kConnect + "hello\n");
    // In data mode an AT command is just data: no echo, no OK.
    m_port->Write("AT\r\n");
    m_port->Write("bye");
    std::string got = m_port->ReadUntil(kNoCarrier);
    EXPECT_EQ(Hex(got), Hex("got 7: AT\r\nbye" + kNoCarrier));
    EXPECT_FALSE(m_bench->ModemInDataMode());
}

TEST_F(ModemTest, RefusedConnectionIsNoCarrier) {
    sim::ModemOptions o;
    o.contextActive = true;
    o.web = sim::Web::Address;
    o.webAddress = "127.0.0.1:" + std::to_string(simtest::UnusedPort());
    StartModem(o);
    EchoOff();
    ExpectSay("AT#SD=1,0,80,\"example.com\"\r\n", kNoCarrier);
    ExpectSay("AT\r\n", kOk);
    ExpectSay("AT#SD=1,0,80,\"example.com\"\r\n", kNoCarrier);  // a redial is a new try
    EXPECT_EQ(m_bench->ModemDials().size(), 2u);
}

TEST_F(ModemTest, DirectDialsTheNamedHostAndPort) {
    RecordingServer web;
    sim::ModemOptions o;
    o.contextActive = true;
    o.web = sim::Web::Direct;
    StartModem(o);
    EchoOff();
    // A numeric address, then a name that needs a look-up (localhost may come as ::1 first,
    // where nothing listens: the next address is tried).
    for (const std::string host : {"127.0.0.1", "localhost"}) {
        ExpectSay("AT#SD=1,0," + std::to_string(web.server.Port()) + ",\"" + host + "\"\r\n",
                  kConnect);
        m_port->Write(kRequest);
        EXPECT_NE(m_port->ReadUntil(kNoCarrier).find("HTTP/1.0 200 OK"), std::string::npos);
    }
    EXPECT_EQ(web.server.Connections(), 2);
}

// Closing a real port drops DTR: the modem hangs up and what it had not yet delivered is
// lost, so the next open starts clean.
TEST_F(ModemTest, ClosingThePortHangsUpTheConnection) {
    std::mutex mu;
    bool farEndSawClose = false;
    simtest::TcpServer server([&](int fd) {
        simtest::RecvUntil(fd, "never sent");  // returns when the modem closes
        std::lock_guard<std::mutex> lock(mu);
        farEndSawClose = true;
    });
    sim::ModemOptions o;
    o.contextActive = true;
    o.web = sim::Web::Address;
    o.webAddress = server.Address();
    StartModem(o);
    EchoOff();
    ExpectSay("AT#SD=1,0,80,\"example.com\"\r\n", kConnect);
    ASSERT_TRUE(m_bench->ModemInDataMode());
    m_port.reset();
    EXPECT_TRUE(
        m_bench->WaitUntil([&] { return !m_bench->ModemInDataMode(); }, milliseconds(3000)));
    EXPECT_TRUE(m_bench->WaitUntil(
        [&] {
            std::lock_guard<std::mutex> lock(mu);
            return farEndSawClose;
        },
        milliseconds(3000)));
    m_port = std::make_unique<TestPort>(m_bench->LinkPath(1));
    ExpectSay("AT\r\n", kOk);  // command mode, echo still off
}

TEST_F(ModemTest, AnswerPendingAtCloseIsLost) {
    sim::ModemOptions o;
    o.activationDelay = milliseconds(300);
    StartModem(o);
    EchoOff();
    m_port->Write("AT#SGACT=1,1\r\n");
    ASSERT_TRUE(m_bench->WaitModemReceived("AT#SGACT=1,1\r\n", milliseconds(3000)));
    m_port.reset();
    std::this_thread::sleep_for(milliseconds(500));
    m_port = std::make_unique<TestPort>(m_bench->LinkPath(1));
    EXPECT_EQ(Hex(m_port->ReadQuiet(milliseconds(150))), "");
    ExpectSay("AT\r\n", kOk);
    EXPECT_TRUE(m_bench->ModemContextActive());
}

TEST_F(ModemTest, NewScenarioKeepsTheModemState) {
    sim::ModemOptions o;
    o.errors = {{"AT", 1}};
    StartModem(o);
    ExpectSay("AT\r\n", "AT\r" + kError);
    EchoOff();
    ExpectSay("AT#SGACT=1,1\r\n", "\r\n#SGACT: 10.64.37.12\r\n" + kOk);
    m_bench->SetModemOptions(1, o);                           // the ERROR count starts again
    ExpectSay("AT\r\n", kError);                              // echo stays off
    ExpectSay("AT#SGACT?\r\n", "\r\n#SGACT: 1,1\r\n" + kOk);  // context stays active
}

TEST(ModemOptionsTest, BadWebAddressIsRefusedAtOnce) {
    simtest::TempDir home;
    sim::Bench bench(home.Path());
    sim::ModemOptions o;
    o.web = sim::Web::Address;
    for (const char* bad : {"", "127.0.0.1", "127.0.0.1:", "example.com:80", "127.0.0.1:0",
                            "127.0.0.1:70000", "127.0.0.1:8x"}) {
        o.webAddress = bad;
        EXPECT_THROW(bench.AddModem(1, o), std::invalid_argument) << bad;
    }
    EXPECT_TRUE(sim::CheckWebAddress("[::1]:8080"));
    EXPECT_TRUE(sim::CheckWebAddress("127.0.0.1:8080"));
}

TEST_F(ModemTest, DataModeThroughNginx) {
    tarvic::test::WebServer nginx(tarvic::test::WebServer::Kind::Nginx);
    if (!nginx.Running()) {
        GTEST_SKIP() << "nginx is not available: " << nginx.Error();
    }
    sim::ModemOptions o;
    o.web = sim::Web::Address;
    o.webAddress = nginx.Address();
    StartModem(o);
    EchoOff();
    ExpectSay("AT#SGACT=1,1\r\n", "\r\n#SGACT: 10.64.37.12\r\n" + kOk);
    ExpectSay("AT#SD=1,0,80,\"example.com\"\r\n", kConnect);
    m_port->Write(kRequest);
    std::string got = m_port->ReadUntil(kNoCarrier, milliseconds(5000));
    EXPECT_EQ(got.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << Hex(got);
    EXPECT_NE(got.find("tarvic test page"), std::string::npos) << Hex(got);
    ASSERT_GE(got.size(), kNoCarrier.size());
    EXPECT_EQ(got.substr(got.size() - kNoCarrier.size()), kNoCarrier);
    ExpectSay("AT\r\n", kOk);
}

}  // namespace
}  // namespace tarvic
