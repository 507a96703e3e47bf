// Painting: the system's own paint context and DrawIcon.
#include <windows.h>

#include <map>

#include "platform/ui/framework.h"

namespace {

// The paint records of the contexts that are open; painting happens on the UI thread only.
std::map<const CPaintDC*, PAINTSTRUCT>& Open() {
    static std::map<const CPaintDC*, PAINTSTRUCT> open;
    return open;
}

}  // namespace

BOOL CDC::DrawIcon(int x, int y, HICON icon) {
    return m_hDC ? ::DrawIcon(m_hDC, x, y, icon) : FALSE;
}

CPaintDC::CPaintDC(CWnd* wnd) : m_pWnd(wnd) {
    const HWND h = wnd ? wnd->GetSafeHwnd() : nullptr;
    if (h) {
        PAINTSTRUCT& ps = Open()[this];
        m_hDC = BeginPaint(h, &ps);
    }
}

CPaintDC::~CPaintDC() {
    auto it = Open().find(this);
    if (it != Open().end()) {
        EndPaint(m_pWnd->GetSafeHwnd(), &it->second);
        Open().erase(it);
    }
}
