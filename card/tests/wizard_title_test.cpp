// Linked with the wizard's string table: the card-selection dialog takes its
// title from the wizard's entry 22, the store provider's entry 1 being absent.
#include <gtest/gtest.h>

#include <QDialog>

#include "card/card_connection.h"
#include "common/module_instance.h"
#include "fake_card_fixture.h"
#include "platform/modal_dialog.h"
#include "platform/resources.h"

namespace card_test {
namespace {

class WizardBuild : public FakeCardTest {};

TEST_F(WizardBuild, SelectionDialogIsTitledFromEntry22) {
  char buffer[260];
  // Entry 1 of the wizard's table is its own caption, not the dialog title.
  LoadStringA(ModuleInstance, 1, buffer, sizeof buffer);
  ASSERT_STRNE(buffer, "Introduzca tarjeta ORVEL");
  AddReaderWithCard("Lector 0");
  AddReaderWithCard("Lector 1");
  std::string title;
  platform::SetDialogShownHook([&title](QDialog& dialog) {
    title = dialog.windowTitle().toStdString();
    dialog.reject();
  });
  SCARDHANDLE handle = 0;
  EXPECT_FALSE(ConnectToCard(m_context.Get(), kCardName, &handle));
  EXPECT_EQ(title, "Introduzca tarjeta ORVEL");
}

TEST_F(WizardBuild, ContextMessagesAreTheWizardsEntries) {
  char buffer[260];
  EXPECT_GT(LoadStringA(ModuleInstance, 24, buffer, sizeof buffer), 0);
  EXPECT_NE(std::string(buffer).find("servicio \"Tarjeta Inteligente\""), std::string::npos);
  EXPECT_GT(LoadStringA(ModuleInstance, 25, buffer, sizeof buffer), 0);
  EXPECT_NE(std::string(buffer).find("instalada en sus sistema."), std::string::npos);
  // Entry 4 is a wizard text of its own, not the store provider's message.
  LoadStringA(ModuleInstance, 4, buffer, sizeof buffer);
  EXPECT_EQ(std::string(buffer).find("administrador de recursos"), std::string::npos);
}

}  // namespace
}  // namespace card_test
