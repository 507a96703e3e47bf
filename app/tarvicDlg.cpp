#include "app/tarvicDlg.h"

#include <cstdio>

#include "app/PortLists.h"
#include "app/Texts.h"
#include "app/tarvic.h"
#include "platform/run_files.h"

namespace {

// A public web site whose root page answers a plain HTTP GET with 200.
constexpr const char* kDefaultHost = "example.com";

void FillPortList(CComboBox* list, int selected) {
    for (int port = 1; port <= kListedPorts; ++port) {
        char name[8];
        std::snprintf(name, sizeof name, "COM%d", port);
        list->AddString(name);
    }
    list->SetCurSel(selected);
}

}  // namespace

// The writer says why it cannot write in the log list, from its own thread.
CTarvicDlg::CTarvicDlg(CWnd* pParent)
    : CDialog(IDD, pParent),
      m_transcript(tarvic::platform::RunsFolder(),
                   [this](const std::string& text) { AddToLogList(text); }) {
    m_hIcon = AfxGetApp()->LoadIcon(IDR_MAINFRAME);
}

// A run still under way (the dialog ended without a close) is ended first: its thread uses
// this object. The reader thread calls the port's hooks, overridden here, so it must be gone
// before this part of the object is; the port base then restores and closes the port.
CTarvicDlg::~CTarvicDlg() {
    EndRunNow();
    // The transcript's writer may still have a word for the log list, which the UI serves.
    PumpMessagesUntil([this] { return m_transcript.Idle(); });
    if (m_hCheckThread != nullptr) {
        CloseHandle(m_hCheckThread);
    }
    StopReader();
}

const MessageMap& CTarvicDlg::GetMessageMap() const {
    static const MessageMap map = {
        {WM_PAINT, OnMessage(&CTarvicDlg::OnPaint)},
        {WM_QUERYDRAGICON, OnMessage(&CTarvicDlg::OnQueryDragIcon)},
        {WM_SYSCOMMAND,
         [](CWnd* wnd, WPARAM wParam, LPARAM) -> LRESULT {
             static_cast<CTarvicDlg*>(wnd)->OnSysCommand(static_cast<UINT>(wParam));
             return 0;
         }},
    };
    return map;
}

void CTarvicDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
}

BOOL CTarvicDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    m_bBusy = false;

    FillPortList(static_cast<CComboBox*>(GetDlgItem(IDC_GPRS_PORT)), 0);  // COM1
    FillPortList(static_cast<CComboBox*>(GetDlgItem(IDC_485_PORT)), 3);   // COM4
    SetDlgItemText(IDC_URL, kDefaultHost);

    // The log list stays hidden until the technician asks for it.
    AppendSystemMenuItem(IDM_LOG, texts::kLogMenuItem.text, 'L');

    return TRUE;  // the focus goes to the first tab stop, START
}

void CTarvicDlg::OnPaint() {
    if (!IsIconic()) {
        CDialog::OnPaint();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);

    const int cxIcon = GetSystemMetrics(SM_CXICON);
    const int cyIcon = GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(&rect);
    // Centred; the division rounds toward zero, also when the icon is the wider.
    const int x = (rect.right - rect.left - cxIcon + 1) / 2;
    const int y = (rect.bottom - rect.top - cyIcon + 1) / 2;

    dc.DrawIcon(x, y, m_hIcon);
}

void CTarvicDlg::OnSysCommand(UINT nID) {
    if ((nID & 0xFFF0) != IDM_LOG) {
        return;
    }
    // In its place from the template; focus, tab stops and the default button stay.
    const BOOL shown = !GetDlgItem(IDC_LOG)->IsWindowVisible();
    GetDlgItem(IDC_LOG)->ShowWindow(shown ? SW_SHOW : SW_HIDE);
    CheckSystemMenuItem(IDM_LOG, shown);
}

HCURSOR CTarvicDlg::OnQueryDragIcon() {
    return m_hIcon;
}

// Received bytes reach the checks through Read only.
void CTarvicDlg::OnReceive(const BYTE*, DWORD) {}
