// Widgets from dialog templates.
#include "platform/dialog_builder.h"

#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>

#include <vector>

#include "platform/image_resources.h"

namespace platform {
namespace {

constexpr char kControlIdProperty[] = "dialogControlId";

QWidget* MakeButton(QWidget& parent, const DialogControl& control, bool isDefault) {
  auto* button = new QPushButton(QString::fromUtf8(control.text ? control.text : ""), &parent);
  button->setAutoDefault(false);
  button->setDefault(isDefault);
  return button;
}

QWidget* MakeEdit(QWidget& parent, const DialogControl& control) {
  const QString text = QString::fromUtf8(control.text ? control.text : "");
  if ((control.style & kEditMultiLine) != 0) {
    auto* edit = new QPlainTextEdit(text, &parent);
    edit->setReadOnly((control.style & kEditReadOnly) != 0);
    if ((control.style & kBorder) == 0) edit->setFrameShape(QFrame::NoFrame);
    edit->setTabChangesFocus(true);
    return edit;
  }
  auto* edit = new QLineEdit(text, &parent);
  edit->setReadOnly((control.style & kEditReadOnly) != 0);
  edit->setFrame((control.style & kBorder) != 0);
  if ((control.style & kEditPassword) != 0) edit->setEchoMode(QLineEdit::Password);
  return edit;
}

QWidget* MakeStatic(QWidget& parent, const DialogControl& control) {
  auto* label = new QLabel(QString::fromUtf8(control.text ? control.text : ""), &parent);
  label->setWordWrap(true);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setTextFormat(Qt::PlainText);
  return label;
}

QWidget* MakeImage(QWidget& parent, const DialogControl& control, HINSTANCE module,
                   const QRect& place) {
  auto* label = new QLabel(&parent);
  const bool icon = control.kind == DialogControlKind::Icon;
  QPixmap image =
      LoadImageResource(module, control.imageId, icon ? ImageKind::Icon : ImageKind::Bitmap);
  if (!image.isNull() && !icon && place.width() > 0 && place.height() > 0) {
    image = image.scaled(place.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
  }
  label->setPixmap(image);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

}  // namespace

QSize DialogBaseUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  static const QString letters =
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  const int width = (metrics.horizontalAdvance(letters) / 26 + 1) / 2;
  return {width, metrics.height()};
}

QFont DialogFontOf(const DialogTemplate& dialogTemplate) {
  QFont font(QString::fromUtf8(dialogTemplate.fontFace ? dialogTemplate.fontFace : ""));
  if (dialogTemplate.fontPoints > 0) font.setPointSize(dialogTemplate.fontPoints);
  return font;
}

QSize BuildDialogControls(QWidget& parent, const DialogTemplate& dialogTemplate, HINSTANCE module) {
  const QFont font = DialogFontOf(dialogTemplate);
  parent.setFont(font);
  const DialogUnits units(DialogBaseUnits(font));

  std::vector<QWidget*> groupBoxes;
  for (const DialogControl& control : dialogTemplate.controls) {
    const QRect place = units.ToPixels(control.x, control.y, control.cx, control.cy);
    QWidget* widget = nullptr;
    switch (control.kind) {
      case DialogControlKind::PushButton:
      case DialogControlKind::DefPushButton:
        widget = MakeButton(parent, control, control.kind == DialogControlKind::DefPushButton);
        break;
      case DialogControlKind::Edit:
        widget = MakeEdit(parent, control);
        break;
      case DialogControlKind::Static:
        widget = MakeStatic(parent, control);
        break;
      case DialogControlKind::Icon:
      case DialogControlKind::Bitmap:
        widget = MakeImage(parent, control, module, place);
        break;
      case DialogControlKind::GroupBox: {
        auto* box = new QGroupBox(QString::fromUtf8(control.text ? control.text : ""), &parent);
        box->setFocusPolicy(Qt::NoFocus);
        groupBoxes.push_back(box);
        widget = box;
        break;
      }
    }
    const bool sized = place.width() > 0 && place.height() > 0;
    if (sized) {
      widget->setGeometry(place);
    } else {
      // An icon without a size takes the size of its image.
      widget->move(place.topLeft());
      widget->adjustSize();
    }
    if ((control.style & kWindowDisabled) != 0) widget->setEnabled(false);
    // Without a tab stop, Tab passes the control by; a click still reaches it.
    if ((control.style & kTabStop) == 0 && widget->focusPolicy() != Qt::NoFocus) {
      widget->setFocusPolicy(Qt::ClickFocus);
    }
    if (control.id != kNoControlId) {
      widget->setProperty(kControlIdProperty, control.id);
      widget->setObjectName(QString::number(control.id));
    }
  }
  // A group box only frames the controls inside it; it must not cover them.
  for (QWidget* box : groupBoxes) box->lower();

  const QSize size = units.ToPixels(dialogTemplate.cx, dialogTemplate.cy);
  parent.setMinimumSize(size);
  return size;
}

QWidget* DialogItem(const QWidget& parent, int id) {
  if (id == kNoControlId) return nullptr;
  for (QWidget* child : parent.findChildren<QWidget*>()) {
    const QVariant value = child->property(kControlIdProperty);
    if (value.isValid() && value.toInt() == id) return child;
  }
  return nullptr;
}

int DialogItemId(const QWidget& control) {
  const QVariant value = control.property(kControlIdProperty);
  return value.isValid() ? value.toInt() : kNoControlId;
}

}  // namespace platform
