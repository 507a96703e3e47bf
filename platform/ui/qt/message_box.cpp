// Message boxes. A box asked for by another thread has no owner and is not modal, so the
// dialog keeps taking input; the caller waits until it is dismissed. A box asked for by
// the UI thread is modal.
#include <QMessageBox>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

#include "platform/ui/backend.h"
#include "platform/ui/cp1251.h"
#include "platform/ui/framework.h"
#include "platform/ui/qt/handles.h"
#include "platform/ui/qt/qt_app.h"
#include "platform/ui/ui_thread.h"

namespace tarvic::ui {
namespace {

class BoxResult {
  public:
    void Set(int result) {
        {
            std::lock_guard lock(m_mutex);
            if (m_done) {
                return;
            }
            m_done = true;
            m_result = result;
        }
        m_cv.notify_all();
    }

    int Wait() {
        std::unique_lock lock(m_mutex);
        m_cv.wait(lock, [this] { return m_done; });
        return m_result;
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_done = false;
    int m_result = 0;
};

// The boxes other threads have up; UI thread only.
std::map<QMessageBox*, std::shared_ptr<BoxResult>>& OpenBoxes() {
    static std::map<QMessageBox*, std::shared_ptr<BoxResult>> boxes;
    return boxes;
}

void Fill(QMessageBox& box, LPCSTR text, LPCSTR caption, UINT type) {
    box.setWindowTitle(QString::fromStdString(Cp1251ToUtf8(caption ? caption : "")));
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(Cp1251ToUtf8(text ? text : "")));
    switch (type & MB_ICONMASK) {
        case MB_ICONERROR:
            box.setIcon(QMessageBox::Critical);
            break;
        case MB_ICONQUESTION:
            box.setIcon(QMessageBox::Question);
            break;
        case MB_ICONWARNING:
            box.setIcon(QMessageBox::Warning);
            break;
        case MB_ICONINFORMATION:
            box.setIcon(QMessageBox::Information);
            break;
        default:
            box.setIcon(QMessageBox::NoIcon);
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Ok);
}

}  // namespace

}  // namespace tarvic::ui

int WINAPI MessageBoxExA(HWND owner, LPCSTR text, LPCSTR caption, UINT type, WORD) {
    if (tarvic::ui::IsUiThread()) {
        QMessageBox box(tarvic::ui::ToWidget(owner));
        tarvic::ui::Fill(box, text, caption, type);
        box.setWindowModality(Qt::ApplicationModal);
        box.exec();
        return IDOK;  // the only button; Esc and the close box also answer OK
    }
    if (tarvic::ui::BoxesCancelled()) {
        return IDCANCEL;
    }
    auto result = std::make_shared<tarvic::ui::BoxResult>();
    const bool shown = tarvic::ui::RunOnUiThread([&] {
        if (tarvic::ui::BoxesCancelled()) {
            result->Set(IDCANCEL);
            return;
        }
        auto* box = new QMessageBox();
        tarvic::ui::Fill(*box, text, caption, type);
        box->setWindowModality(Qt::NonModal);
        tarvic::ui::OpenBoxes()[box] = result;
        QObject::connect(box, &QDialog::finished, box, [box, result](int) {
            tarvic::ui::OpenBoxes().erase(box);
            result->Set(IDOK);
            box->deleteLater();
        });
        QObject::connect(box, &QObject::destroyed, [result] { result->Set(IDCANCEL); });
        box->show();
        box->raise();
        box->activateWindow();
    });
    return shown ? result->Wait() : 0;
}

void tarvic::ui::CloseMessageBoxes() {
    OnUiThread([] {
        // Boxes are made on the UI thread after a look at the flag, so none comes later.
        auto open = std::move(OpenBoxes());
        OpenBoxes().clear();
        for (auto& [box, result] : open) {
            result->Set(IDCANCEL);
            box->close();
        }
    });
}
