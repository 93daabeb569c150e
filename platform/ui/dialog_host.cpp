#include "platform/dialog_host.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>

#include "platform/dialog_builder.h"
#include "platform/modal_dialog.h"
#include "platform/qt_application.h"

DialogHost::DialogHost(HINSTANCE module, const platform::DialogTemplate& dialogTemplate,
                       DialogProc procedure, LPARAM param)
    : m_procedure(procedure) {
  Build(module, dialogTemplate);
  Send(WM_INITDIALOG, 0, param);
  ApplyEditColors();
}

DialogHost::~DialogHost() { Send(WM_DESTROY, 0, 0); }

void DialogHost::Build(HINSTANCE module, const platform::DialogTemplate& dialogTemplate) {
  setModal(true);
  setWindowTitle(QString::fromUtf8(dialogTemplate.caption));
  setFixedSize(platform::BuildDialogControls(*this, dialogTemplate, module));
  for (QPushButton* button : findChildren<QPushButton*>()) {
    const int id = platform::DialogItemId(*button);
    if (id == platform::kNoControlId) continue;
    if (button->isDefault()) m_defaultId = id;
    connect(button, &QPushButton::clicked, this,
            [this, id] { Send(WM_COMMAND, MakeCommand(id, BN_CLICKED), 0); });
  }
  for (QLineEdit* edit : findChildren<QLineEdit*>()) {
    const int id = platform::DialogItemId(*edit);
    if (id == platform::kNoControlId) continue;
    connect(edit, &QLineEdit::textChanged, this,
            [this, id] { Send(WM_COMMAND, MakeCommand(id, EN_CHANGE), 0); });
  }
  SetDefaultId(m_defaultId);
}

INT_PTR DialogHost::Send(UINT message, WPARAM wParam, LPARAM lParam) {
  return m_procedure != nullptr ? m_procedure(*this, message, wParam, lParam) : 0;
}

QWidget* DialogHost::Item(int id) const { return platform::DialogItem(*this, id); }

void DialogHost::SetItemText(int id, const QString& text) {
  QWidget* item = Item(id);
  if (auto* line = qobject_cast<QLineEdit*>(item)) {
    line->setText(text);
  } else if (auto* edit = qobject_cast<QPlainTextEdit*>(item)) {
    edit->setPlainText(text);
  } else if (auto* label = qobject_cast<QLabel*>(item)) {
    label->setText(text);
  } else if (auto* button = qobject_cast<QPushButton*>(item)) {
    button->setText(text);
  }
}

QString DialogHost::ItemText(int id) const {
  QWidget* item = Item(id);
  if (auto* line = qobject_cast<QLineEdit*>(item)) return line->text();
  if (auto* edit = qobject_cast<QPlainTextEdit*>(item)) return edit->toPlainText();
  if (auto* label = qobject_cast<QLabel*>(item)) return label->text();
  return {};
}

void DialogHost::LimitText(int id, int maxCharacters) {
  if (auto* line = qobject_cast<QLineEdit*>(Item(id))) line->setMaxLength(maxCharacters);
}

void DialogHost::FocusItem(int id) {
  if (QWidget* item = Item(id)) item->setFocus(Qt::OtherFocusReason);
}

void DialogHost::SetDefaultId(int id) {
  m_defaultId = id;
  for (QPushButton* button : findChildren<QPushButton*>()) {
    button->setDefault(platform::DialogItemId(*button) == id);
  }
}

void DialogHost::End(int result) {
  m_ended = true;
  done(result);
}

void DialogHost::SetTitle(const QString& title) { setWindowTitle(title); }

void DialogHost::ApplyEditColors() {
  for (QLineEdit* line : findChildren<QLineEdit*>()) {
    const int id = platform::DialogItemId(*line);
    if (id == platform::kNoControlId) continue;
    EditColors colors{line->palette().color(QPalette::Text), line->palette().color(QPalette::Base)};
    if (Send(WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(&colors), id) == 0) continue;
    QPalette palette = line->palette();
    palette.setColor(QPalette::Text, colors.text);
    palette.setColor(QPalette::Base, colors.background);
    line->setPalette(palette);
  }
}

void DialogHost::reject() {
  if (!m_ended) Send(WM_COMMAND, MakeCommand(IDCANCEL, BN_CLICKED), 0);
}

void DialogHost::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      Send(WM_COMMAND, MakeCommand(m_defaultId, BN_CLICKED), 0);
      return;
    case Qt::Key_Escape:
      Send(WM_COMMAND, MakeCommand(IDCANCEL, BN_CLICKED), 0);
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

void DialogHost::closeEvent(QCloseEvent* event) {
  if (!m_ended) Send(WM_COMMAND, MakeCommand(IDCANCEL, BN_CLICKED), 0);
  if (m_ended) {
    event->accept();
  } else {
    event->ignore();
  }
}

void DialogHost::paintEvent(QPaintEvent* event) {
  QDialog::paintEvent(event);
  QPainter painter(this);
  m_painter = &painter;
  Send(WM_PAINT, 0, 0);
  m_painter = nullptr;
}

void DialogHost::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  raise();
  activateWindow();
}

INT_PTR RunDialog(HINSTANCE module, int templateId, DialogProc procedure, LPARAM param) {
  INT_PTR result = -1;
  const bool ran = platform::RunOnGuiThread([&] {
    const platform::DialogTemplate* found = platform::FindDialogTemplate(module, templateId);
    if (found == nullptr) return;
    DialogHost dialog(module, *found, procedure, param);
    result = platform::RunModalDialog(dialog);
  });
  return ran ? result : -1;
}

LONG SystemDialogBaseUnits() {
  const QSize base = platform::DialogBaseUnits(QApplication::font());
  return static_cast<LONG>((base.width() & 0xFFFF) | ((base.height() & 0xFFFF) << 16));
}
