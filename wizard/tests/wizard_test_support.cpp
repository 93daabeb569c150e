#include "wizard_test_support.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <ostream>

#include "cardsim/fake_pcsc.h"
#include "common/module_instance.h"
#include "orvel_test/registration.h"
#include "platform/card_database.h"
#include "platform/message_box.h"
#include "platform/module_handle.h"
#include "platform/provider_registry.h"

namespace wizard_test {

void PrintTo(const Shown& shown, std::ostream* out) {
  *out << "{icon " << shown.icon << ", caption " << shown.caption << ", text " << shown.text << "}";
}

Shown Error(UINT text) { return {MB_ICONHAND, 7, text}; }

void ScriptedUi::ShowPageMessage(UINT icon, UINT captionId, UINT textId) {
  messages.push_back({icon, captionId, textId});
  commandsBeforeMessage.push_back(fakepcsc::TransmitCount());
}

void ScriptedUi::BeginWaitCursor() {
  ++waitBegins;
  maxWaitDepth = std::max(maxWaitDepth, ++waitDepth);
}

void ScriptedUi::EndWaitCursor() {
  ++waitEnds;
  --waitDepth;
}

std::optional<CPinText> ScriptedUi::PromptForPin() {
  ++prompts;
  if (onPrompt) onPrompt();
  if (pins.empty()) return std::nullopt;
  std::optional<std::string> answer = std::move(pins.front());
  pins.pop_front();
  if (!answer) return std::nullopt;
  return CPinText(*answer);
}

void WizardTest::SetUp() {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  UserDirTest::SetUp();
  ModuleInstance = platform::ProgramModule();
  ASSERT_TRUE(orvel_test::RegisterCardProvider());
  ASSERT_TRUE(orvel_test::RegisterCardType());
  m_card = orvel_test::InsertImportCard();
}

void WizardTest::TearDown() {
  fakepcsc::Reset();
  UserDirTest::TearDown();
}

Bytes WizardTest::Pfx(EVP_PKEY* key, X509* certificate, std::vector<X509*> chain,
                      const char* password) {
  testpki::PfxSpec spec(key, certificate, std::move(chain));
  spec.password = password;
  return testpki::MakePfx(spec);
}

testpki::X509Ptr WizardTest::Certificate(EVP_PKEY* key, std::optional<int> keyUsage,
                                         const EVP_MD* digest, long serial) {
  testpki::CertSpec spec(key);
  spec.keyUsage = keyUsage;
  spec.digest = digest;
  spec.serial = serial;
  spec.commonName = "Titular " + std::to_string(serial);
  return testpki::MakeCert(spec);
}

Bytes WizardTest::PfxWithKeys(const std::vector<std::pair<EVP_PKEY*, X509*>>& pairs,
                              const char* password) {
  STACK_OF(PKCS12_SAFEBAG)* certificates = nullptr;
  STACK_OF(PKCS12_SAFEBAG)* keys = nullptr;
  unsigned char id = 0;
  for (const auto& [key, certificate] : pairs) {
    ++id;
    PKCS12_SAFEBAG* certificateBag = PKCS12_add_cert(&certificates, certificate);
    PKCS12_SAFEBAG* keyBag =
        PKCS12_add_key(&keys, key, 0, 2048, NID_pbe_WithSHA1And3_Key_TripleDES_CBC, password);
    EXPECT_TRUE(certificateBag != nullptr && keyBag != nullptr);
    if (certificateBag == nullptr || keyBag == nullptr) return {};
    PKCS12_add_localkeyid(certificateBag, &id, 1);
    PKCS12_add_localkeyid(keyBag, &id, 1);
  }
  STACK_OF(PKCS7)* safes = nullptr;
  PKCS12_add_safe(&safes, certificates, NID_pbe_WithSHA1And3_Key_TripleDES_CBC, 2048, password);
  PKCS12_add_safe(&safes, keys, -1, 0, nullptr);
  PKCS12* pfx = PKCS12_add_safes(safes, 0);
  sk_PKCS7_pop_free(safes, PKCS7_free);
  sk_PKCS12_SAFEBAG_pop_free(certificates, PKCS12_SAFEBAG_free);
  sk_PKCS12_SAFEBAG_pop_free(keys, PKCS12_SAFEBAG_free);
  EXPECT_NE(pfx, nullptr);
  if (pfx == nullptr) return {};
  EXPECT_EQ(PKCS12_set_mac(pfx, password, -1, nullptr, 0, 2048, nullptr), 1);
  Bytes out(static_cast<std::size_t>(i2d_PKCS12(pfx, nullptr)));
  unsigned char* cursor = out.data();
  i2d_PKCS12(pfx, &cursor);
  PKCS12_free(pfx);
  return out;
}

Bytes WizardTest::Modulus(EVP_PKEY* key) {
  BIGNUM* n = nullptr;
  EXPECT_EQ(EVP_PKEY_get_bn_param(key, "n", &n), 1);
  Bytes out(static_cast<std::size_t>(EVP_PKEY_get_size(key)));
  BN_bn2binpad(n, out.data(), static_cast<int>(out.size()));
  BN_free(n);
  return out;
}

}  // namespace wizard_test
