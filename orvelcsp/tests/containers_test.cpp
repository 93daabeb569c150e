// Provider contexts: hashing without a card, and key containers found on the
// card whose serial the name carries.
#include <dlfcn.h>

#include "fake_reader_test.h"

namespace orvelcsp_test {
namespace {

class Containers : public FakeReaderTest {};

std::string Param(HCRYPTPROV provider, DWORD param) {
  DWORD size = 0;
  if (!CryptGetProvParam(provider, param, nullptr, &size, 0)) return "<error>";
  std::string text(size, '\0');
  if (!CryptGetProvParam(provider, param, reinterpret_cast<BYTE*>(text.data()), &size, 0)) {
    return "<error>";
  }
  EXPECT_EQ(text.back(), '\0');
  return text.c_str();
}

TEST_F(Containers, VerificationContextHashesSha1WithoutAnyCard) {
  // No reader at all: nothing goes to a card.
  HCRYPTPROV provider = 0;
  ASSERT_TRUE(
      CryptAcquireContextA(&provider, nullptr, "OrvelCSP", PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  EXPECT_EQ(Param(provider, PP_NAME), "OrvelCSP");

  HCRYPTHASH hash = 0;
  ASSERT_TRUE(CryptCreateHash(provider, CALG_SHA1, 0, 0, &hash));
  const Bytes data = {'a', 'b', 'c'};
  ASSERT_TRUE(CryptHashData(hash, data.data(), 2, 0));
  ASSERT_TRUE(CryptHashData(hash, data.data() + 2, 1, 0));
  DWORD size = 0;
  ASSERT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, nullptr, &size, 0));
  EXPECT_EQ(size, 20u);
  Bytes digest(20);
  ASSERT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, digest.data(), &size, 0));
  EXPECT_EQ(Hex(digest), "A9993E364706816ABA3E25717850C26C9CD0D89D");
  // Once read, the value is final.
  SetLastError(0);
  EXPECT_FALSE(CryptHashData(hash, data.data(), 1, 0));
  EXPECT_EQ(GetLastError(), NTE_BAD_HASH_STATE);
  EXPECT_TRUE(CryptDestroyHash(hash));

  // SHA-1, SHA-256, MD5 and SSL3 SHA-MD5 only: SHA-384 (800D) and a key algorithm are refused.
  for (ALG_ID refused : {ALG_ID{0x0000800DU}, ALG_ID{CALG_RSA_SIGN}}) {
    SetLastError(0);
    EXPECT_FALSE(CryptCreateHash(provider, refused, 0, 0, &hash)) << refused;
    EXPECT_EQ(GetLastError(), NTE_BAD_ALGID) << refused;
  }
  // No container, no key.
  HCRYPTKEY key = 0;
  EXPECT_FALSE(CryptGetUserKey(provider, AT_SIGNATURE, &key));
  EXPECT_FALSE(CryptSetProvParam(provider, PP_ADMIN_PIN, reinterpret_cast<const BYTE*>(kPin), 0));
  EXPECT_TRUE(CryptReleaseContext(provider, 0));
  EXPECT_EQ(fakepcsc::TransmitCount(), 0u);
}

TEST_F(Containers, ContainerIsFoundOnTheCardWithItsSerial) {
  auto other = MakeCard({0x01, 0x23, 0x45, 0x67, 0x89, 0xAC});
  auto card = MakeCard(kSerial);
  WriteKeyRecords(*card, {{.reference = 0x20, .roleWord = 0x2000}});
  WriteKeyRecords(*other, {{.reference = 0x20, .roleWord = 0x2000}});
  fakepcsc::AddReader("Lector vacío");
  AddReaderWithCard("Lector 1", other);
  AddReaderWithCard("Lector 2", card);

  // Attached under its role word, read back under the record's usage: the
  // same key either way.
  for (std::uint16_t usage : {0x2000, 0x6400}) {
    const std::string name = ContainerName(kSerial, usage, 0x20);
    HCRYPTPROV provider = 0;
    ASSERT_TRUE(CryptAcquireContextA(&provider, name.c_str(), "OrvelCSP", PROV_RSA_FULL, 0))
        << name << " " << std::hex << GetLastError();
    EXPECT_EQ(Param(provider, PP_CONTAINER), name);
    EXPECT_EQ(Param(provider, PP_UNIQUE_CONTAINER), name);
    HCRYPTKEY key = 0;
    EXPECT_TRUE(CryptGetUserKey(provider, AT_SIGNATURE, &key));
    EXPECT_TRUE(CryptDestroyKey(key));
    EXPECT_TRUE(CryptReleaseContext(provider, 0));
  }

  // Each card was asked for its chip information.
  std::size_t chipInfoQueries = 0;
  for (const auto& entry : fakepcsc::Trace()) {
    if (entry.command == Bytes{0x90, 0xB8, 0x00, 0x00, 0x12}) ++chipInfoQueries;
  }
  EXPECT_EQ(chipInfoQueries, 4u);
  // Lower-case digits name the same container.
  HCRYPTPROV provider = 0;
  EXPECT_TRUE(CryptAcquireContextA(&provider, "0123456789ab200020\\3F11\\3F77\\", "OrvelCSP",
                                   PROV_RSA_FULL, 0));
  EXPECT_TRUE(CryptReleaseContext(provider, 0));
}

TEST_F(Containers, ContainerIsNotFoundWithoutThatCardOrThatKey) {
  const std::string name = ContainerName(kSerial, 0x6400, 0x20);
  HCRYPTPROV provider = 0;
  // No reader.
  SetLastError(0);
  EXPECT_FALSE(CryptAcquireContextA(&provider, name.c_str(), "OrvelCSP", PROV_RSA_FULL, 0));
  EXPECT_EQ(GetLastError(), NTE_BAD_KEYSET);

  // A card with another serial holding the same key reference.
  auto other = MakeCard({0x01, 0x23, 0x45, 0x67, 0x89, 0xAC});
  WriteKeyRecords(*other, {{.reference = 0x20}});
  AddReaderWithCard("Lector 1", other);
  SetLastError(0);
  EXPECT_FALSE(CryptAcquireContextA(&provider, name.c_str(), "OrvelCSP", PROV_RSA_FULL, 0));
  EXPECT_EQ(GetLastError(), NTE_BAD_KEYSET);
  EXPECT_EQ(provider, 0u);

  // The right card, without a key under that reference.
  auto card = MakeCard(kSerial);
  WriteKeyRecords(*card, {{.reference = 0x21}});
  AddReaderWithCard("Lector 2", card);
  SetLastError(0);
  EXPECT_FALSE(CryptAcquireContextA(&provider, name.c_str(), "OrvelCSP", PROV_RSA_FULL, 0));
  EXPECT_EQ(GetLastError(), NTE_BAD_KEYSET);
  EXPECT_TRUE(CryptAcquireContextA(&provider, ContainerName(kSerial, 0x6400, 0x21).c_str(),
                                   "OrvelCSP", PROV_RSA_FULL, 0));
  EXPECT_TRUE(CryptReleaseContext(provider, 0));
}

TEST_F(Containers, MalformedNamesAndUnsupportedFlagsAreRefused) {
  auto card = MakeCard(kSerial);
  WriteKeyRecords(*card, {{.reference = 0x20}});
  AddReaderWithCard("Lector", card);
  HCRYPTPROV provider = 0;
  for (const char* name : {"", "0123456789AB640020", "0123456789AB6400G0\\3F11\\3F77\\",
                           "0123456789AB640020/3F11/3F77/", "123456789AB640020\\3F11\\3F77\\"}) {
    SetLastError(0);
    EXPECT_FALSE(CryptAcquireContextA(&provider, name, "OrvelCSP", PROV_RSA_FULL, 0)) << name;
    EXPECT_EQ(GetLastError(), NTE_BAD_KEYSET) << name;
  }
  const std::string name = ContainerName(kSerial, 0x6400, 0x20);
  for (DWORD flags : {CRYPT_NEWKEYSET, CRYPT_DELETEKEYSET}) {
    SetLastError(0);
    EXPECT_FALSE(CryptAcquireContextA(&provider, name.c_str(), "OrvelCSP", PROV_RSA_FULL, flags));
    EXPECT_EQ(GetLastError(), NTE_BAD_FLAGS);
  }
  // The card still holds its key records.
  EXPECT_TRUE(CryptAcquireContextA(&provider, name.c_str(), "OrvelCSP", PROV_RSA_FULL, 0));
  EXPECT_TRUE(CryptReleaseContext(provider, 0));
}

TEST(ModuleBinding, OnlyTheEntryPointIsExported) {
  void* module = dlopen((testpki::ProgramDir() / "liborvelcsp.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr) << dlerror();
  EXPECT_NE(dlsym(module, "OrvelGetProviderFunctions"), nullptr);
  // Its PC/SC forwarders stay private: the process's own functions are the
  // ones that other code finds.
  EXPECT_EQ(dlsym(module, "SCardTransmit"), nullptr);
  EXPECT_EQ(dlsym(module, "g_rgSCardT0Pci"), nullptr);
  EXPECT_EQ(dlsym(RTLD_DEFAULT, "SCardTransmit"), reinterpret_cast<void*>(&SCardTransmit));
  dlclose(module);
}

}  // namespace
}  // namespace orvelcsp_test
