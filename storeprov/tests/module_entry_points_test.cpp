// The module as the platform loads it: its exports, self-registration, the
// personal store "MY" opened through it, and its attach and detach.
#include <gtest/gtest.h>

#include "cardsim/fake_pcsc.h"
#include "platform/handle_guards.h"
#include "platform/kernel.h"  // first: it defines INFINITE before PC/SC
#include "platform/wincrypt.h"
#include "platform_test/scoped_user_dir.h"
#include "support/card_certificates.h"

namespace storeprov_test {
namespace {

using Register = HRESULT (*)();
using SetProperty = BOOL (*)(HCERTSTOREPROV, PCCERT_CONTEXT, DWORD, DWORD, const void*);

class LoadedModule : public ::testing::Test {
 protected:
  void SetUp() override {
    fakepcsc::Reset();
    m_module = LoadLibraryA("OrvelCertStore.dll");
    ASSERT_NE(m_module, nullptr) << platform::LastModuleLoadErrorText();
  }
  void TearDown() override {
    if (m_module != nullptr) FreeLibrary(m_module);
    fakepcsc::Reset();
  }
  template <class Function>
  Function Export(const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(m_module, name)));
  }

  platform_test::ScopedUserDir m_userDir;
  HMODULE m_module = nullptr;
};

TEST_F(LoadedModule, ExportsItsEntryPointsByNameAndNothingElse) {
  for (const char* name :
       {"DllMain", "DllRegisterServer", "DllUnregisterServer", "CertDllOpenStoreProv",
        "CertStoreProvCloseCallback", "CertStoreProvWriteCertCallback",
        "CertStoreProvSetCertPropertyCallback", "CertStoreProvControl"}) {
    EXPECT_NE(GetProcAddress(m_module, name), nullptr) << name;
  }
  EXPECT_EQ(GetProcAddress(m_module, "PopulateCardStore"), nullptr);
  EXPECT_EQ(GetProcAddress(m_module, "SCardTransmit"), nullptr);
  auto setProperty = Export<SetProperty>("CertStoreProvSetCertPropertyCallback");
  EXPECT_EQ(setProperty(nullptr, nullptr, CERT_KEY_PROV_INFO_PROP_ID, 0, nullptr), TRUE);
}

TEST_F(LoadedModule, RegistersOnceAndThePersonalStoreShowsTheCardsCertificates) {
  const auto certificates = KeyedCertificates(2, 70);
  fakepcsc::AddReader("Lector 0");
  fakepcsc::InsertCard("Lector 0", CardWithCertificates(0x09, certificates));

  auto registerServer = Export<Register>("DllRegisterServer");
  auto unregisterServer = Export<Register>("DllUnregisterServer");
  ASSERT_EQ(registerServer(), S_OK);
  EXPECT_EQ(registerServer(), E_FAIL);

  CCertStore personal(
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, u"MY"));
  ASSERT_NE(personal.Get(), nullptr);
  std::vector<Bytes> seen;
  PCCERT_CONTEXT context = nullptr;
  while ((context = CertEnumCertificatesInStore(personal.Get(), context)) != nullptr) {
    seen.emplace_back(context->pbCertEncoded, context->pbCertEncoded + context->cbCertEncoded);
    DWORD size = 0;
    ASSERT_TRUE(
        CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));
    std::vector<BYTE> buffer(size);
    ASSERT_TRUE(CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID,
                                                  buffer.data(), &size));
    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
    EXPECT_EQ(std::u16string(info->pwszProvName), u"OrvelCSP");
    EXPECT_EQ(info->dwProvType, 1u);
    EXPECT_EQ(info->dwKeySpec, 3u);
  }
  EXPECT_EQ(seen, (std::vector<Bytes>{certificates[0].der, certificates[1].der}));

  HANDLE event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  EXPECT_TRUE(CertControlStore(personal.Get(), 0, CERT_STORE_CTRL_NOTIFY_CHANGE, &event));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);  // registering resets it
  EXPECT_TRUE(CertControlStore(personal.Get(), 0, CERT_STORE_CTRL_RESYNC, &event));
  personal.Reset();
  CloseHandle(event);

  EXPECT_EQ(unregisterServer(), S_OK);
  EXPECT_EQ(unregisterServer(), E_FAIL);
}

TEST_F(LoadedModule, WithoutResourceManagerTheCardStoreDoesNotOpen) {
  auto registerServer = Export<Register>("DllRegisterServer");
  ASSERT_EQ(registerServer(), S_OK);
  fakepcsc::FailEstablishContext(true, true);
  CCertStore card(CertOpenStore("OrvelCertStore", 0, 0, 0, nullptr));
  EXPECT_EQ(card.Get(), nullptr);
  card.Reset();
  fakepcsc::FailEstablishContext(false, false);
  card.Reset(CertOpenStore("OrvelCertStore", 0, 0, 0, nullptr));
  ASSERT_NE(card.Get(), nullptr);
}

TEST_F(LoadedModule, SecondLoadIsAnotherAttachAndTheLastDetachStopsTheWatcher) {
  HMODULE again = LoadLibraryA("OrvelCertStore.dll");
  ASSERT_EQ(again, m_module);
  EXPECT_TRUE(FreeLibrary(again));
  // Still loaded once: the open function works.
  auto registerServer = Export<Register>("DllRegisterServer");
  ASSERT_EQ(registerServer(), S_OK);
  {
    const CCertStore card(CertOpenStore("OrvelCertStore", 0, 0, 0, nullptr));
    ASSERT_NE(card.Get(), nullptr);
  }
  EXPECT_TRUE(FreeLibrary(m_module));
  m_module = nullptr;
}

}  // namespace
}  // namespace storeprov_test
