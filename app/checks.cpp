// START, the check thread and the two checks it runs.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>

#include "app/GprsScript.h"
#include "app/HostName.h"
#include "app/Rs485Reply.h"
#include "app/Texts.h"
#include "app/tarvicDlg.h"

namespace {

// The destination of every Read of both checks; one Read hands over at most the port's
// buffer size, which both checks set to the size of this buffer.
constexpr int kRxBufSize = 10240;
BYTE rxBuf[kRxBufSize];
int rxCount = 0;

constexpr WORD kBoxLanguage = 4;

void ShowSuccess(const char* text) {
    MessageBoxExA(nullptr, text, "OK", MB_OK | MB_ICONINFORMATION | MB_TASKMODAL, kBoxLanguage);
}

void ShowFailure(const char* text) {
    MessageBoxExA(nullptr, text, "ERROR", MB_OK | MB_ICONERROR | MB_TASKMODAL, kBoxLanguage);
}

}  // namespace

// Carries out what the GPRS dialogue asks for on the dialog's port and log.
class CTarvicDlg::CGprsSink final : public CGprsScript::CSink {
  public:
    explicit CGprsSink(CTarvicDlg& dlg) : m_dlg(dlg) {}
    void Send(const char* text) override {
        m_dlg.Write(reinterpret_cast<const BYTE*>(text), DWORD(std::strlen(text)), 100);
        m_dlg.Log(text);
    }
    void Log(const char* entry) override { m_dlg.Log(entry); }
    bool PauseAfterError() override { return m_dlg.PauseUnlessClosing(10000); }

  private:
    CTarvicDlg& m_dlg;
};

void CTarvicDlg::Log(const char* entry) {
    // Nobody ever sees the log: its newest entries are kept, so that a modem that talks
    // without end cannot fill the memory.
    CListBox* log = static_cast<CListBox*>(GetDlgItem(IDC_LOG));
    if (log->AddString(entry) >= kMaxLogEntries) {
        log->DeleteString(0);
    }
}

void CTarvicDlg::EnableControl(int id) {
    GetDlgItem(id)->EnableWindow(TRUE);
}

bool CTarvicDlg::PauseUnlessClosing(DWORD ms) {
    std::unique_lock lock(m_closingMutex);
    return !m_closingCv.wait_for(lock, std::chrono::milliseconds(ms),
                                 [this] { return m_bClosing.load(); });
}

void CTarvicDlg::OnOK() {
    // While the window closes during a run it serves messages after the check thread may
    // have cleared the busy flag: an Enter then must not start a run that nobody ends.
    if (m_bBusy || m_bClosing) {
        return;
    }
    CComboBox* gprsPort = static_cast<CComboBox*>(GetDlgItem(IDC_GPRS_PORT));
    const int index = gprsPort->GetCurSel();
    if (index >= gprsPort->GetCount()) {
        return;
    }
    // The host goes into the modem's command line: nothing but a host name or an address.
    CString url;
    GetDlgItemText(IDC_URL, url);
    std::string host = TrimBlanks(url);
    if (!IsValidHost(host)) {
        ShowFailure(texts::kBadHost.text);
        return;
    }
    m_strHost = std::move(host);

    SetPortNumber(index + 1);
    SetBaudRate(9600);
    SetIntervalChars(500);
    SetBufferSize(kRxBufSize);
    if (!Open()) {
        ShowFailure(texts::kPortOpenFailed.text);
        return;
    }
    m_bBusy = true;
    for (int id : {IDC_GPRS_PORT, IDC_485_PORT, IDOK, IDC_URL}) {
        GetDlgItem(id)->EnableWindow(FALSE);
    }
    // The previous run's thread has ended or is about to: its handle is no longer needed.
    if (m_hCheckThread != nullptr) {
        CloseHandle(m_hCheckThread);
    }
    m_hCheckThread = CreateThread(nullptr, 0, CheckThread, this, 0, &m_dwCheckThreadId);
    if (m_hCheckThread == nullptr) {
        Close();
        for (int id : {IDC_GPRS_PORT, IDC_485_PORT, IDOK, IDC_URL}) {
            EnableControl(id);
        }
        m_bBusy = false;
        ShowFailure(texts::kRunNotStarted.text);
    }
}

void CTarvicDlg::EndRunNow() {
    if (m_hCheckThread == nullptr || WaitForSingleObject(m_hCheckThread, 0) != WAIT_TIMEOUT) {
        return;
    }
    // Every wait of the check thread is woken, no further box is shown, and the UI keeps
    // serving the thread's control calls until it has ended.
    {
        std::lock_guard lock(m_closingMutex);
        m_bClosing = true;
    }
    m_closingCv.notify_all();
    Abort();
    CancelMessageBoxes();
    WaitForThreadServingMessages(m_hCheckThread);
}

void CTarvicDlg::OnCancel() {
    EndRunNow();
    CDialog::OnCancel();
}

DWORD WINAPI CTarvicDlg::CheckThread(LPVOID param) {
    CTarvicDlg* dlg = static_cast<CTarvicDlg*>(param);
    dlg->Log("Tread OK");
    const bool gprsClosed = dlg->CheckGprs();
    const bool rs485Closed = !dlg->m_bClosing && dlg->Check485();
    if (gprsClosed || rs485Closed) {
        dlg->m_bBusy = false;
    }
    return 0;
}

bool CTarvicDlg::CheckGprs() {
    CGprsScript script(m_strHost);
    CGprsSink sink(*this);
    script.Start(sink);
    int failedReads = 0;
    while (!script.Passed() && !m_bClosing) {
        if (!Read(rxBuf, &rxCount, 1000)) {
            if (failedReads == 20) {
                break;
            }
            ++failedReads;
            continue;
        }
        failedReads = 0;
        if (!script.Feed(rxBuf, rxCount, sink)) {
            break;
        }
    }
    return EndCheck(script.Passed(), texts::kGprsPassed.text, texts::kGprsFailed.text,
                    IDC_GPRS_PORT);
}

bool CTarvicDlg::Check485() {
    CComboBox* rs485Port = static_cast<CComboBox*>(GetDlgItem(IDC_485_PORT));
    const int index = rs485Port->GetCurSel();
    // An early end gives the list back, so that another port can be picked.
    if (index >= rs485Port->GetCount()) {
        EnableControl(IDC_485_PORT);
        return false;
    }
    SetPortNumber(index + 1);
    SetBaudRate(115200);
    SetIntervalChars(1000);
    SetBufferSize(kRxBufSize);
    if (!Open()) {
        ShowFailure(texts::kPortOpenFailed.text);
        if (!m_bClosing) {
            EnableControl(IDC_485_PORT);
        }
        return false;
    }
    if (m_bClosing) {
        return false;
    }
    // Whatever the line carried before the pattern is not part of the reply.
    Read(rxBuf, &rxCount, 10);
    Fill485Pattern(rxBuf);
    Write(rxBuf, k485PatternLength, 100);
    bool passed = false;
    if (Read(rxBuf, &rxCount, 5000)) {
        char entry[256];
        std::snprintf(entry, sizeof entry, "get %d", rxCount);
        Log(entry);
        passed = Is485Reply(rxBuf, rxCount);
    }
    return EndCheck(passed, texts::k485Passed.text, texts::k485Failed.text, IDC_485_PORT);
}

bool CTarvicDlg::EndCheck(bool passed, const char* passedText, const char* failedText,
                          int portListId) {
    // When the program is being closed the port stays open: its destruction gives the port
    // its saved settings back.
    if (m_bClosing) {
        return false;
    }
    if (passed) {
        ShowSuccess(passedText);
    } else {
        ShowFailure(failedText);
    }
    if (m_bClosing || !Close()) {
        return false;
    }
    for (int id : {portListId, IDOK, IDC_URL}) {
        EnableControl(id);
    }
    return true;
}
