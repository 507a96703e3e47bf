// The transcript of each check run: a UTF-8 text file per START in the user's state folder,
// named by the local start time, the newest kRunsKept kept. A writer thread of its own does
// every file operation, so that a slow or failing disk never holds the thread that logs;
// writing is best effort, and the first failure is reported once (through report, on the
// writer thread).
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/run_files.h"
#include "platform/system_info.h"

class CTranscript {
  public:
    static constexpr int kRunsKept = 30;
    static constexpr size_t kMaxFileSize = 1024 * 1024;

    // report gets a Windows-1251 text that says why transcripts cannot be written.
    using Reporter = std::function<void(const std::string& text)>;
    CTranscript(std::string folder, Reporter report);
    // Writes what is queued, then ends the writer.
    ~CTranscript();
    CTranscript(const CTranscript&) = delete;
    CTranscript& operator=(const CTranscript&) = delete;

    // A new run: its file is named by start; header holds its first lines (UTF-8).
    void Begin(const tarvic::platform::LocalTime& start, std::vector<std::string> header);
    // A log entry (Windows-1251), with the milliseconds since Begin.
    void Entry(const std::string& text);
    // An outcome box (Windows-1251), listed again at the end.
    void Box(bool success, const std::string& text);
    // The run is over; how says in what way (UTF-8).
    void End(const std::string& how);

    // Nothing is queued and the writer is not busy (then it will not report either).
    bool Idle();

    // The file name of a run started at t, or with suffix n > 1 its n-th name in that second.
    static std::string FileName(const tarvic::platform::LocalTime& t, int n = 1);

  private:
    enum class Kind { Begin, Entry, Box, End };
    struct Item {
        Kind kind = Kind::Entry;
        long long ms = 0;
        std::string text;
        tarvic::platform::LocalTime start;
        std::vector<std::string> header;
        bool success = false;
    };
    void Push(Item item);
    void WriterLoop();
    void Handle(Item& item);
    void Open(const Item& item);
    void RemoveOldRuns();
    void WriteLine(const std::string& utf8);
    void Fail(const std::string& reason);

    const std::string m_strFolder;
    const Reporter m_report;

    std::mutex m_mutex;  // guards everything down to m_thread
    std::condition_variable m_cv;
    std::deque<Item> m_queue;
    bool m_bStop = false;
    bool m_bBusy = false;  // the writer is handling an item
    bool m_bRunning = false;
    std::chrono::steady_clock::time_point m_start;
    std::thread m_thread;

    // The writer thread's own.
    tarvic::platform::CNewFile m_file;
    bool m_bRunFailed = false;  // this run writes nothing more
    bool m_bReported = false;
    bool m_bCut = false;
    size_t m_nWritten = 0;
    std::vector<std::string> m_boxes;
};
