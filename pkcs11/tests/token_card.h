// Virtual cards holding keys and their certificates as an import leaves them
// (key records in the PrKDF and PuKDF, certificate records in the CDF,
// certificate files in ICC.Crypto, the keys themselves under their
// references), and the module loaded into the test program.
#pragma once

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <p11-kit/pkcs11.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cardsim/virtual_card.h"
#include "common/non_copyable.h"
#include "orvel_test/program_run.h"
#include "platform_test/scoped_user_dir.h"

namespace p11_test {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::array<std::uint8_t, 6> kSerial = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB};
inline constexpr char kSerialText[] = "0123456789AB";
inline constexpr char kPin[] = "1234";

struct KeySpec {
  std::uint8_t reference = 0x20;
  std::uint16_t roleWord = 0x6400;  // as the public-key record carries it
  int which = 0;                    // which test key (one per number)
};

// What the test knows of a key it put on a card.
struct KeyOnCard {
  KeySpec spec;
  Bytes id;  // SHA-1 of the modulus
  Bytes modulus;
  Bytes certificate;  // DER
  std::string commonName;
};

struct TokenCard {
  std::shared_ptr<cardsim::VirtualCard> card;
  std::vector<KeyOnCard> keys;
};

// A card with the keys; pinTriesLeft as the image records it.
TokenCard MakeTokenCard(const std::vector<KeySpec>& keys, int pinTriesLeft = 3,
                        const std::array<std::uint8_t, 6>& serial = kSerial);
// n keys in both roles under references 20, 21, ...
std::vector<KeySpec> KeysInBothRoles(int n);

// OpenSSL's PKCS#1 v1.5 signature with test key `which`: over the hash of
// data in a DigestInfo, or over data itself when digest is null.
Bytes OpensslSignature(int which, const EVP_MD* digest, const Bytes& data);
// A PKCS#1 v1.5 cryptogram of plain made by OpenSSL for test key `which`.
Bytes OpensslCryptogram(int which, const Bytes& plain);

// The module, loaded from the build directory, and its function list.
class Module : private NonCopyable {
 public:
  Module();
  ~Module();
  CK_FUNCTION_LIST* operator->() const { return m_functions; }
  CK_FUNCTION_LIST* Functions() const { return m_functions; }
  static std::string Path();

 private:
  void* m_handle = nullptr;
  CK_FUNCTION_LIST* m_functions = nullptr;
};

// The module initialised over the fake resource manager, in a private user
// directory whose card database knows the card by the virtual card's ATR.
class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A reader holding that card.
  static void AddReader(const std::string& name, std::shared_ptr<cardsim::VirtualCard> card);
  // The slots with a token.
  std::vector<CK_SLOT_ID> TokenSlots();
  CK_SESSION_HANDLE OpenSession(CK_SLOT_ID slot);
  CK_RV Login(CK_SESSION_HANDLE session, const std::string& pin = kPin);
  // Handles of the objects matching the template (all with none).
  std::vector<CK_OBJECT_HANDLE> Find(CK_SESSION_HANDLE session,
                                     std::vector<CK_ATTRIBUTE> pattern = {});
  // One attribute's value; nullopt when the module does not give it.
  std::optional<Bytes> Attribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                                 CK_ATTRIBUTE_TYPE type);
  // Every object of the class, with its value of the attribute.
  CK_OBJECT_HANDLE FindOne(CK_SESSION_HANDLE session, CK_OBJECT_CLASS objectClass, const Bytes& id);
  // Commands the cards were sent since the last call.
  static std::vector<Bytes> TakeCommands();

  platform_test::ScopedUserDir m_userDir;
  Module m_module;
};

// A card in reader "Lector Orvel" with a signature key (20), an exchange key
// (21) and a key in both roles (22), and a session on its token's slot.
class ThreeKeyCardTest : public ModuleTest {
 protected:
  void SetUp() override;

  TokenCard m_token;
  CK_SLOT_ID m_slot = 0;
  CK_SESSION_HANDLE m_session = 0;
};

// A program run through the shell: its exit status and what it printed
// (output and errors together).
using Outcome = orvel_test::ProgramRun;
Outcome Shell(const std::string& command);
void WriteFile(const std::filesystem::path& path, const Bytes& bytes);

CK_ATTRIBUTE Attr(CK_ATTRIBUTE_TYPE type, void* value, CK_ULONG length);
Bytes ToBytes(CK_ULONG value);
Bytes Hex(const std::string& text);

}  // namespace p11_test
