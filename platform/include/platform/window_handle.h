// Window handles of the platform: a window handle names a Qt widget that is
// a window or a control of one.
#pragma once

#include "platform/win32.h"

class QWidget;

namespace platform {

// The handle of a widget; NULL for null.
HWND WindowHandleOf(QWidget* widget);
// The widget a handle names; nullptr for NULL or when that widget no longer
// exists.
QWidget* WidgetOfWindowHandle(HWND window);

}  // namespace platform
