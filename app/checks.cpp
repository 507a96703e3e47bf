// START, the check thread and the two checks it runs.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>

#include "app/GprsScript.h"
#include "app/HostName.h"
#include "app/LogText.h"
#include "app/Rs485Reply.h"
#include "app/Texts.h"
#include "app/tarvicDlg.h"
#include "platform/system_info.h"
#include "platform/ui/cp1251.h"
#include "res/version.h"

namespace {

// The destination of every Read of both checks; one Read hands over at most the port's
// buffer size, which both checks set to the size of this buffer.
constexpr int kRxBufSize = 10240;
BYTE rxBuf[kRxBufSize];
int rxCount = 0;

constexpr WORD kBoxLanguage = 4;

// Each check's line settings: what it opens its port with and what its transcript says.
struct LineSettings {
    DWORD baud;
    int intervalChars;
};
constexpr LineSettings kGprsLine{9600, 500};
constexpr LineSettings k485Line{115200, 1000};

std::string PortText(int port, const LineSettings& line) {
    const std::string name =
        port < 1 ? "none selected" : PortLogText(port, tarvic::platform::PortDevice(port));
    return name + ", " + std::to_string(line.baud) + " baud, 8N1, read interval " +
           std::to_string(line.intervalChars) + " characters";
}

}  // namespace

// Carries out what the GPRS dialogue asks for on the dialog's port and log.
class CTarvicDlg::CGprsSink final : public CGprsScript::CSink {
  public:
    explicit CGprsSink(CTarvicDlg& dlg) : m_dlg(dlg) {}
    void Send(const char* text) override {
        m_dlg.Write(reinterpret_cast<const BYTE*>(text), DWORD(std::strlen(text)), 100);
        m_dlg.Log(SentLogEntry(text));
    }
    void Log(const char* entry) override { m_dlg.Log(EscapedLogText(entry)); }
    bool PauseAfterError() override { return m_dlg.PauseUnlessClosing(10000); }

  private:
    CTarvicDlg& m_dlg;
};

void CTarvicDlg::Log(const std::string& entry) {
    AddToLogList(entry);
    m_transcript.Entry(entry);
}

void CTarvicDlg::AddToLogList(const std::string& entry) {
    // Its newest entries are kept, so that a modem that talks without end cannot fill the
    // memory; the transcript has them all, up to its own limit.
    CListBox* log = static_cast<CListBox*>(GetDlgItem(IDC_LOG));
    if (log->AddString(entry.c_str()) >= kMaxLogEntries) {
        log->DeleteString(0);
    }
}

void CTarvicDlg::ShowBox(bool success, const char* text) {
    Log(BoxLogEntry(success, text));
    m_transcript.Box(success, text);
    MessageBoxExA(nullptr, text, success ? "OK" : "ERROR",
                  MB_OK | (success ? MB_ICONINFORMATION : MB_ICONERROR) | MB_TASKMODAL,
                  kBoxLanguage);
}

void CTarvicDlg::LogOpenFailure() {
    const DWORD code = GetLastError();
    const int port = GetPortNumber();
    Log(PortOpenFailedLogEntry(port, tarvic::platform::PortDevice(port),
                               tarvic::ui::Utf8ToCp1251(tarvic::platform::ErrorText(code))));
}

std::vector<std::string> CTarvicDlg::TranscriptHeader(const tarvic::platform::LocalTime& t,
                                                      int gprsPort, const std::string& host) const {
    const int rs485Port = static_cast<CComboBox*>(GetDlgItem(IDC_485_PORT))->GetCurSel() + 1;
    char start[40];
    std::snprintf(start, sizeof start, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return {
        "tarvic " TARVIC_VERSION_DOTTED,
        "platform: " + tarvic::platform::PlatformName(),
        "GPRS modem: " + PortText(gprsPort, kGprsLine),
        "RS-485: " + PortText(rs485Port, k485Line),
        "host: " + tarvic::ui::Cp1251ToUtf8(host),
        std::string("START: ") + start,
        "milliseconds after START, log entry:",
    };
}

void CTarvicDlg::EnableControl(int id) {
    GetDlgItem(id)->EnableWindow(TRUE);
}

bool CTarvicDlg::PauseUnlessClosing(DWORD ms) {
    std::unique_lock lock(m_closingMutex);
    return !m_closingCv.wait_for(lock, std::chrono::milliseconds(ms),
                                 [this] { return m_bClosing.load(); });
}

bool CTarvicDlg::CutShort() {
    if (m_bClosing) {
        m_bCutShort = true;
    }
    return m_bCutShort;
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
    const tarvic::platform::LocalTime now = tarvic::platform::LocalTimeNow();
    m_transcript.Begin(now, TranscriptHeader(now, index + 1, host));
    if (!IsValidHost(host)) {
        ShowBox(false, texts::kBadHost.text);
        m_transcript.End("the host was refused, no check ran");
        return;
    }
    m_strHost = std::move(host);

    SetPortNumber(index + 1);
    SetBaudRate(kGprsLine.baud);
    SetIntervalChars(kGprsLine.intervalChars);
    SetBufferSize(kRxBufSize);
    if (!Open()) {
        LogOpenFailure();
        ShowBox(false, texts::kPortOpenFailed.text);
        m_transcript.End("the GPRS port could not be opened, no check ran");
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
        ShowBox(false, texts::kRunNotStarted.text);
        m_transcript.End("the check thread could not be started, no check ran");
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
    dlg->m_bCutShort = false;
    dlg->Log("Tread OK");
    const bool gprsClosed = dlg->CheckGprs();
    const bool rs485Closed = !dlg->CutShort() && dlg->Check485();
    dlg->m_transcript.End(dlg->m_bCutShort ? "the window was closed during the run"
                                           : "the run is over");
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
    SetBaudRate(k485Line.baud);
    SetIntervalChars(k485Line.intervalChars);
    SetBufferSize(kRxBufSize);
    if (!Open()) {
        LogOpenFailure();
        ShowBox(false, texts::kPortOpenFailed.text);
        if (!m_bClosing) {
            EnableControl(IDC_485_PORT);
        }
        return false;
    }
    if (CutShort()) {
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
    if (CutShort()) {
        return false;
    }
    ShowBox(passed, passed ? passedText : failedText);
    if (CutShort() || !Close()) {
        return false;
    }
    for (int id : {portListId, IDOK, IDC_URL}) {
        EnableControl(id);
    }
    return true;
}
