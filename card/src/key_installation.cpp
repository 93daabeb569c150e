// The installation sequence: context, card, PIN, a free key reference, the
// key block (key commands and directory records, undone on failure), the
// container name and the certificate handed to the card's provider.
#include "card/key_installation.h"
#include "common/non_copyable.h"

#include <string>

#include "card/card_scope_guards.h"
#include "card/container_name.h"
#include "common/windows_version.h"
#include "keyprep/card_provider.h"

namespace {

// Ends the caller's wait cursor exactly once: at End() or when the scope
// is left, whichever comes first.
class CWaitCursorScope : private NonCopyable {
 public:
  explicit CWaitCursorScope(CKeyInstallationUi& ui) : m_ui(ui) { m_ui.BeginWaitCursor(); }
  virtual ~CWaitCursorScope() { End(); }

  void End() {
    if (m_active) m_ui.EndWaitCursor();
    m_active = false;
  }

 private:
  CKeyInstallationUi& m_ui;
  bool m_active = true;
};

std::optional<BYTE> FirstFreeKeyReference(const KeyReferenceMap& map) {
  for (unsigned r = kFirstInstallableKeyReference; r < map.size(); ++r) {
    if (map[r] == 0) return static_cast<BYTE>(r);
  }
  return std::nullopt;
}

// The public part, then the private part, in one role.
bool WriteKeyInRole(CCryptoCard& card, bool signatureRole, BYTE keyReference,
                    const PrivateKeyBlob& blob) {
  using Modulus = std::span<const BYTE, kModulusBytes>;
  using Part = std::span<const BYTE, kPrimeBytes>;
  static_assert(PrivateKeyBlob::kModulusSize == kModulusBytes);
  static_assert(PrivateKeyBlob::kPrimeSize == kPrimeBytes);
  static_assert(kKeyIdentifierSize == kKeyIdentifierBytes);
  return card.WritePublicKey(signatureRole, keyReference, Modulus(blob.Modulus(), kModulusBytes),
                             blob.PublicExponent()) &&
         card.WritePrivateKey(
             signatureRole, keyReference, Part(blob.Prime1(), kPrimeBytes),
             Part(blob.Prime2(), kPrimeBytes), Part(blob.Coefficient(), kPrimeBytes),
             Part(blob.Exponent1(), kPrimeBytes), Part(blob.Exponent2(), kPrimeBytes));
}

// A card reset while the key block ran (another program shares it) answers
// every further command of this connection with SCARD_W_RESET_CARD, and has
// forgotten the verified PIN: without a renewed connection and a new
// verification, the erase that undoes the block would never reach the card
// and the half-written key would stay. True when the connection was renewed
// and the PIN verified again.
bool RenewAfterReset(CCryptoCard& card, const char* pin) {
  DWORD protocol = 0;
  if (SCardReconnect(card.CardHandle(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0, SCARD_LEAVE_CARD,
                     &protocol) != SCARD_S_SUCCESS) {
    return false;
  }
  return card.VerifyPin(pin) == SCARD_S_SUCCESS;
}

}  // namespace

bool KeyInstallation(const PrivateKeyBlob& keyBlob, const KeyIdentifier& keyIdentifier,
                     KeyRoleWord roleWord, std::span<const BYTE> certificate,
                     const KeyInstallationProfile& profile, CKeyInstallationUi& ui) {
  const KeyInstallationMessages& messages = profile.messages;

  CCardContextGuard context;
  if (!context.Establish()) {
    ui.ShowMessage(IsWindowsNT() ? messages.noContextNT : messages.noContextOther);
    return false;
  }
  CCardHandleGuard connection(SCARD_UNPOWER_CARD);
  if (!connection.Connect(context.Context(), kCardName)) {
    ui.ShowMessage(messages.noCard);
    return false;
  }

  const std::optional<CPinText> pin = ui.PromptForPin();
  if (!pin || pin->size() < profile.minPinLength || pin->size() > profile.maxPinLength) {
    ui.ShowMessage(messages.invalidPin);
    return false;
  }

  CWaitCursorScope waitCursor(ui);
  CCryptoCard card(connection.Card());
  if (card.VerifyPin(pin->c_str()) != SCARD_S_SUCCESS) {
    ui.ShowMessage(messages.invalidPin);
    return false;
  }
  CardSerial serial{};
  // A refused GET CHIP INFO leaves no serial to name the container with.
  if (card.GetSerialNumber(&serial) != SCARD_S_SUCCESS || !card.StepSucceeded()) {
    ui.ShowMessage(messages.cardError);
    return false;
  }
  // A reference reads as free only when every directory was read to its
  // end: one a directory left unread marks as taken would have its key
  // written over.
  KeyReferenceMap map{};
  CCryptoCard::KeyScanOutcome scan;
  if (card.ScanKeyReferences(&map, &scan) == 0 || !scan.readToEnd) {
    ui.ShowMessage(messages.cardError);
    return false;
  }
  // Without room for the key's records the key could not be registered.
  const std::optional<BYTE> keyReference =
      scan.keyRecordsFit ? FirstFreeKeyReference(map) : std::nullopt;
  if (!keyReference) {
    ui.ShowMessage(messages.cardFull);
    return false;
  }

  // The key block: whatever fails in it, the key reference is erased.
  const bool keyWritten = [&] {
    if (card.VerifyPin(pin->c_str()) != SCARD_S_SUCCESS) {
      ui.ShowMessage(messages.invalidPin);
      return false;
    }
    const bool exchange = (roleWord & kKeyRoleExchangeBit) != 0;
    const bool signature = (roleWord & kKeyRoleSignatureBit) != 0;
    if (!exchange && !signature) return false;
    if (exchange && !WriteKeyInRole(card, false, *keyReference, keyBlob)) return false;
    if (signature && !WriteKeyInRole(card, true, *keyReference, keyBlob)) return false;
    // A key whose records are missing would read as free and be written
    // over by the next installation.
    return card.AddKeyDirectoryEntries(*keyReference, keyIdentifier, roleWord);
  }();
  if (!keyWritten) {
    if (card.LastResult() != SCARD_W_RESET_CARD) {
      card.EraseKey(*keyReference);
    } else if (RenewAfterReset(card, pin->c_str())) {
      // The records the block may have left could not be taken back either.
      card.EraseKey(*keyReference);
      card.TakeBackKeyRecords(*keyReference);
    }
    ui.ShowMessage(messages.keysNotWritten);
    return false;
  }
  waitCursor.End();

  const std::string containerName = FormatContainerName(serial, roleWord, *keyReference);
  if (!AttachCertificateToKey(kCardProviderName, containerName.c_str(), certificate.data(),
                              static_cast<DWORD>(certificate.size()), pin->c_str())) {
    ui.ShowMessage(messages.notAttached);
    return false;
  }
  return true;
}
