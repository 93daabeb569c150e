#include "window_placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

QPoint CenteredPosition(QSize reference, QSize window) {
  return {(reference.width() - window.width()) / 2, (reference.height() - window.height()) / 2};
}

void CenterWindow(QWidget* window) {
  if (window == nullptr) return;
  const QSize size = window->frameGeometry().size();
  QSize reference;
  if (!window->isWindow()) {
    const QWidget* parent = window->parentWidget();
    reference = parent != nullptr ? parent->frameGeometry().size() : QSize();
  }
  if (!reference.isValid()) {
    const QScreen* screen =
        window->screen() != nullptr ? window->screen() : QGuiApplication::primaryScreen();
    reference = screen != nullptr ? screen->geometry().size() : QSize(0, 0);
  }
  window->move(CenteredPosition(reference, size));
  if (window->isWindow()) {
    window->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    window->raise();
    window->activateWindow();
  }
}
