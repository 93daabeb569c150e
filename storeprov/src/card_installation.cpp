#include "card_installation.h"

#include <cstring>

#include "card/key_installation.h"
#include "messages.h"
#include "pin_prompt.h"

namespace {

// Failures are notices; the PIN comes from the module's PIN dialog.
class StoreProviderInstallationUi : public CKeyInstallationUi {
 public:
  void ShowMessage(UINT textId) override { ShowNotice(textId); }

  std::optional<CPinText> PromptForPin() override {
    PinPrompt prompt;
    const char* pin = prompt.GetPin();
    if (pin == nullptr) return std::nullopt;
    return CPinText(std::string_view(pin, std::strlen(pin)));
  }
};

}  // namespace

bool InstallOnCard(PCCERT_CONTEXT certificate, const PrivateKeyBlob& blob,
                   const KeyIdentifier& identifier, KeyRoleWord role) {
  StoreProviderInstallationUi ui;
  return KeyInstallation(blob, identifier, role,
                         {certificate->pbCertEncoded, certificate->cbCertEncoded},
                         kStoreProviderInstallation, ui);
}
