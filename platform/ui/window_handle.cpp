#include "platform/window_handle.h"

#include <QApplication>
#include <QWidget>

namespace platform {

HWND WindowHandleOf(QWidget* widget) { return reinterpret_cast<HWND>(widget); }

QWidget* WidgetOfWindowHandle(HWND window) {
  if (window == nullptr || QApplication::instance() == nullptr) return nullptr;
  auto* candidate = reinterpret_cast<QWidget*>(window);
  // Only a live widget is handed out: a handle may outlive its window.
  const QWidgetList widgets = QApplication::allWidgets();
  return widgets.contains(candidate) ? candidate : nullptr;
}

}  // namespace platform
