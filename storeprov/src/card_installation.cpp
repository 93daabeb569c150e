#include "card_installation.h"

#include <cstring>

#include "card/key_installation.h"
#include "storeprov/messages.h"
#include "storeprov/pin_prompt.h"
#include "storeprov_resources.h"

namespace {

// A PIN as long as the PIN dialog takes; an empty PIN goes to the card.
constexpr KeyInstallationProfile kStoreProviderInstallation = {
    {IDS_NO_CONTEXT_NT, IDS_NO_CONTEXT_OTHER, IDS_NO_CARD, IDS_INVALID_PIN, IDS_KEYS_NOT_WRITTEN,
     IDS_CARD_ERROR, IDS_CARD_FULL, IDS_NOT_ATTACHED},
    0,
    kMaxPinLength};

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
