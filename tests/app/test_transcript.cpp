// The run transcripts' files: their names, their lines, the newest kept, the size limit and
// a folder that cannot be written.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "app/Transcript.h"
#include "tests/support/temp_dir.h"
#include "tests/support/transcript_line.h"

namespace {

namespace fs = std::filesystem;
using tarvic::platform::LocalTime;

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> Lines(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

struct Reports {
    std::mutex mutex;
    std::vector<std::string> texts;
    CTranscript::Reporter Reporter() {
        return [this](const std::string& t) {
            std::lock_guard lock(mutex);
            texts.push_back(t);
        };
    }
};

// One whole run, written before the transcript object goes.
void WriteRun(CTranscript& t, const LocalTime& start, const std::vector<std::string>& entries) {
    t.Begin(start, {"tarvic test", "host: example.com"});
    for (const std::string& e : entries) {
        t.Entry(e);
    }
    t.Box(false, "\xcd\xe5\xf2 \xf1\xe2\xff\xe7\xe8 GPRS");  // "Нет связи GPRS"
    t.End("the run is over");
}

TEST(Transcript, ARunIsItsHeaderItsEntriesItsBoxesAndItsEnd) {
    const tarvic::test::TempDir home("tarvic-transcript");
    const std::string folder = home.Path() + "/state/tarvic/runs";  // made as needed
    {
        CTranscript t(folder, nullptr);
        WriteRun(t, {2026, 12, 11, 14, 3, 22}, {"Tread OK", "> AT\\r\\n"});
    }
    ASSERT_EQ(Names(folder), (std::vector<std::string>{"2026-12-11_14-03-22.txt"}));
    const auto lines = Lines(fs::path(folder) / "2026-12-11_14-03-22.txt");
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "tarvic test");
    EXPECT_EQ(lines[1], "host: example.com");
    // Milliseconds since START, right-aligned, then the entry.
    EXPECT_TRUE(tarvic::test::IsTranscriptEntry(lines[2], "Tread OK")) << lines[2];
    EXPECT_TRUE(tarvic::test::IsTranscriptEntry(lines[3], "> AT\\r\\n")) << lines[3];
    EXPECT_EQ(lines[4], "box: ERROR \"Нет связи GPRS\"");  // UTF-8
    EXPECT_EQ(lines[5].rfind("end: the run is over, ", 0), 0u) << lines[5];
}

TEST(Transcript, RunsInOneSecondGetFilesOfTheirOwnAndTheNewestThirtyAreKept) {
    const tarvic::test::TempDir home("tarvic-transcript");
    const std::string folder = home.Path() + "/runs";
    fs::create_directories(folder);
    std::ofstream(folder + "/notes.txt") << "the technician's own file\n";
    {
        CTranscript t(folder, nullptr);
        // 27 runs in separate seconds, then four in one second: 31 runs.
        for (int s = 0; s < 27; ++s) {
            WriteRun(t, {2026, 12, 11, 9, 0, s}, {});
        }
        for (int i = 0; i < 4; ++i) {
            WriteRun(t, {2026, 12, 11, 10, 0, 0}, {"run " + std::to_string(i)});
        }
    }
    const auto names = Names(folder);
    ASSERT_EQ(names.size(), 31u);                         // 30 runs and the file that is not ours
    EXPECT_EQ(names.front(), "2026-12-11_09-00-01.txt");  // the oldest run has gone
    EXPECT_EQ(names[26], "2026-12-11_10-00-00.txt");
    EXPECT_EQ(names[27], "2026-12-11_10-00-00_2.txt");
    EXPECT_EQ(names[29], "2026-12-11_10-00-00_4.txt");
    EXPECT_EQ(names.back(), "notes.txt");
    const auto last = Lines(fs::path(folder) / "2026-12-11_10-00-00_4.txt");
    ASSERT_GE(last.size(), 3u);
    EXPECT_NE(last[2].find("run 3"), std::string::npos);
}

TEST(Transcript, AFileStopsAtOneMebibyteAndStillEndsWithItsBoxesAndItsEnd) {
    const tarvic::test::TempDir home("tarvic-transcript");
    const std::string folder = home.Path() + "/runs";
    {
        CTranscript t(folder, nullptr);
        WriteRun(t, {2026, 1, 2, 3, 4, 5}, std::vector<std::string>(20000, std::string(100, 'x')));
    }
    const fs::path file = fs::path(folder) / "2026-01-02_03-04-05.txt";
    EXPECT_LE(fs::file_size(file), CTranscript::kMaxFileSize);
    EXPECT_GT(fs::file_size(file), CTranscript::kMaxFileSize - 8192);
    const auto lines = Lines(file);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 3].rfind("--- cut: ", 0), 0u) << lines[lines.size() - 3];
    EXPECT_EQ(lines[lines.size() - 2], "box: ERROR \"Нет связи GPRS\"");
    EXPECT_EQ(lines.back().rfind("end: ", 0), 0u);
}

TEST(Transcript, AFolderThatCannotBeMadeIsReportedOnce) {
    const tarvic::test::TempDir home("tarvic-transcript");
    // Below a plain file no folder can be made, whoever runs the test.
    std::ofstream(home.Path() + "/state") << "not a folder\n";
    Reports reports;
    {
        CTranscript t(home.Path() + "/state/tarvic/runs", reports.Reporter());
        WriteRun(t, {2026, 1, 2, 3, 4, 5}, {"Tread OK"});
        WriteRun(t, {2026, 1, 2, 3, 4, 6}, {"Tread OK"});
        EXPECT_TRUE(fs::is_regular_file(home.Path() + "/state"));
    }
    ASSERT_EQ(reports.texts.size(), 1u);
    EXPECT_EQ(reports.texts[0].rfind("no transcript written: ", 0), 0u) << reports.texts[0];
    EXPECT_NE(reports.texts[0].find("state"), std::string::npos) << reports.texts[0];
}

}  // namespace
