// liborvelcsp_pin.so: the provider's PIN dialog, on the platform's user
// interface. Loaded by the provider module only in programs that carry the
// platform's user interface (see src/pin_prompt.h).
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

#include <cstring>

#include "platform/qt_application.h"

namespace {

// Wipes the text of the edit (its QString buffer) as far as Qt lets it.
void WipeEdit(QLineEdit& edit) {
  QString text = edit.text();
  text.fill(QChar(u'\0'));
  edit.clear();
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int OrvelCspAskPin(const char* reader, char* pin,
                                                                     std::size_t capacity) {
  if (pin == nullptr || capacity < 2) return -1;
  pin[0] = '\0';
  QApplication* application = platform::EnsureQtApplication();
  if (application == nullptr) return -1;
  int answer = -1;
  const bool ran = platform::RunOnGuiThread([&] {
    QDialog dialog;
    dialog.setObjectName("OrvelCspPinDialog");
    dialog.setWindowTitle(QString::fromUtf8("OrvelCSP - PIN de la tarjeta"));
    auto* layout = new QVBoxLayout(&dialog);
    const QString where = reader != nullptr && *reader != '\0'
                              ? QString::fromUtf8(" (lector %1)").arg(QString::fromUtf8(reader))
                              : QString();
    layout->addWidget(new QLabel(
        QString::fromUtf8("Introduzca el PIN de la tarjeta para usar su clave%1:").arg(where)));
    auto* edit = new QLineEdit;
    edit->setObjectName("pin");
    edit->setEchoMode(QLineEdit::Password);
    edit->setMaxLength(static_cast<int>(capacity - 1));
    layout->addWidget(edit);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText(QString::fromUtf8("Aceptar"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QString::fromUtf8("Cancelar"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted) {
      WipeEdit(*edit);
      answer = 0;
      return;
    }
    QByteArray typed = edit->text().toUtf8();
    WipeEdit(*edit);
    if (static_cast<std::size_t>(typed.size()) < capacity) {
      std::memcpy(pin, typed.constData(), static_cast<std::size_t>(typed.size()));
      pin[typed.size()] = '\0';
      answer = 1;
    } else {
      answer = 0;
    }
    typed.fill('\0');
  });
  return ran ? answer : -1;
}
