#include "card_selection_dialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace platform {

CardSelectionDialog::CardSelectionDialog(const QString& title,
                                         const std::vector<CardChoice>& choices) {
  setWindowTitle(title);
  setModal(true);

  auto* layout = new QVBoxLayout(this);
  auto* prompt =
      new QLabel(choices.empty() ? QStringLiteral("No hay ninguna tarjeta válida en los lectores.")
                                 : QStringLiteral("Seleccione el lector que contiene su tarjeta:"),
                 this);
  layout->addWidget(prompt);

  m_list = new QTreeWidget(this);
  m_list->setObjectName(QString::fromLatin1(kReaderListName));
  m_list->setColumnCount(2);
  m_list->setHeaderLabels({QStringLiteral("Lector"), QStringLiteral("Tarjeta")});
  m_list->setRootIsDecorated(false);
  m_list->setSelectionMode(QAbstractItemView::SingleSelection);
  for (const CardChoice& choice : choices) {
    auto* item = new QTreeWidgetItem(m_list);
    item->setText(0, QString::fromUtf8(choice.reader.c_str()));
    item->setText(1, QString::fromUtf8(choice.card.c_str()));
  }
  m_list->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  if (m_list->topLevelItemCount() > 0) m_list->setCurrentItem(m_list->topLevelItem(0));
  layout->addWidget(m_list);

  m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  m_buttons->setObjectName(QString::fromLatin1(kButtonsName));
  layout->addWidget(m_buttons);

  connect(m_buttons, &QDialogButtonBox::accepted, this, [this] {
    if (SelectedIndex() >= 0) accept();
  });
  connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(m_list, &QTreeWidget::itemSelectionChanged, this, [this] { UpdateOkButton(); });
  connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this] {
    if (SelectedIndex() >= 0) accept();
  });
  UpdateOkButton();
  resize(420, 220);
}

int CardSelectionDialog::SelectedIndex() const {
  const QList<QTreeWidgetItem*> selected = m_list->selectedItems();
  if (selected.isEmpty()) return -1;
  return m_list->indexOfTopLevelItem(selected.front());
}

void CardSelectionDialog::UpdateOkButton() {
  m_buttons->button(QDialogButtonBox::Ok)->setEnabled(SelectedIndex() >= 0);
}

}  // namespace platform
