// The main dialog. It is also the one serial port object of the program: START and both
// checks configure, open, read, write and close the port through it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

#include "app/Transcript.h"
#include "platform/ui/framework.h"
#include "res/resource.h"
#include "serial/ComPort.h"

class CTarvicDlg : public CDialog, public CComPort {
  public:
    explicit CTarvicDlg(CWnd* pParent = nullptr);
    ~CTarvicDlg() override;

    enum { IDD = IDD_TARVIC_DIALOG };

    void OnOK() override;      // START
    void OnCancel() override;  // Esc and the close box

    static DWORD WINAPI CheckThread(LPVOID param);

    // The log list keeps this many of the newest entries.
    static constexpr int kMaxLogEntries = 10000;

  protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnReceive(const BYTE* data, DWORD length) override;

    void OnPaint();
    HCURSOR OnQueryDragIcon();
    // The system menu's log item (and Ctrl+L): shows or hides the log list.
    void OnSysCommand(UINT nID);
    const MessageMap& GetMessageMap() const override;

  private:
    class CGprsSink;

    bool CheckGprs();
    bool Check485();
    // The end of both checks: the outcome box, the close, then the check's inputs back.
    bool EndCheck(bool passed, const char* passedText, const char* failedText, int portListId);
    void Log(const std::string& entry);
    // Into the log list only: the newest kMaxLogEntries are kept.
    void AddToLogList(const std::string& entry);
    // An outcome box, with its entry in the log and the transcript first.
    void ShowBox(bool success, const char* text);
    // The log entry of a port that Open could not open, with the system's reason.
    void LogOpenFailure();
    // The first lines of a run's transcript, from the dialog as START finds it.
    std::vector<std::string> TranscriptHeader(const tarvic::platform::LocalTime& start,
                                              int gprsPort, const std::string& host) const;
    void EnableControl(int id);
    // Sleeps unless the dialog is being closed; false when it is.
    bool PauseUnlessClosing(DWORD ms);
    // True once the closing of the dialog has cut the run short (check thread only).
    bool CutShort();
    // Ends a check run that is under way at once and waits for its thread, serving the UI.
    void EndRunNow();

    HANDLE m_hCheckThread = nullptr;
    DWORD m_dwCheckThreadId = 0;
    std::atomic<bool> m_bBusy{false};  // START on the UI thread, cleared by the check thread
    HICON m_hIcon;

    std::string m_strHost;  // the checked URL text of the run, set by START
    // Set when the dialog is closed during a run: every wait of the check thread ends.
    std::atomic<bool> m_bClosing{false};
    std::mutex m_closingMutex;
    std::condition_variable m_closingCv;
    bool m_bCutShort = false;  // the check thread's: the run was cut short by the closing

    CTranscript m_transcript;
};
