// Installing a key pair on the card and binding its certificate to it: the
// one installation sequence that both deliverables run. What differs between
// them is a parameter: the string-table entries of their messages and how a
// PIN is judged (KeyInstallationProfile), and how a message is shown, the PIN
// asked for and the wait cursor shown (CKeyInstallationUi).
#pragma once

#include <cstddef>
#include <optional>
#include <span>

#include "card/crypto_card.h"
#include "card/pin_text.h"
#include "keyprep/key_identifier.h"
#include "keyprep/key_roles.h"
#include "keyprep/private_key_blob.h"

// String-table entries of the calling deliverable, one per failure.
struct KeyInstallationMessages {
  UINT noContextNT;     // no resource-manager context, NT platform family
  UINT noContextOther;  // no resource-manager context, other systems
  UINT noCard;          // no card found, or no connection to it
  UINT invalidPin;      // PIN prompt cancelled, PIN refused by its rule or by the card
  UINT keysNotWritten;  // the key could not be written or registered (it was erased)
  UINT cardError;       // serial number or key references could not be read
  UINT cardFull;        // no free key reference from 32 to 255, or no room for its records
  UINT notAttached;     // the card's provider did not take the certificate
};

// What one deliverable's installation shows and accepts; each defines its own.
struct KeyInstallationProfile {
  KeyInstallationMessages messages;
  // PINs outside these lengths (in characters) are refused before the card
  // sees them.
  std::size_t minPinLength;
  std::size_t maxPinLength;
};

// The longest PIN one VERIFY carries.
inline constexpr std::size_t kMaxVerifyPinLength = CCryptoCard::kMaxCommandData;

// The user-interface operations an installation needs from its caller.
class CKeyInstallationUi {
 public:
  virtual ~CKeyInstallationUi() = default;
  // Shows string-table entry textId the way the caller shows a failure.
  virtual void ShowMessage(UINT textId) = 0;
  // Asks for the card PIN: the PIN as typed, or nullopt when the user
  // cancelled.
  virtual std::optional<CPinText> PromptForPin() = 0;
  // Bracket the card work from the first PIN verification to the end of
  // the key writing; every Begin is followed by exactly one End.
  virtual void BeginWaitCursor() {}
  virtual void EndWaitCursor() {}
};

// Connects to the card, asks for the PIN, verifies it, writes the key of
// keyBlob under the first free key reference from 32 in the roles of
// roleWord, registers it in the key directories under keyIdentifier, and has
// the card's provider bind the encoded certificate to it. Every failure shows
// its message through ui before false is returned; the card is powered down
// and the resource-manager context released on every way out, and the PIN
// wiped.
bool KeyInstallation(const PrivateKeyBlob& keyBlob, const KeyIdentifier& keyIdentifier,
                     KeyRoleWord roleWord, std::span<const BYTE> certificate,
                     const KeyInstallationProfile& profile, CKeyInstallationUi& ui);
