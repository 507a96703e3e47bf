// What the framework's handles stand for in the Qt back end: HWND is the QWidget, HICON
// the icon's images, HDC the QPainter of a paint event.
#pragma once

#include <QImage>
#include <QPainter>
#include <QWidget>

#include "platform/ui/framework.h"

namespace ui {

// The images behind an HICON. Icons live as long as the program; QImage needs no
// application object, so they can outlive it safely.
struct IconData {
    QImage large;  // SM_CXICON x SM_CYICON
    QImage small;
};

inline HWND ToHwnd(QWidget* w) {
    return reinterpret_cast<HWND>(w);
}
inline QWidget* ToWidget(HWND h) {
    return reinterpret_cast<QWidget*>(h);
}
inline HICON ToHicon(const IconData* i) {
    return reinterpret_cast<HICON>(const_cast<IconData*>(i));
}
inline const IconData* ToIcon(HICON h) {
    return reinterpret_cast<const IconData*>(h);
}
inline HDC ToHdc(QPainter* p) {
    return reinterpret_cast<HDC>(p);
}
inline QPainter* ToPainter(HDC h) {
    return reinterpret_cast<QPainter*>(h);
}

}  // namespace ui
