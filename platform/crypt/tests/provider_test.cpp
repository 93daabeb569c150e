// Providers: the built-in software provider's containers, parameters and
// hashes; the provider database and a loadable provider module; handle
// validation.
#include "platform/provider_registry.h"
#include "test_pki.h"

#include <openssl/sha.h>

#include <cstring>
#include <fstream>
#include <string>

using namespace testpki;

namespace {

std::string ProvParamText(HCRYPTPROV prov, DWORD param) {
  DWORD size = 0;
  if (!CryptGetProvParam(prov, param, nullptr, &size, 0)) return "<error>";
  std::string text(size, '\0');
  if (!CryptGetProvParam(prov, param, reinterpret_cast<BYTE*>(text.data()), &size, 0))
    return "<error>";
  text.resize(std::strlen(text.c_str()));
  return text;
}

class ProviderTest : public UserDirTest {};

}  // namespace

TEST_F(ProviderTest, VerifyContextHashesWithSha1) {
  HCRYPTPROV prov = 0;
  ASSERT_TRUE(CryptAcquireContextA(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  HCRYPTHASH hash = 0;
  ASSERT_TRUE(CryptCreateHash(prov, CALG_SHA1, 0, 0, &hash));
  const BYTE data[] = "abc";
  ASSERT_TRUE(CryptHashData(hash, data, 3, 0));
  DWORD size = 0;
  ASSERT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, nullptr, &size, 0));
  EXPECT_EQ(size, 20u);
  BYTE small[19];
  size = sizeof small;
  SetLastError(0);
  EXPECT_FALSE(CryptGetHashParam(hash, HP_HASHVAL, small, &size, 0));
  EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
  EXPECT_EQ(size, 20u);
  BYTE value[20];
  size = sizeof value;
  ASSERT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, value, &size, 0));
  BYTE expected[20];
  SHA1(data, 3, expected);
  EXPECT_EQ(0, std::memcmp(value, expected, 20));
  // The hash is finished once read.
  SetLastError(0);
  EXPECT_FALSE(CryptHashData(hash, data, 3, 0));
  EXPECT_EQ(GetLastError(), NTE_BAD_HASH_STATE);
  EXPECT_TRUE(CryptDestroyHash(hash));
  SetLastError(0);
  EXPECT_FALSE(CryptDestroyHash(hash));
  EXPECT_EQ(GetLastError(), NTE_BAD_HASH);
  // No key and no container without a container.
  HCRYPTKEY key = 0;
  SetLastError(0);
  EXPECT_FALSE(CryptGetUserKey(prov, AT_KEYEXCHANGE, &key));
  EXPECT_EQ(GetLastError(), NTE_NO_KEY);
  EXPECT_EQ(ProvParamText(prov, PP_NAME), platform::kSoftwareProviderName);
  SetLastError(0);
  EXPECT_FALSE(CryptCreateHash(prov, 0x1234, 0, 0, &hash));
  EXPECT_EQ(GetLastError(), NTE_BAD_ALGID);
  EXPECT_TRUE(CryptReleaseContext(prov, 0));
}

TEST_F(ProviderTest, ContainersAreCreatedOpenedAndDeleted) {
  const char* name = "con\\barras\\ y espacios";
  HCRYPTPROV prov = 0;
  SetLastError(0);
  EXPECT_FALSE(CryptAcquireContextA(&prov, name, nullptr, PROV_RSA_FULL, 0));
  EXPECT_EQ(GetLastError(), NTE_BAD_KEYSET);
  ASSERT_TRUE(CryptAcquireContextA(&prov, name, nullptr, PROV_RSA_FULL, CRYPT_NEWKEYSET));
  EXPECT_EQ(ProvParamText(prov, PP_CONTAINER), name);
  EXPECT_TRUE(CryptReleaseContext(prov, 0));

  SetLastError(0);
  EXPECT_FALSE(CryptAcquireContextA(&prov, name, nullptr, PROV_RSA_FULL, CRYPT_NEWKEYSET));
  EXPECT_EQ(GetLastError(), NTE_EXISTS);
  ASSERT_TRUE(CryptAcquireContextA(&prov, name, platform::kSoftwareProviderName, PROV_RSA_FULL, 0));
  HCRYPTKEY key = 0;
  EXPECT_FALSE(CryptGetUserKey(prov, AT_KEYEXCHANGE, &key));  // an empty container
  EXPECT_TRUE(CryptReleaseContext(prov, 0));

  // The container file is the user's alone, under the state directory.
  int files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(m_dir)) {
    if (!entry.is_regular_file()) continue;
    if (entry.path().filename() == "providers.json") continue;
    ++files;
    auto perms = entry.status().permissions();
    EXPECT_EQ(perms & (std::filesystem::perms::group_all | std::filesystem::perms::others_all),
              std::filesystem::perms::none);
  }
  EXPECT_EQ(files, 1);

  EXPECT_TRUE(CryptAcquireContextA(&prov, name, nullptr, PROV_RSA_FULL, CRYPT_DELETEKEYSET));
  SetLastError(0);
  EXPECT_FALSE(CryptAcquireContextA(&prov, name, nullptr, PROV_RSA_FULL, 0));
  EXPECT_EQ(GetLastError(), NTE_BAD_KEYSET);
  SetLastError(0);
  EXPECT_FALSE(CryptAcquireContextA(&prov, name, nullptr, PROV_RSA_FULL, CRYPT_DELETEKEYSET));
  EXPECT_EQ(GetLastError(), NTE_BAD_KEYSET);
}

TEST_F(ProviderTest, BadArgumentsAndHandlesAreRefused) {
  HCRYPTPROV prov = 0;
  SetLastError(0);
  EXPECT_FALSE(CryptAcquireContextA(&prov, nullptr, nullptr, 24, CRYPT_VERIFYCONTEXT));
  EXPECT_EQ(GetLastError(), NTE_PROV_TYPE_NO_MATCH);
  EXPECT_FALSE(CryptAcquireContextA(&prov, "x", nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  EXPECT_EQ(GetLastError(), NTE_BAD_FLAGS);
  EXPECT_FALSE(CryptAcquireContextA(&prov, "x", nullptr, PROV_RSA_FULL, 0x4000));
  EXPECT_EQ(GetLastError(), NTE_BAD_FLAGS);
  std::string longName(200, 'n');
  EXPECT_FALSE(
      CryptAcquireContextA(&prov, longName.c_str(), nullptr, PROV_RSA_FULL, CRYPT_NEWKEYSET));
  EXPECT_EQ(GetLastError(), NTE_BAD_KEYSET_PARAM);
  EXPECT_FALSE(CryptAcquireContextA(nullptr, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  ASSERT_TRUE(CryptAcquireContextA(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  HCRYPTHASH hash = 0;
  ASSERT_TRUE(CryptCreateHash(prov, CALG_SHA1, 0, 0, &hash));
  EXPECT_TRUE(CryptReleaseContext(prov, 0));
  // A released provider, a hash handle used as a provider, forged values.
  for (HCRYPTPROV bad : {prov, static_cast<HCRYPTPROV>(hash), HCRYPTPROV{0}, HCRYPTPROV{12345}}) {
    SetLastError(0);
    EXPECT_FALSE(CryptReleaseContext(bad, 0));
    EXPECT_EQ(GetLastError(), NTE_BAD_UID);
    DWORD size = 0;
    EXPECT_FALSE(CryptGetProvParam(bad, PP_NAME, nullptr, &size, 0));
    HCRYPTKEY key = 0;
    EXPECT_FALSE(CryptGetUserKey(bad, AT_SIGNATURE, &key));
    HCRYPTHASH h = 0;
    EXPECT_FALSE(CryptCreateHash(bad, CALG_SHA1, 0, 0, &h));
  }
  // The hash outlives its provider handle until destroyed.
  EXPECT_TRUE(CryptDestroyHash(hash));
  DWORD size = 8;
  BYTE out[8];
  SetLastError(0);
  EXPECT_FALSE(CryptExportKey(prov, 0, PRIVATEKEYBLOB, 0, out, &size));
  EXPECT_EQ(GetLastError(), NTE_BAD_KEY);
  EXPECT_FALSE(CryptDestroyKey(0));
  EXPECT_FALSE(CryptSetKeyParam(777, KP_CERTIFICATE, out, 0));
  EXPECT_FALSE(CryptHashData(0, out, 1, 0));
  EXPECT_FALSE(CryptGetHashParam(0, HP_HASHVAL, out, &size, 0));
}

TEST_F(ProviderTest, UnknownOrBrokenProvidersAreRefused) {
  HCRYPTPROV prov = 0;
  SetLastError(0);
  EXPECT_FALSE(
      CryptAcquireContextA(&prov, nullptr, "OrvelCSP", PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  EXPECT_EQ(GetLastError(), NTE_KEYSET_NOT_DEF);

  ASSERT_TRUE(platform::RegisterProvider("Missing", PROV_RSA_FULL, "libdoes-not-exist.so"));
  EXPECT_FALSE(CryptAcquireContextA(&prov, nullptr, "Missing", PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  EXPECT_EQ(GetLastError(), NTE_PROV_DLL_NOT_FOUND);

  // A library that is not a provider module (the test program itself has no
  // entry point to hand out).
  ASSERT_TRUE(platform::RegisterProvider("NotAModule", PROV_RSA_FULL, "/proc/self/exe"));
  EXPECT_FALSE(
      CryptAcquireContextA(&prov, nullptr, "NotAModule", PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  EXPECT_EQ(GetLastError(), NTE_PROVIDER_DLL_FAIL);

  ASSERT_TRUE(platform::RegisterProvider("OtherType", 24, "liborvel_test_provider.so"));
  EXPECT_FALSE(
      CryptAcquireContextA(&prov, nullptr, "OtherType", PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  EXPECT_EQ(GetLastError(), NTE_PROV_TYPE_NO_MATCH);

  // The built-in name cannot be taken over.
  EXPECT_FALSE(platform::RegisterProvider(platform::kSoftwareProviderName, PROV_RSA_FULL, "x.so"));
  EXPECT_FALSE(platform::RegisterProvider("", PROV_RSA_FULL, "x.so"));

  // A damaged database is neither used nor overwritten.
  { std::ofstream(m_dir / "providers.json") << "{ not json"; }
  EXPECT_FALSE(CryptAcquireContextA(&prov, nullptr, "Missing", PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  EXPECT_FALSE(platform::RegisterProvider("New", PROV_RSA_FULL, "x.so"));
  EXPECT_EQ(platform::ListProviders().size(), 1u);
}

// A provider registered system-wide works for a user who registered nothing;
// the user's own registration of the name replaces it.
TEST_F(ProviderTest, SystemWideRegistrationsLieBeneathTheUsersOwn) {
  std::filesystem::create_directory(SystemDir());
  std::ofstream(SystemDir() / "providers.json")
      << R"({"providers": {"OrvelCSP": {"type": 1, "module": "liborvel_test_provider.so"}}})";
  HCRYPTPROV prov = 0;
  ASSERT_TRUE(CryptAcquireContextA(&prov, nullptr, "OrvelCSP", PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  EXPECT_EQ(ProvParamText(prov, PP_NAME), "TestCSP");
  EXPECT_TRUE(CryptReleaseContext(prov, 0));
  ASSERT_EQ(platform::ListProviders().size(), 2u);
  EXPECT_FALSE(platform::UnregisterProvider("OrvelCSP"));  // not the user's

  ASSERT_TRUE(platform::RegisterProvider("OrvelCSP", PROV_RSA_FULL, "libdoes-not-exist.so"));
  EXPECT_FALSE(
      CryptAcquireContextA(&prov, nullptr, "OrvelCSP", PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  EXPECT_EQ(GetLastError(), NTE_PROV_DLL_NOT_FOUND);
  const auto list = platform::ListProviders();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[1].module, "libdoes-not-exist.so");

  EXPECT_TRUE(platform::UnregisterProvider("OrvelCSP"));
  ASSERT_TRUE(CryptAcquireContextA(&prov, nullptr, "OrvelCSP", PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  EXPECT_TRUE(CryptReleaseContext(prov, 0));
}

TEST_F(ProviderTest, RegisteredModuleReceivesEveryCall) {
  ASSERT_TRUE(platform::RegisterProvider("OrvelCSP", PROV_RSA_FULL, "liborvel_test_provider.so"));
  auto list = platform::ListProviders();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].name, platform::kSoftwareProviderName);
  EXPECT_EQ(list[1].name, "OrvelCSP");
  EXPECT_EQ(list[1].module, "liborvel_test_provider.so");

  // Key identifier: SHA-1 through the module, without a container.
  HCRYPTPROV prov = 0;
  ASSERT_TRUE(CryptAcquireContextA(&prov, nullptr, "OrvelCSP", PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  EXPECT_EQ(ProvParamText(prov, PP_NAME), "TestCSP");
  HCRYPTHASH hash = 0;
  ASSERT_TRUE(CryptCreateHash(prov, CALG_SHA1, 0, 0, &hash));
  BYTE modulus[128];
  for (int i = 0; i < 128; ++i) modulus[i] = static_cast<BYTE>(0xC1 + i);
  ASSERT_TRUE(CryptHashData(hash, modulus, sizeof modulus, 0));
  BYTE id[20];
  DWORD size = sizeof id;
  ASSERT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, id, &size, 0));
  BYTE expected[20];
  SHA1(modulus, sizeof modulus, expected);
  EXPECT_EQ(0, std::memcmp(id, expected, 20));
  EXPECT_TRUE(CryptDestroyHash(hash));
  EXPECT_TRUE(CryptReleaseContext(prov, 0));

  // Attaching a certificate: container, PIN, key, certificate.
  const char* container = "card-0123456789AB640021\\3F11\\3F77\\";
  ASSERT_TRUE(CryptAcquireContextA(&prov, container, "OrvelCSP", PROV_RSA_FULL, 0));
  EXPECT_EQ(ProvParamText(prov, PP_CONTAINER), container);
  const char pin[] = "1234";
  ASSERT_TRUE(CryptSetProvParam(prov, PP_ADMIN_PIN, reinterpret_cast<const BYTE*>(pin), 0));
  EXPECT_EQ(ProvParamText(prov, 0x8000), "1234");
  HCRYPTKEY key = 0;
  SetLastError(0);
  EXPECT_FALSE(CryptGetUserKey(prov, AT_KEYEXCHANGE, &key));
  EXPECT_EQ(GetLastError(), NTE_NO_KEY);  // the module's own answer
  ASSERT_TRUE(CryptGetUserKey(prov, AT_SIGNATURE, &key));
  Bytes der = Der(MakeCert(CertSpec{Key(1024)}).get());
  ASSERT_TRUE(CryptSetKeyParam(key, KP_CERTIFICATE, der.data(), 0));
  size = 0;
  ASSERT_TRUE(CryptGetProvParam(prov, 0x8001, nullptr, &size, 0));
  EXPECT_EQ(size, der.size());
  BYTE blob[16];
  size = sizeof blob;
  SetLastError(0);
  EXPECT_FALSE(CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, blob, &size));
  EXPECT_EQ(GetLastError(), NTE_BAD_KEY_STATE);
  EXPECT_TRUE(CryptDestroyKey(key));
  EXPECT_FALSE(CryptDestroyKey(key));
  EXPECT_TRUE(CryptReleaseContext(prov, 0));

  // Unregistering makes the name unknown again.
  EXPECT_TRUE(platform::UnregisterProvider("OrvelCSP"));
  EXPECT_FALSE(platform::UnregisterProvider("OrvelCSP"));
  EXPECT_FALSE(
      CryptAcquireContextA(&prov, nullptr, "OrvelCSP", PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
}
