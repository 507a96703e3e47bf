// The program's entry point: the application object already exists (a global of the
// program); this starts it and ends when its InitInstance is done.
#include <QApplication>
#include <QFileInfo>

#include "platform/ui/framework.h"
#include "platform/ui/qt/qt_app.h"
#include "platform/ui/qt/start_options.h"

int main(int argc, char** argv) {
    if (int status = tarvic::ui::HandleStartOptions(argc, argv); status >= 0) {
        return status;
    }
    tarvic::ui::DisplayStartWatch watch;
    QApplication qtApp(argc, argv);
    watch.End();
    tarvic::ui::SetUpApplication();
    CWinApp* app = AfxGetApp();
    if (!app) {
        return 1;
    }
    if (app->m_strAppName.empty()) {
        app->m_strAppName =
            QFileInfo(QCoreApplication::applicationFilePath()).baseName().toStdString();
    }
    if (!app->InitInstance()) {
        return 0;
    }
    return app->Run();
}
