// The framework's toolkit-neutral core: control lookup, message maps, data exchange, the
// dialog's default OK and Cancel, and the application object.
#include <atomic>
#include <chrono>
#include <thread>

#include "platform/ui/backend.h"
#include "platform/ui/framework.h"
#include "platform/ui/ui_thread.h"

namespace {

std::atomic<CWinApp*> g_app{nullptr};

}  // namespace

void tarvic::ui::UiBackend::Command(CDialog* d, int id) {
    if (id == IDOK) {
        d->OnOK();
    } else if (id == IDCANCEL) {
        d->OnCancel();
    }
}

// CWnd

CWnd::CWnd() = default;
CWnd::~CWnd() = default;

CWnd* CWnd::GetDlgItem(int id) const {
    return tarvic::ui::OnUiThread([&]() -> CWnd* {
        for (const auto& c : m_controls) {
            if (c->m_nID == id) {
                return c.get();
            }
        }
        return nullptr;
    });
}

void CWnd::SetDlgItemText(int id, const char* text) {
    if (CWnd* item = GetDlgItem(id)) {
        item->SetWindowText(text);
    }
}

int CWnd::GetDlgItemText(int id, CString& out) const {
    out.clear();
    CWnd* item = GetDlgItem(id);
    return item ? item->GetWindowText(out) : 0;
}

HICON CWnd::GetIcon(BOOL big) const {
    return tarvic::ui::OnUiThread([&] { return big ? m_hIconBig : m_hIconSmall; });
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return tarvic::ui::OnUiThreadOr([&] { return WindowProc(message, wParam, lParam); },
                                    LRESULT{0});
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    for (const MessageMapEntry& entry : GetMessageMap()) {
        if (entry.message == message) {
            return entry.handler(this, wParam, lParam);
        }
    }
    return DefWindowProc(message, wParam, lParam);
}

const MessageMap& CWnd::GetMessageMap() const {
    static const MessageMap none;
    return none;
}

// CDialog

CDialog::CDialog(UINT templateId, CWnd* parent) : m_nIDTemplate(templateId), m_pParentWnd(parent) {}

CDialog::~CDialog() = default;

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
    CDataExchange dx(this, saveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (UpdateData(TRUE)) {
        EndDialog(IDOK);
    }
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

void CDialog::OnPaint() {
    DefWindowProc(WM_PAINT, 0, 0);
}

// Application

CWinApp::CWinApp(const char* name) {
    if (name) {
        m_strAppName = name;
    }
    g_app = this;
}

CWinApp::~CWinApp() {
    CWinApp* self = this;
    g_app.compare_exchange_strong(self, nullptr);
}

BOOL CWinApp::InitInstance() {
    return TRUE;
}

CWinApp* AfxGetApp() {
    return g_app;
}

void PumpMessagesUntil(const std::function<bool()>& done) {
    if (!tarvic::ui::IsUiThread()) {
        while (!done()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return;
    }
    while (!done()) {
        if (!tarvic::ui::ServeEventsOnce()) {
            return;
        }
    }
}
