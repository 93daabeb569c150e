// What the wizard's tests share: a private user directory with the card's
// provider and card type registered, a fake resource manager with one
// reader holding a fresh virtual card, PFX files made on the spot, and
// user-interface operations answered from a script.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cardsim/virtual_card.h"
#include "orvel_test/import_card.h"
#include "test_pki.h"
#include "wizard/import_ui.h"

namespace wizard_test {

using Bytes = std::vector<std::uint8_t>;

inline constexpr const auto& kReader = orvel_test::kImportReader;
inline constexpr const auto& kCardPin = orvel_test::kImportPin;
inline constexpr char kPassword[] = "secreto";

// A message as the driver asked for it.
struct Shown {
  UINT icon;
  UINT caption;
  UINT text;
  bool operator==(const Shown&) const = default;
};
void PrintTo(const Shown& shown, std::ostream* out);

class ScriptedUi : public CImportUi {
 public:
  void ShowPageMessage(UINT icon, UINT captionId, UINT textId) override;
  void BeginWaitCursor() override;
  void EndWaitCursor() override;
  std::optional<CPinText> PromptForPin() override;

  // Answers of the PIN prompts in order: a PIN, or nothing for Cancel.
  // Without an answer left the prompt is cancelled.
  std::deque<std::optional<std::string>> pins;
  // Runs at every prompt, before it is answered.
  std::function<void()> onPrompt;

  std::vector<Shown> messages;
  // Commands the card had received when each message was shown.
  std::vector<std::size_t> commandsBeforeMessage;
  int prompts = 0;
  int waitBegins = 0;
  int waitEnds = 0;
  int waitDepth = 0;
  int maxWaitDepth = 0;
};

// Error box of the driver with text id.
Shown Error(UINT text);

class WizardTest : public testpki::UserDirTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A PFX with one key and its certificate (and a chain), or with
  // certificates only when key is null.
  static Bytes Pfx(EVP_PKEY* key, X509* certificate, std::vector<X509*> chain = {},
                   const char* password = kPassword);
  // A certificate for key, signed with SHA-1 unless digest says otherwise.
  static testpki::X509Ptr Certificate(EVP_PKEY* key, std::optional<int> keyUsage = 0xA0,
                                      const EVP_MD* digest = nullptr, long serial = 1);

  // A PFX with several keys, each with its certificate, in this order.
  static Bytes PfxWithKeys(const std::vector<std::pair<EVP_PKEY*, X509*>>& pairs,
                           const char* password = kPassword);
  // The key's modulus, big-endian, as the card stores it.
  static Bytes Modulus(EVP_PKEY* key);

  // Number of software key containers of the user.
  static std::size_t SoftwareContainers() { return orvel_test::SoftwareKeyContainers(); }

  std::shared_ptr<cardsim::VirtualCard> m_card;
};

}  // namespace wizard_test
