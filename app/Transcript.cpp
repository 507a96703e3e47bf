#include "app/Transcript.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "platform/run_files.h"
#include "platform/ui/cp1251.h"

namespace {

using tarvic::platform::LocalTime;

// What the end of a file needs: the boxes and the run's end, after a cut too.
constexpr size_t kTailRoom = 4096;
constexpr size_t kTailLineMax = 900;

// A name of ours: 2026-12-11_14-03-22.txt or 2026-12-11_14-03-22_2.txt. The key orders
// runs by start; anything else in the folder is not ours and is left alone.
bool RunKey(const std::string& name, std::string& stamp, int& n) {
    static const char kShape[] = "dddd-dd-dd_dd-dd-dd";
    const size_t len = sizeof kShape - 1;
    if (name.size() < len + 4 || name.compare(name.size() - 4, 4, ".txt") != 0) {
        return false;
    }
    for (size_t i = 0; i < len; ++i) {
        const bool digit = name[i] >= '0' && name[i] <= '9';
        if (kShape[i] == 'd' ? !digit : name[i] != kShape[i]) {
            return false;
        }
    }
    stamp = name.substr(0, len);
    const std::string rest = name.substr(len, name.size() - 4 - len);
    if (rest.empty()) {
        n = 1;
        return true;
    }
    if (rest.size() < 2 || rest.size() > 6 || rest[0] != '_') {
        return false;
    }
    n = 0;
    for (size_t i = 1; i < rest.size(); ++i) {
        if (rest[i] < '0' || rest[i] > '9') {
            return false;
        }
        n = n * 10 + (rest[i] - '0');
    }
    return n > 1;
}

std::string Utf8(const std::string& cp1251) {
    return tarvic::ui::Cp1251ToUtf8(cp1251);
}

}  // namespace

CTranscript::CTranscript(std::string folder, Reporter report)
    : m_strFolder(std::move(folder)), m_report(std::move(report)) {}

CTranscript::~CTranscript() {
    {
        std::lock_guard lock(m_mutex);
        m_bStop = true;
    }
    m_cv.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

std::string CTranscript::FileName(const LocalTime& t, int n) {
    char name[48];
    std::snprintf(name, sizeof name, "%04d-%02d-%02d_%02d-%02d-%02d", t.year % 10000, t.month % 100,
                  t.day % 100, t.hour % 100, t.minute % 100, t.second % 100);
    std::string out = name;
    if (n > 1) {
        out += "_" + std::to_string(n);
    }
    return out + ".txt";
}

void CTranscript::Begin(const LocalTime& start, std::vector<std::string> header) {
    Item item;
    item.kind = Kind::Begin;
    item.start = start;
    item.header = std::move(header);
    {
        std::lock_guard lock(m_mutex);
        m_start = std::chrono::steady_clock::now();
    }
    Push(std::move(item));
}

void CTranscript::Entry(const std::string& text) {
    Item item;
    item.text = text;
    Push(std::move(item));
}

void CTranscript::Box(bool success, const std::string& text) {
    Item item;
    item.kind = Kind::Box;
    item.text = text;
    item.success = success;
    Push(std::move(item));
}

void CTranscript::End(const std::string& how) {
    Item item;
    item.kind = Kind::End;
    item.text = how;
    Push(std::move(item));
}

void CTranscript::Push(Item item) {
    {
        std::lock_guard lock(m_mutex);
        item.ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - m_start)
                      .count();
        if (!m_bRunning && !m_bStop) {
            // Started with the first run, so that a dialog that never runs has no thread.
            try {
                m_thread = std::thread(&CTranscript::WriterLoop, this);
                m_bRunning = true;
            } catch (const std::system_error&) {
                return;
            }
        }
        m_queue.push_back(std::move(item));
    }
    m_cv.notify_all();
}

bool CTranscript::Idle() {
    std::lock_guard lock(m_mutex);
    return m_queue.empty() && !m_bBusy;
}

void CTranscript::WriterLoop() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_cv.wait(lock, [this] { return m_bStop || !m_queue.empty(); });
        if (m_queue.empty()) {
            break;  // stopped, and everything is written
        }
        Item item = std::move(m_queue.front());
        m_queue.pop_front();
        m_bBusy = true;
        lock.unlock();
        Handle(item);
        lock.lock();
        m_bBusy = false;
    }
    m_file.Close();
}

void CTranscript::Handle(Item& item) {
    switch (item.kind) {
        case Kind::Begin:
            Open(item);
            break;
        case Kind::Entry: {
            char ms[24];
            std::snprintf(ms, sizeof ms, "%8lld  ", item.ms);
            WriteLine(ms + Utf8(item.text));
            break;
        }
        case Kind::Box:
            m_boxes.push_back(std::string("box: ") + (item.success ? "OK" : "ERROR") + " \"" +
                              Utf8(item.text) + "\"");
            break;
        case Kind::End:
            for (const std::string& box : m_boxes) {
                WriteLine(box);
            }
            WriteLine("end: " + item.text + ", " + std::to_string(item.ms) + " ms after START");
            m_boxes.clear();
            m_file.Close();
            break;
    }
}

void CTranscript::Open(const Item& item) {
    m_file.Close();
    m_bRunFailed = false;
    m_bCut = false;
    m_nWritten = 0;
    m_boxes.clear();
    std::string reason;
    if (!tarvic::platform::MakeFolders(m_strFolder, reason)) {
        Fail(reason);
        return;
    }
    // Two runs in one second get two files.
    for (int n = 1;; ++n) {
        const auto made = m_file.Create(m_strFolder, FileName(item.start, n), reason);
        if (made == tarvic::platform::CNewFile::Result::Created) {
            break;
        }
        if (made == tarvic::platform::CNewFile::Result::Failed || n == 1000) {
            Fail(made == tarvic::platform::CNewFile::Result::Failed
                     ? reason
                     : m_strFolder + ": too many runs in one second");
            return;
        }
    }
    RemoveOldRuns();
    for (const std::string& line : item.header) {
        WriteLine(line);
    }
}

void CTranscript::RemoveOldRuns() {
    struct Run {
        std::string stamp;
        int n;
        std::string name;
    };
    std::vector<Run> runs;
    for (std::string& name : tarvic::platform::FileNames(m_strFolder)) {
        Run run;
        if (RunKey(name, run.stamp, run.n)) {
            run.name = std::move(name);
            runs.push_back(std::move(run));
        }
    }
    if (runs.size() <= size_t(kRunsKept)) {
        return;
    }
    std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) {
        return a.stamp != b.stamp ? a.stamp < b.stamp : a.n < b.n;
    });
    for (size_t i = 0; i + kRunsKept < runs.size(); ++i) {
        tarvic::platform::RemoveFile(m_strFolder, runs[i].name);
    }
}

void CTranscript::WriteLine(const std::string& utf8) {
    if (!m_file.IsOpen() || m_bRunFailed) {
        return;
    }
    std::string line = utf8.substr(0, m_bCut ? kTailLineMax : std::string::npos) + "\n";
    if (!m_bCut && m_nWritten + line.size() > kMaxFileSize - kTailRoom) {
        m_bCut = true;
        line =
            "--- cut: the transcript has reached its limit of 1 MiB; the rest of the log is "
            "not written, the boxes and the run's end follow\n";
    } else if (m_bCut && line.size() > 1 && line.compare(0, 4, "box:") != 0 &&
               line.compare(0, 4, "end:") != 0) {
        return;
    }
    if (m_nWritten + line.size() > kMaxFileSize) {
        return;
    }
    std::string reason;
    if (!m_file.Write(line, reason)) {
        Fail(reason);
        m_file.Close();
        return;
    }
    m_nWritten += line.size();
}

void CTranscript::Fail(const std::string& reason) {
    m_bRunFailed = true;
    if (m_bReported) {
        return;
    }
    m_bReported = true;
    if (m_report) {
        m_report(tarvic::ui::Utf8ToCp1251("no transcript written: " + reason));
    }
}
