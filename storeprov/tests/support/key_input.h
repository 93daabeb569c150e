// Typing into widgets as a keyboard does, through the application's event
// delivery (ignored keys travel on to the parent, as Enter does from an
// edit to its dialog).
#pragma once

#include <QApplication>
#include <QKeyEvent>
#include <QString>
#include <QWidget>

namespace storeprov_test {

inline void PressKey(QWidget* widget, int key, const QString& text = {}) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QApplication::sendEvent(widget, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QApplication::sendEvent(widget, &release);
}

inline void TypeText(QWidget* widget, const QString& text) {
  for (const QChar c : text) PressKey(widget, c.unicode(), QString(c));
}

}  // namespace storeprov_test
