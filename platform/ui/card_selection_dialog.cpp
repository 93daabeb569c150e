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
  auto* prompt = new QLabel(choices.empty()
                                ? QStringLiteral("No hay ninguna tarjeta válida en los lectores.")
                                : QStringLiteral("Seleccione el lector que contiene su tarjeta:"),
                            this);
  layout->addWidget(prompt);

  list_ = new QTreeWidget(this);
  list_->setObjectName(QString::fromLatin1(kReaderListName));
  list_->setColumnCount(2);
  list_->setHeaderLabels({QStringLiteral("Lector"), QStringLiteral("Tarjeta")});
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  for (const CardChoice& choice : choices) {
    auto* item = new QTreeWidgetItem(list_);
    item->setText(0, QString::fromUtf8(choice.reader.c_str()));
    item->setText(1, QString::fromUtf8(choice.card.c_str()));
  }
  list_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  if (list_->topLevelItemCount() > 0) list_->setCurrentItem(list_->topLevelItem(0));
  layout->addWidget(list_);

  buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons_->setObjectName(QString::fromLatin1(kButtonsName));
  layout->addWidget(buttons_);

  connect(buttons_, &QDialogButtonBox::accepted, this, [this] {
    if (SelectedIndex() >= 0) accept();
  });
  connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] { UpdateOkButton(); });
  connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] {
    if (SelectedIndex() >= 0) accept();
  });
  UpdateOkButton();
  resize(420, 220);
}

int CardSelectionDialog::SelectedIndex() const {
  const QList<QTreeWidgetItem*> selected = list_->selectedItems();
  if (selected.isEmpty()) return -1;
  return list_->indexOfTopLevelItem(selected.front());
}

void CardSelectionDialog::UpdateOkButton() {
  buttons_->button(QDialogButtonBox::Ok)->setEnabled(SelectedIndex() >= 0);
}

}  // namespace platform
