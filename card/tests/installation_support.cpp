#include "installation_support.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/pem.h>
#include <openssl/sha.h>

#include <algorithm>
#include <array>

#include "card/card_scope_guards.h"
#include "card/container_name.h"
#include "keyprep/certificate_checks.h"
#include "keyprep/key_export.h"
#include "orvel_test/certificate_files.h"
#include "platform/handle_guards.h"
#include "platform/provider_registry.h"
#include "test_pki.h"

namespace card_test {

Bytes KeyPart(const EVP_PKEY* key, const char* name, std::size_t size) {
  BIGNUM* value = nullptr;
  Bytes out(size);
  if (EVP_PKEY_get_bn_param(key, name, &value) != 1 ||
      BN_bn2binpad(value, out.data(), static_cast<int>(size)) != static_cast<int>(size)) {
    ADD_FAILURE() << "no " << name;
  }
  BN_free(value);
  return out;
}

KeyMaterial::KeyMaterial(EVP_PKEY* rsaKey, int keyUsage) : key(rsaKey) {
  BIO* bio = BIO_new(BIO_s_mem());
  EXPECT_GT(i2b_PrivateKey_bio(bio, key), 0);
  BUF_MEM* written = nullptr;
  BIO_get_mem_ptr(bio, &written);
  EXPECT_EQ(written->length, PrivateKeyBlob::kSize);
  std::copy_n(reinterpret_cast<const BYTE*>(written->data),
              std::min(written->length, PrivateKeyBlob::kSize), blob.Data());
  BIO_free(bio);

  const Bytes modulus = KeyPart(key, OSSL_PKEY_PARAM_RSA_N, 128);
  SHA1(modulus.data(), modulus.size(), identifier.data());

  testpki::CertSpec spec(key);
  spec.keyUsage = keyUsage;
  certificate = testpki::Der(testpki::MakeCert(spec).get());
}

void RecordingUi::ShowMessage(UINT textId) {
  events.push_back("message " + std::to_string(textId));
  messages.push_back(textId);
  if (commandCount) commandsAtMessage.push_back(commandCount());
}

std::optional<CPinText> RecordingUi::PromptForPin() {
  events.push_back("pin");
  if (!pin) return std::nullopt;
  return CPinText(*pin);
}

cardsim::StoredKey CardKeyOf(const EVP_PKEY* key) {
  cardsim::StoredKey stored;
  stored.modulus = KeyPart(key, OSSL_PKEY_PARAM_RSA_N, kModulusBytes);
  stored.exponent = KeyPart(key, OSSL_PKEY_PARAM_RSA_E, 3);
  std::reverse(stored.exponent.begin(), stored.exponent.end());
  stored.prime1 = KeyPart(key, OSSL_PKEY_PARAM_RSA_FACTOR1, kPrimeBytes);
  stored.prime2 = KeyPart(key, OSSL_PKEY_PARAM_RSA_FACTOR2, kPrimeBytes);
  stored.coefficient = KeyPart(key, OSSL_PKEY_PARAM_RSA_COEFFICIENT1, kPrimeBytes);
  stored.exponent1 = KeyPart(key, OSSL_PKEY_PARAM_RSA_EXPONENT1, kPrimeBytes);
  stored.exponent2 = KeyPart(key, OSSL_PKEY_PARAM_RSA_EXPONENT2, kPrimeBytes);
  return stored;
}

void PlaceKeyPart(cardsim::VirtualCard& card, std::uint8_t reference) {
  const Bytes commands[] = {
      {0x00, 0xA4, 0x04, 0x0C, 0x0B, 'M', 'a', 's', 't', 'e', 'r', '.', 'F', 'i', 'l', 'e'},
      {0x00, 0xA4, 0x04, 0x0C, 0x0A, 'I', 'C', 'C', '.', 'C', 'r', 'y', 'p', 't', 'o'},
      {0x00, 0x20, 0x00, 0x00, 0x04, '1', '2', '3', '4'},
      {0x90, 0x50, 0x80, reference, 0x05, 0x12, 0x03, 0x01, 0x00, 0x01}};
  for (const Bytes& command : commands) EXPECT_EQ(card.Transmit(command), (Bytes{0x90, 0x00}));
  card.Reset();
}

void ShortenChipInfo(cardsim::VirtualCard& card, std::size_t dataBytes) {
  card.SetAnswerFilter([dataBytes](std::span<const std::uint8_t> command, Bytes& answer) {
    if (command.size() >= 2 && command[0] == 0x90 && command[1] == 0xB8 && answer.size() == 20) {
      answer.erase(answer.begin() + static_cast<std::ptrdiff_t>(dataBytes), answer.end() - 2);
    }
  });
}

namespace {

Bytes RecordIdentifier(const cardsim::VirtualCard& card, std::uint16_t fid) {
  const auto file = card.ReadFile({0x5015, fid});
  if (!file || file->size() < 34) return {};
  return Bytes(file->begin() + 14, file->begin() + 34);
}

}  // namespace

void CheckInstallationRoundTrip(const cardsim::VirtualCard& card) {
  EVP_PKEY* key = testpki::Key(1024, 5);
  testpki::CertSpec spec(key);
  spec.keyUsage = 0xA0;  // digital signature and key encipherment: both roles
  spec.commonName = "Prueba de ida y vuelta";
  const testpki::X509Ptr x509 = testpki::MakeCert(spec);
  const Bytes der = testpki::Der(x509.get());
  const testpki::ImportedCertificate imported(testpki::MakePfx(testpki::PfxSpec(key, x509.get())),
                                              CRYPT_EXPORTABLE);
  PCCERT_CONTEXT certificate = imported.Get();
  ASSERT_NE(certificate, nullptr);
  ASSERT_EQ(imported.Der(), der);

  PrivateKeyBlob blob;
  ASSERT_TRUE(ExportPrivateKeyBlob(certificate, &blob));
  KeyRoleWord role = 0;
  ASSERT_TRUE(ClassifyKeyUsage(certificate, &role));
  ASSERT_EQ(role, 0x6400);
  KeyIdentifier identifier{};
  ASSERT_TRUE(ComputeKeyIdentifier(blob.Modulus(), blob.BitLength() / 8, &identifier));

  RecordingUi ui;
  ASSERT_TRUE(KeyInstallation(blob, identifier, role,
                              {certificate->pbCertEncoded, certificate->cbCertEncoded},
                              kWizardInstallation, ui))
      << "messages: " << ui.events.size();
  EXPECT_EQ(ui.events, (std::vector<std::string>{"pin", "begin", "end"}));

  // Read back as the store provider does.
  std::vector<int> results;
  const auto entries = orvel_test::ReadCardCertificates(&results);
  ASSERT_EQ(results, (std::vector<int>{1, 0}));
  EXPECT_EQ(entries[0].certificate, der);
  const auto serial = card.Serial();
  EXPECT_EQ(entries[0].containerName,
            FormatContainerName({serial[0], serial[1], serial[2], serial[3], serial[4], serial[5]},
                                0x6400, 0x20));
  EXPECT_EQ(entries[0].usage, 0x6400);

  // The card holds exactly the PFX's key, in both roles.
  const Bytes modulus = KeyPart(key, OSSL_PKEY_PARAM_RSA_N, 128);
  for (auto keyRole : {cardsim::KeyRole::Exchange, cardsim::KeyRole::Signature}) {
    const auto stored = card.Key(0x20, keyRole);
    ASSERT_TRUE(stored);
    EXPECT_TRUE(stored->Consistent());
    EXPECT_EQ(stored->modulus, modulus);
    EXPECT_EQ(stored->exponent, (Bytes{0x01, 0x00, 0x01}));
    EXPECT_EQ(stored->prime1, KeyPart(key, OSSL_PKEY_PARAM_RSA_FACTOR1, 64));
    EXPECT_EQ(stored->prime2, KeyPart(key, OSSL_PKEY_PARAM_RSA_FACTOR2, 64));
    EXPECT_EQ(stored->exponent1, KeyPart(key, OSSL_PKEY_PARAM_RSA_EXPONENT1, 64));
    EXPECT_EQ(stored->exponent2, KeyPart(key, OSSL_PKEY_PARAM_RSA_EXPONENT2, 64));
    EXPECT_EQ(stored->coefficient, KeyPart(key, OSSL_PKEY_PARAM_RSA_COEFFICIENT1, 64));
  }

  // Both key records carry the SHA-1 of the modulus.
  Bytes digest(20);
  SHA1(modulus.data(), modulus.size(), digest.data());
  EXPECT_EQ(Bytes(identifier.begin(), identifier.end()), digest);
  EXPECT_EQ(RecordIdentifier(card, 0x6001), digest);
  EXPECT_EQ(RecordIdentifier(card, 0x6002), digest);
}

}  // namespace card_test
