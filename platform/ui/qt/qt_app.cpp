#include "platform/ui/qt/qt_app.h"

#include <QApplication>
#include <QStyleFactory>

namespace ui {

void SetUpApplication() {
    // The classic look the dialog was laid out for; the toolkit's default where missing.
    if (QStyle* style = QStyleFactory::create(QStringLiteral("Windows"))) {
        QApplication::setStyle(style);
    }
    StartServingCalls();
}

}  // namespace ui
