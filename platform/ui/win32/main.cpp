// The program's entry point: the application object already exists (a global of the
// program); this starts it and ends when its InitInstance is done.
#include <windows.h>

#include "platform/ui/framework.h"
#include "platform/ui/win32/start_options.h"
#include "platform/ui/win32/wide_text.h"
#include "platform/ui/win32/win32_app.h"

int main(int argc, char** argv) {
    if (int status = tarvic::ui::HandleStartOptions(argc, argv); status >= 0) {
        return status;
    }
    tarvic::ui::StartServingCalls();
    CWinApp* app = AfxGetApp();
    if (!app) {
        return 1;
    }
    if (app->m_strAppName.empty()) {
        wchar_t path[MAX_PATH] = {};
        const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring name(path, n);
        name = name.substr(name.find_last_of(L"\\/") + 1);
        name = name.substr(0, name.find_last_of(L'.'));
        app->m_strAppName = tarvic::ui::FromWide(name.c_str(), static_cast<int>(name.size()));
    }
    if (!app->InitInstance()) {
        return 0;
    }
    return app->Run();
}
