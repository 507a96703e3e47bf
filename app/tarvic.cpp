#include "app/tarvic.h"

#include "app/tarvicDlg.h"

CTarvicApp theApp;

CTarvicApp::CTarvicApp() : CWinApp(nullptr) {}

BOOL CTarvicApp::InitInstance() {
    AfxEnableControlContainer();
    Enable3dControlsStatic();

    CTarvicDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;

    // The dialog has ended: end the program rather than enter an event loop.
    return FALSE;
}
