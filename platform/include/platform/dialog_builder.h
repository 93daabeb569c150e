// Turns a dialog template (dialog_template.h) into Qt widgets. Dialog units
// are converted with the base units of the template's font: a horizontal
// unit is a quarter of the font's average character width, a vertical unit
// an eighth of its height.
//
// Every control with an identifier carries it: DialogItem finds it again,
// and its object name is the identifier in decimal ("1005"), so that tests
// find it with findChild.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

#include "platform/dialog_template.h"

class QWidget;

namespace platform {

// Average width of the 52 Latin letters (rounded) and the height of the
// font, in pixels.
QSize DialogBaseUnits(const QFont& font);

class DialogUnits {
 public:
  explicit DialogUnits(QSize baseUnits) : m_base(baseUnits) {}
  int X(int units) const { return units * m_base.width() / 4; }
  int Y(int units) const { return units * m_base.height() / 8; }
  QSize ToPixels(int cx, int cy) const { return {X(cx), Y(cy)}; }
  QRect ToPixels(int x, int y, int cx, int cy) const { return {X(x), Y(y), X(cx), Y(cy)}; }

 private:
  QSize m_base;
};

// The template's font.
QFont DialogFontOf(const DialogTemplate& dialogTemplate);

// Makes the template's controls children of parent, at their places, in
// template order (which is the tab order), gives parent the template's font
// and returns the size of the template in pixels. Icons and bitmaps come
// from the module's images. Push buttons are not default buttons of a
// QDialog: what Enter does is the dialog's business.
QSize BuildDialogControls(QWidget& parent, const DialogTemplate& dialogTemplate, HINSTANCE module);

// The control of that identifier among parent's descendants; nullptr when
// there is none.
QWidget* DialogItem(const QWidget& parent, int id);
// The identifier of a control built from a template; kNoControlId otherwise.
int DialogItemId(const QWidget& control);

}  // namespace platform
