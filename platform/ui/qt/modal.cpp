// The modal loop: a dialog's run from its template to EndDialog, and the UI thread's waits.
#include <QApplication>
#include <QEventLoop>
#include <QScreen>
#include <QTimer>

#include "platform/ui/backend.h"
#include "platform/ui/qt/dialog_template.h"
#include "platform/ui/qt/handles.h"
#include "platform/ui/qt/qt_app.h"
#include "platform/ui/qt/resources.h"
#include "platform/ui/qt/widgets.h"
#include "platform/ui/ui_thread.h"

using tarvic::ui::ToHwnd;
using tarvic::ui::ToWidget;
using tarvic::ui::UiBackend;

struct CDialog::ModalState {
    QEventLoop loop;
    int result = -1;
    bool ended = false;
    QWidget* window = nullptr;
};

INT_PTR CDialog::DoModal() {
    // Windows belong to the UI thread; a dialog is run there or not at all.
    if (!tarvic::ui::IsUiThread() || m_pModal) {
        return -1;
    }
    tarvic::ui::StartServingCalls();
    tarvic::ui::AllowMessageBoxes();
    const tarvic::ui::rc::Dialog* t =
        tarvic::ui::AppResources().FindDialog(static_cast<int>(m_nIDTemplate));
    if (!t) {
        return -1;
    }
    QWidget* parent = m_pParentWnd ? ToWidget(m_pParentWnd->GetSafeHwnd()) : nullptr;
    auto* window = new tarvic::ui::DialogWindow(this, parent);
    // Modal to its owner only: boxes that other threads show must still take input.
    window->setWindowModality(parent ? Qt::WindowModal : Qt::NonModal);
    tarvic::ui::BuildDialog(this, window, *t);
    const QScreen* screen = window->screen();
    if (screen) {
        const tarvic::ui::DialogUnits du(window->font());
        window->move(screen->availableGeometry().topLeft() + QPoint(du.X(t->x), du.Y(t->y)));
    }

    ModalState state;
    state.window = window;
    m_pModal = &state;
    UiBackend::Hwnd(this) = ToHwnd(window);
    tarvic::ui::SetWindowIcons(window, GetIcon(TRUE), GetIcon(FALSE));

    const BOOL focusFirst = OnInitDialog();
    if (!state.ended) {
        if (focusFirst) {
            for (const auto& c : UiBackend::Controls(this)) {
                QWidget* w = ToWidget(c->GetSafeHwnd());
                if ((w->focusPolicy() & Qt::TabFocus) && !w->isHidden() && w->isEnabled()) {
                    w->setFocus(Qt::TabFocusReason);
                    break;
                }
            }
        }
        window->show();
        window->raise();
        window->activateWindow();
        state.loop.exec(QEventLoop::DialogExec);
    }

    m_pModal = nullptr;
    for (const auto& c : UiBackend::Controls(this)) {
        UiBackend::Hwnd(c.get()) = nullptr;
    }
    UiBackend::Hwnd(this) = nullptr;
    window->Detach();
    window->hide();
    delete window;
    return state.result;
}

void CDialog::EndDialog(int result) {
    tarvic::ui::OnUiThread([&] {
        if (!m_pModal) {
            return;
        }
        m_pModal->result = result;
        m_pModal->ended = true;
        m_pModal->window->hide();
        m_pModal->loop.exit();
    });
}

int CWinApp::Run() {
    return QApplication::exec();
}

bool tarvic::ui::ServeEventsOnce() {
    StartServingCalls();
    // Wakes the wait below when no event comes.
    QTimer tick;
    tick.setSingleShot(true);
    tick.start(5);
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    ServePendingCalls();
    return true;
}
