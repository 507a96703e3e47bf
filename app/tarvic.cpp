#include "app/tarvic.h"

#include "app/tarvicDlg.h"

CTarvicApp theApp;

CTarvicApp::CTarvicApp() : CWinApp(nullptr) {}

const CommandMap& CTarvicApp::GetMessageMap() const {
    static const CommandMap map = {
        {ID_HELP, OnCommand(&CWinApp::OnHelp)},
    };
    return map;
}

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
