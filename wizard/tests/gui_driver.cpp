#include "gui_driver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "platform/modal_dialog.h"

namespace wizard_test {

GuiDriver::GuiDriver() {
  platform::SetDialogShownHook([this](QDialog& dialog) { Answer(dialog); });
}

GuiDriver::~GuiDriver() { platform::SetDialogShownHook({}); }

void GuiDriver::Settle() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

void GuiDriver::Next(QWizard& wizard) {
  Settle();
  wizard.button(QWizard::NextButton)->click();
  Settle();
}

void GuiDriver::Finish(QWizard& wizard) {
  Settle();
  wizard.button(QWizard::FinishButton)->click();
  Settle();
}

void GuiDriver::TypeInto(QWidget& page, int id, const QString& text) {
  auto* edit = page.findChild<QLineEdit*>(QString::number(id));
  if (edit != nullptr) edit->setText(text);
}

QWidget* GuiDriver::TypeKeys(const QString& text) {
  Settle();
  QWidget* focus = QApplication::focusWidget();
  if (focus != nullptr) QTest::keyClicks(focus, text);
  Settle();
  return focus;
}

QWidget* GuiDriver::PressEnter() {
  Settle();
  QWidget* focus = QApplication::focusWidget();
  if (focus != nullptr) QTest::keyClick(focus, Qt::Key_Return);
  Settle();
  return focus;
}

QString GuiDriver::TextOf(QWidget& page, int id) {
  auto* edit = page.findChild<QLineEdit*>(QString::number(id));
  return edit != nullptr ? edit->text() : QStringLiteral("<none>");
}

void GuiDriver::Answer(QDialog& dialog) {
  if (auto* wizard = qobject_cast<QWizard*>(&dialog)) {
    Settle();
    if (onSheet) onSheet(*wizard);
    // Whatever the steps left open ends here.
    if (wizard->isVisible()) wizard->reject();
  } else if (auto* box = qobject_cast<QMessageBox*>(&dialog)) {
    boxes.push_back(
        {box->windowTitle(), box->text(), box->icon(), static_cast<int>(box->buttons().size())});
    box->buttons().front()->click();
  } else if (auto* fileDialog = qobject_cast<QFileDialog*>(&dialog)) {
    ++fileDialogs;
    std::optional<std::string> answer;
    if (!files.empty()) {
      answer = files.front();
      files.pop_front();
    }
    if (answer) {
      fileDialog->selectFile(QString::fromStdString(*answer));
      static_cast<QDialog*>(fileDialog)->accept();
    } else {
      fileDialog->reject();
    }
  } else if (dialog.findChild<QLineEdit*>(QStringLiteral("1005")) != nullptr) {
    ++pinDialogs;
    if (pinAnswers.empty()) {
      dialog.reject();
      return;
    }
    auto answer = std::move(pinAnswers.front());
    pinAnswers.pop_front();
    answer(dialog);
  } else {
    ++unexpected;
    dialog.reject();
  }
}

std::function<void(QDialog&)> TypePinAndPressOk(const std::string& pin) {
  return [pin](QDialog& dialog) {
    dialog.findChild<QLineEdit*>(QStringLiteral("1005"))->setText(QString::fromStdString(pin));
    dialog.findChild<QPushButton*>(QStringLiteral("1"))->click();
  };
}

std::function<void(QDialog&)> PressCancel() {
  return [](QDialog& dialog) { dialog.findChild<QPushButton*>(QStringLiteral("2"))->click(); };
}

}  // namespace wizard_test
