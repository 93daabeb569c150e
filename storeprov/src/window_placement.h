// Placing the module's dialogs: centred, topmost and in front, so that they
// are not hidden behind the program that caused them.
#pragma once

#include <QRect>
#include <QSize>

class QWidget;

// Where a window of size `window` goes to be centred in `reference`
// (rounding toward zero).
QPoint CenteredPosition(QSize reference, QSize window);

// A child window is centred within its parent's rectangle, any other window
// on the screen; then it is made topmost and brought to the foreground.
void CenterWindow(QWidget* window);
