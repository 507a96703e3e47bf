// The GPRS dialogue fed with bytes directly: line assembly, dispatch and the script.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/GprsScript.h"

namespace {

using Events = std::vector<std::string>;

struct RecordingSink : CGprsScript::CSink {
    Events events;
    bool stopAtPause = false;
    void Send(const char* text) override { events.push_back("send " + std::string(text)); }
    void Log(const char* entry) override { events.push_back("log " + std::string(entry)); }
    bool PauseAfterError() override {
        events.push_back("pause");
        return !stopAtPause;
    }
};

struct Dialogue {
    RecordingSink sink;
    CGprsScript script{"example.com"};
    explicit Dialogue(int startRow = 0) {
        script.Start(sink);
        // Move the script to the wanted row with plain OKs, then forget what that did.
        for (int i = 0; i < startRow; ++i) {
            Feed("\r\nOK\r\n");
        }
        sink.events.clear();
    }
    void Feed(const std::string& bytes) {
        script.Feed(reinterpret_cast<const BYTE*>(bytes.data()), int(bytes.size()), sink);
    }
    void FeedReads(const std::vector<std::string>& reads) {
        for (const auto& r : reads) {
            Feed(r);
        }
    }
};

const std::string kDial = "AT#SD=1,0,80,example.com\r\n";
const std::string kRequest = "GET / HTTP/1.0\r\nHost: example.com\r\n\r\n";

TEST(GprsScript, StartSendsTheFirstCommandAndTheScriptIsFixed) {
    RecordingSink sink;
    CGprsScript script("example.com");
    script.Start(sink);
    EXPECT_EQ(sink.events, Events{"send AT\r\n"});
    EXPECT_STREQ(CGprsScript::atScript[3], "AT+CGDCONT=1,\"IP\",\"internet\"\r\n");
    EXPECT_STREQ(CGprsScript::atScript[8], "");
}

struct Case {
    const char* name;
    int startRow;
    std::vector<std::string> reads;
    Events events;
    int rowAfter;
    bool passed;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class GprsDispatch : public ::testing::TestWithParam<Case> {};

TEST_P(GprsDispatch, Events) {
    const Case& c = GetParam();
    Dialogue run(c.startRow);
    run.FeedReads(c.reads);
    EXPECT_EQ(run.sink.events, c.events);
    EXPECT_EQ(run.script.ScriptIndex(), c.rowAfter);
    EXPECT_EQ(run.script.Passed(), c.passed);
}

const Case kCases[] = {
    {"OkSplitAcrossReads", 0, {"\r\nO", "K\r\n"}, {"log OK", "send ATZ\r\n"}, 1, false},
    {"LfAloneEndsALine", 0, {"OK\n"}, {"log OK", "send ATZ\r\n"}, 1, false},
    {"CrAloneDoesNot", 0, {"OK\rOK\r"}, {}, 0, false},
    {"ManyCrsBeforeLf", 0, {"O\rK\r\r\r\n"}, {"log OK", "send ATZ\r\n"}, 1, false},
    {"BlankLinesAreNotLogged", 0, {"\r\n\r\n\n\r\n"}, {}, 0, false},
    {"LowerCaseIsOnlyLogged", 0, {"\r\nok\r\n"}, {"log ok"}, 0, false},
    {"TrailingBlankIsOnlyLogged", 0, {"\r\nOK \r\n"}, {"log OK "}, 0, false},
    {"EchoIsOnlyLogged", 0, {"AT\r\r\n"}, {"log AT"}, 0, false},
    {"TwoLinesInOneRead",
     3,
     {"\r\n#SGACT: 1,0\r\n\r\nOK\r\n"},
     {"log #SGACT: 1,0", "log OK", "send AT#SGACT?\r\n"},
     4,
     false},
    {"ActiveContextThenOkGoesStraightToDial",
     4,
     {"\r\n#SGACT: 1,1\r\n\r\nOK\r\n"},
     {"log #SGACT: 1,1", "log OK", "send " + kDial},
     6,
     false},
    {"InactiveContextThenOkActivates",
     4,
     {"\r\n#SGACT: 1,0\r\nOK\r\n"},
     {"log #SGACT: 1,0", "log OK", "send AT#SGACT=1,1\r\n"},
     5,
     false},
    {"BlanksBeforeNumbersAreAllowed", 4, {"#SGACT:  1, 1\r\n"}, {"log #SGACT:  1, 1"}, 5, false},
    {"IpAddressAnswerChangesNothing",
     5,
     {"\r\n#SGACT: 10.0.0.7\r\n\r\nOK\r\n"},
     {"log #SGACT: 10.0.0.7", "log OK", "send " + kDial},
     6,
     false},
    {"HugeNumbersSaturate",
     4,
     {"#SGACT: 1,99999999999999999999\r\n"},
     {"log #SGACT: 1,99999999999999999999"},
     5,
     false},
    {"ErrorPausesThenRepeats",
     5,
     {"\r\nERROR\r\n"},
     {"log ERROR", "pause", "send AT#SGACT=1,1\r\n"},
     5,
     false},
    {"ConnectSendsTheRequest",
     6,
     {"\r\nCONNECT\r\n"},
     {"log CONNECT", "send " + kRequest},
     6,
     false},
    {"NoCarrierBeforeSuccessRedials",
     6,
     {"\r\nNO CARRIER\r\n"},
     {"log NO CARRIER", "send " + kDial},
     6,
     false},
    {"Http10OkThenNoCarrierPasses",
     6,
     {"\r\nCONNECT\r\n", "HTTP/1.0 200 OK\r\nServer: x\r\n\r\nbody\r\n", "\r\nNO CARRIER\r\n"},
     {"log CONNECT", "send " + kRequest, "log HTTP/1.0 200 OK", "log its OK", "log Server: x",
      "log body", "log NO CARRIER", "log exit"},
     6,
     true},
    {"Http11MovedTemporarilyPasses",
     6,
     {"\r\nCONNECT\r\n", "HTTP/1.1 302 Moved Temporarily\r\n\r\nNO CARRIER\r\n"},
     {"log CONNECT", "send " + kRequest, "log HTTP/1.1 302 Moved Temporarily", "log its OK",
      "log NO CARRIER", "log exit"},
     6,
     true},
    {"RestOfThePassingReadIsStillHandled",
     6,
     {"\r\nCONNECT\r\n", "HTTP/1.1 200 OK\r\nNO CARRIER\r\nOK\r\n"},
     {"log CONNECT", "send " + kRequest, "log HTTP/1.1 200 OK", "log its OK", "log NO CARRIER",
      "log exit", "log OK", "send AT\r\n"},
     7,
     true},
    {"OkAtTheLastRowDiscardsTheRestOfTheRead",
     8,
     {"\r\nCONNECT\r\n", "HTTP/1.0 200 OK\r\n\r\nNO CARRIER\r\nOK\r\nNO CARRIER\r\nERROR\r\n"},
     {"log CONNECT", "send " + kRequest, "log HTTP/1.0 200 OK", "log its OK", "log NO CARRIER",
      "log exit", "log OK"},
     8,
     true},
    {"NulBytesEndTheLineForMatchingAndLog",
     0,
     {std::string("\0\0\r\nOK\0junk\r\n", 13)},
     {"log ", "log OK", "send ATZ\r\n"},
     1,
     false},
    {"RowSevenThenEmptyRowEight",
     6,
     {"OK\r\nOK\r\n"},
     {"log OK", "send AT\r\n", "log OK", "send "},
     8,
     false},
    // However the dial row became current, it sends the completed dial command.
    {"ActiveContextWhileActivatingStillDialsTheHost",
     5,
     {"\r\n#SGACT: 1,1\r\n", "\r\nNO CARRIER\r\n"},
     {"log #SGACT: 1,1", "log NO CARRIER", "send " + kDial},
     6,
     false},
};

// The answer to the context query: one line per context, and only context 1 decides
// whether the activation is skipped.
struct ContextCase {
    const char* name;
    std::vector<std::string> lines;
    bool skipsActivation;
};

void PrintTo(const ContextCase& c, std::ostream* os) {
    *os << c.name;
}

class GprsContextQuery : public ::testing::TestWithParam<ContextCase> {};

TEST_P(GprsContextQuery, OnlyContextOneDecides) {
    const ContextCase& c = GetParam();
    Dialogue run(4);
    std::string answer = "\r\n";
    Events expected;
    for (const auto& line : c.lines) {
        answer += line + "\r\n";
        expected.push_back("log " + line);
    }
    run.Feed(answer + "\r\nOK\r\n");
    expected.push_back("log OK");
    expected.push_back(c.skipsActivation ? "send " + kDial : "send AT#SGACT=1,1\r\n");
    EXPECT_EQ(run.sink.events, expected);
    EXPECT_EQ(run.script.ScriptIndex(), c.skipsActivation ? 6 : 5);
}

const ContextCase kContextCases[] = {
    {"OneDown", {"#SGACT: 1,0"}, false},
    {"OneUp", {"#SGACT: 1,1"}, true},
    {"TwoOtherUp", {"#SGACT: 1,0", "#SGACT: 2,1"}, false},
    {"TwoBothUp", {"#SGACT: 1,1", "#SGACT: 2,1"}, true},
    {"TwoFirstUp", {"#SGACT: 1,1", "#SGACT: 2,0"}, true},
    {"TwoBothDown", {"#SGACT: 1,0", "#SGACT: 2,0"}, false},
    {"ThreeOthersUp", {"#SGACT: 1,0", "#SGACT: 2,1", "#SGACT: 3,1"}, false},
    {"ThreeAllUp", {"#SGACT: 1,1", "#SGACT: 2,1", "#SGACT: 3,1"}, true},
    {"ThreeContextOneLast", {"#SGACT: 2,1", "#SGACT: 3,1", "#SGACT: 1,1"}, true},
    {"ThreeContextOneDownInTheMiddle", {"#SGACT: 3,1", "#SGACT: 1,0", "#SGACT: 2,1"}, false},
    {"ContextElevenIsNotOne", {"#SGACT: 11,1"}, false},
};

INSTANTIATE_TEST_SUITE_P(Table, GprsContextQuery, ::testing::ValuesIn(kContextCases),
                         [](const auto& info) { return std::string(info.param.name); });

// From CONNECT to NO CARRIER the lines are the host's: the first one is the status line,
// the others are only logged, whatever they look like.
const Case kDataPhaseCases[] = {
    {"NotFoundWithASuccessLineInItsBodyRedials",
     6,
     {"\r\nCONNECT\r\n", "HTTP/1.1 404 Not Found\r\n\r\nHTTP/1.1 200 OK\r\n", "\r\nNO CARRIER\r\n"},
     {"log CONNECT", "send " + kRequest, "log HTTP/1.1 404 Not Found", "log HTTP/1.1 200 OK",
      "log NO CARRIER", "send " + kDial},
     6,
     false},
    {"NotFoundWithNoCarrierAndASuccessLineInItsBodyRedials",
     6,
     {"\r\nCONNECT\r\n", "HTTP/1.1 404 Not Found\r\n\r\nNO CARRIER\r\nHTTP/1.1 200 OK\r\n",
      "\r\nNO CARRIER\r\n"},
     {"log CONNECT", "send " + kRequest, "log HTTP/1.1 404 Not Found", "log NO CARRIER",
      "send " + kDial, "log HTTP/1.1 200 OK", "log NO CARRIER", "send " + kDial},
     6,
     false},
    {"AStatusLineOutsideADataPhaseIsOnlyLogged",
     6,
     {"HTTP/1.1 200 OK\r\n\r\nNO CARRIER\r\n"},
     {"log HTTP/1.1 200 OK", "log NO CARRIER", "send " + kDial},
     6,
     false},
    {"ModemWordsInTheBodyAreOnlyLogged",
     6,
     {"\r\nCONNECT\r\n", "HTTP/1.1 200 OK\r\n\r\nOK\r\nERROR\r\nCONNECT\r\n", "\r\nNO CARRIER\r\n"},
     {"log CONNECT", "send " + kRequest, "log HTTP/1.1 200 OK", "log its OK", "log OK", "log ERROR",
      "log CONNECT", "log NO CARRIER", "log exit"},
     6,
     true},
    {"AnswerInTheReadOfConnectIsTheHosts",
     6,
     {"\r\nCONNECT\r\nHTTP/1.0 302 Found\r\nOK\r\n\r\nNO CARRIER\r\n"},
     {"log CONNECT", "send " + kRequest, "log HTTP/1.0 302 Found", "log its OK", "log OK",
      "log NO CARRIER", "log exit"},
     6,
     true},
    {"OnlyTheFirstLineIsTheStatusLine",
     6,
     {"\r\nCONNECT\r\n", "Welcome\r\nHTTP/1.1 200 OK\r\n\r\nNO CARRIER\r\n"},
     {"log CONNECT", "send " + kRequest, "log Welcome", "log HTTP/1.1 200 OK", "log NO CARRIER",
      "send " + kDial},
     6,
     false},
    {"ALineThatReadsEmptyIsNotTheStatusLine",
     6,
     {"\r\nCONNECT\r\n", std::string(1, '\0') + "\r\nHTTP/1.1 200 OK\r\nNO CARRIER\r\n"},
     {"log CONNECT", "send " + kRequest, "log ", "log HTTP/1.1 200 OK", "log its OK",
      "log NO CARRIER", "log exit"},
     6,
     true},
    {"HangUpWithoutAnswerRedialsAndTheNextAnswerPasses",
     6,
     {"\r\nCONNECT\r\n", "\r\nNO CARRIER\r\n", "\r\nCONNECT\r\n",
      "HTTP/1.1 200 OK\r\n\r\nNO CARRIER\r\n"},
     {"log CONNECT", "send " + kRequest, "log NO CARRIER", "send " + kDial, "log CONNECT",
      "send " + kRequest, "log HTTP/1.1 200 OK", "log its OK", "log NO CARRIER", "log exit"},
     6,
     true},
    {"AfterNoCarrierTheModemTalksAgain",
     6,
     {"\r\nCONNECT\r\n", "HTTP/1.1 500 Oops\r\n\r\nNO CARRIER\r\nOK\r\nHTTP/1.1 200 OK\r\n"},
     {"log CONNECT", "send " + kRequest, "log HTTP/1.1 500 Oops", "log NO CARRIER", "send " + kDial,
      "log OK", "send AT\r\n", "log HTTP/1.1 200 OK"},
     7,
     false},
};

INSTANTIATE_TEST_SUITE_P(DataPhase, GprsDispatch, ::testing::ValuesIn(kDataPhaseCases),
                         [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(Table, GprsDispatch, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(GprsStatusLine, SuccessOnlyFor200And302OfHttp10And11) {
    struct {
        const char* line;
        bool ok;
    } table[] = {
        {"HTTP/1.0 200 OK", true},
        {"HTTP/1.0 302 Found", true},
        {"HTTP/1.1 200 OK", true},
        {"HTTP/1.1 302 Moved Temporarily", true},
        {"HTTP/1.1 200", true},
        {"HTTP/1.1 200 Everything is fine", true},
        {"HTTP/1.1 2000 OK", false},
        {"HTTP/1.1 301 Moved Permanently", false},
        {"HTTP/1.1 404 Not Found", false},
        {"HTTP/2 200 OK", false},
        {"HTTP/1.1  200 OK", false},
        {"http/1.1 200 OK", false},
        {" HTTP/1.1 200 OK", false},
        {"HTTP/1.0 20", false},
    };
    for (const auto& row : table) {
        EXPECT_EQ(IsSuccessStatusLine(row.line), row.ok) << row.line;
    }
}

TEST(GprsScript, FullDialogueWithAMostlySilentModemPasses) {
    Dialogue run;
    run.FeedReads({"AT\r\r\nOK\r\n", "ATZ\r\r\nOK\r\n", "ATE0\r\r\nOK\r\n", "\r\nOK\r\n",
                   "\r\n#SGACT: 1,0\r\n\r\nOK\r\n", "\r\n#SGACT: 10.1.2.3\r\n", "\r\nOK\r\n",
                   "\r\nCONNECT\r\n", "HTTP/1.1 200 OK\r\n\r\n<html></html>",
                   "\r\nNO CARRIER\r\n"});
    EXPECT_TRUE(run.script.Passed());
    Events sent;
    for (const auto& e : run.sink.events) {
        if (e.rfind("send ", 0) == 0) {
            sent.push_back(e.substr(5));
        }
    }
    EXPECT_EQ(sent, (Events{"ATZ\r\n", "ATE0\r\n", "AT+CGDCONT=1,\"IP\",\"internet\"\r\n",
                            "AT#SGACT?\r\n", "AT#SGACT=1,1\r\n", kDial, kRequest}));
}

TEST(GprsScript, StopDuringTheErrorPauseEndsFeedAtOnce) {
    Dialogue run(5);
    run.sink.stopAtPause = true;
    EXPECT_FALSE(run.script.Feed(reinterpret_cast<const BYTE*>("ERROR\r\nOK\r\n"), 11, run.sink));
    EXPECT_EQ(run.sink.events, (Events{"log ERROR", "pause"}));
}

TEST(GprsScript, OverlongLineIsCutAndTheNextLineIsIntact) {
    Dialogue run;
    std::string longLine(CGprsScript::kLineSize + 500, 'x');
    run.Feed(longLine.substr(0, 7000));
    run.Feed(longLine.substr(7000) + "\r\nOK\r\n");
    ASSERT_EQ(run.sink.events.size(), 3u);
    EXPECT_EQ(run.sink.events[0], "log " + std::string(CGprsScript::kLineSize - 1, 'x'));
    EXPECT_EQ(run.sink.events[1], "log OK");
    EXPECT_EQ(run.script.ScriptIndex(), 1);
}

TEST(GprsScript, EachCheckStartsWithAnEmptyLineAndAFreshDialCommand) {
    Dialogue run(6);
    EXPECT_EQ(run.script.DialCommand(), "AT#SD=1,0,80,example.com\r\n");
    run.Feed("\r\nPARTIAL LI");
    run.script.Start(run.sink);
    run.sink.events.clear();
    run.Feed("NE\r\n");
    EXPECT_EQ(run.sink.events, Events{"log NE"});
    EXPECT_EQ(run.script.DialCommand(), "AT#SD");
}

}  // namespace
