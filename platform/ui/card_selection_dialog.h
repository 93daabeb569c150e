// The window of the smart-card common dialog: the readers holding a card of
// the wanted names, one of which the user picks.
#pragma once

#include <QDialog>
#include <QString>

#include <string>
#include <vector>

class QDialogButtonBox;
class QTreeWidget;

namespace platform {

struct CardChoice {
  std::string reader;
  std::string card;
};

class CardSelectionDialog : public QDialog {
 public:
  // Object names, for whoever drives the dialog without a person.
  static constexpr const char* kReaderListName = "readerList";
  static constexpr const char* kButtonsName = "buttons";

  CardSelectionDialog(const QString& title, const std::vector<CardChoice>& choices);

  // Index into the choices of the selected row; -1 when none is selected.
  int SelectedIndex() const;

 private:
  void UpdateOkButton();

  QTreeWidget* m_list;
  QDialogButtonBox* m_buttons;
};

}  // namespace platform
