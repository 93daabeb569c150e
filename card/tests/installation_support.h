// Material for installation tests: a 1024-bit RSA key as the platform
// exports it with its identifier and a certificate, the parts OpenSSL sees in
// it, and a user interface that answers the PIN prompt and records what the
// installation showed.
#pragma once

#include <openssl/evp.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "card/key_installation.h"
#include "cardsim/virtual_card.h"

namespace card_test {

using Bytes = std::vector<std::uint8_t>;

// The deliverables' installation profiles, in the numbers of their string
// tables: the store provider's (a PIN of up to 20 characters, an empty one
// sent) and the wizard's (an empty PIN refused, up to what one VERIFY
// carries).
inline constexpr KeyInstallationProfile kStoreProviderInstallation = {
    {4, 5, 2, 11, 12, 13, 14, 15}, 0, 20};
inline constexpr KeyInstallationProfile kWizardInstallation = {
    {24, 25, 23, 31, 32, 33, 34, 35}, 1, kMaxVerifyPinLength};

// The key's RSA parameter (OSSL_PKEY_PARAM_RSA_*) big-endian in size bytes.
Bytes KeyPart(const EVP_PKEY* key, const char* name, std::size_t size);

// keyBlob: the PRIVATEKEYBLOB OpenSSL writes for key; identifier: SHA-1 of
// the big-endian modulus; certificate: a self-signed one with that key usage.
struct KeyMaterial {
  explicit KeyMaterial(EVP_PKEY* key, int keyUsage = 0xA0);
  EVP_PKEY* key;
  PrivateKeyBlob blob;
  KeyIdentifier identifier{};
  Bytes certificate;
};

// What an installation showed, in order: "pin", "begin", "end",
// "message <id>".
class RecordingUi : public CKeyInstallationUi {
 public:
  void ShowMessage(UINT textId) override;
  std::optional<CPinText> PromptForPin() override;
  void BeginWaitCursor() override { events.push_back("begin"); }
  void EndWaitCursor() override { events.push_back("end"); }

  // The answer to the PIN prompt; nullopt cancels.
  std::optional<std::string> pin = "1234";
  std::vector<std::string> events;
  std::vector<UINT> messages;
  // When given: how many commands the card had seen, noted at each message.
  std::function<std::size_t()> commandCount;
  std::vector<std::size_t> commandsAtMessage;
};

// The key as the key commands carry it to the card (every part big-endian).
cardsim::StoredKey CardKeyOf(const EVP_PKEY* key);

// A key part already on the card under reference, written as another
// program would (the exponent of a signature-role key); the card is reset
// afterwards. The installation must leave it as it is.
void PlaceKeyPart(cardsim::VirtualCard& card, std::uint8_t reference);
// A worn card: GET CHIP INFO answers dataBytes bytes of the chip
// information, then 90 00.
void ShortenChipInfo(cardsim::VirtualCard& card, std::size_t dataBytes);

// The whole road on the card in the one reader that holds one: a PFX made
// here is imported, its key exported and identified, KeyInstallation writes
// it (PIN 1234) and ReadCertificateEntry reads the certificate back. Checks
// the certificate, the container name and usage word, the key the card
// holds against OpenSSL's, and the identifier in both key records.
void CheckInstallationRoundTrip(const cardsim::VirtualCard& card);

}  // namespace card_test
