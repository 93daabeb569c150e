// Open-store providers: found among the functions installed in the process
// or through a registered module, each store keeping the callback table its
// provider filled in; modules attached once per load and detached once per
// unload.
#include "platform/kernel.h"
#include "test_store_access.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <fstream>
#include <thread>

using namespace testpki;
using namespace teststore;

namespace {

// A provider of the test program itself, installed with no module.
struct LocalProvider {
  static inline int opens = 0, closes = 0, writes = 0, controls = 0;
  static inline bool acceptWrites = true;
  static inline bool failOpen = false;
  static inline bool withControl = true;
  static inline DWORD writeFlags = 0, controlType = 0, openFlags = 0;
  static inline HANDLE controlEvent = nullptr;
  static inline const void* openParameter = nullptr;
  static inline HCERTSTORE given = nullptr;
  static inline HCERTSTOREPROV closedProvider = nullptr;
  static inline PCCERT_CONTEXT written = nullptr;

  static void Reset() {
    opens = closes = writes = controls = 0;
    acceptWrites = true;
    failOpen = false;
    withControl = true;
    writeFlags = controlType = openFlags = 0;
    controlEvent = nullptr;
    openParameter = nullptr;
    given = nullptr;
    closedProvider = nullptr;
    written = nullptr;
  }
  static void Close(HCERTSTOREPROV provider, DWORD) {
    ++closes;
    closedProvider = provider;
  }
  static BOOL Write(HCERTSTOREPROV, PCCERT_CONTEXT certificate, DWORD flags) {
    ++writes;
    writeFlags = flags;
    written = certificate;
    return acceptWrites ? TRUE : FALSE;
  }
  static BOOL Control(HCERTSTOREPROV, DWORD, DWORD type, void const* parameter) {
    ++controls;
    controlType = type;
    controlEvent = parameter ? *static_cast<const HANDLE*>(parameter) : nullptr;
    return TRUE;
  }
  static inline StoreCallbackTable table = StoreCallbacks(&Close, &Write, &Control);
  static BOOL Open(LPCSTR, DWORD, HCRYPTPROV, DWORD flags, const void* parameter, HCERTSTORE store,
                   PCERT_STORE_PROV_INFO info) {
    ++opens;
    openFlags = flags;
    openParameter = parameter;
    given = store;
    if (failOpen) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    info->cStoreProvFunc =
        withControl ? CERT_STORE_PROV_FUNC_COUNT : CERT_STORE_PROV_WRITE_CERT_FUNC + 1;
    info->rgpvStoreProvFunc = table.data();
    info->hStoreProv = store;
    return TRUE;
  }
};

void InstallLocal(const char* name) {
  const CRYPT_OID_FUNC_ENTRY entry{name, reinterpret_cast<void*>(&LocalProvider::Open)};
  ASSERT_TRUE(
      CryptInstallOIDFunctionAddress(nullptr, 0, CRYPT_OID_OPEN_STORE_PROV_FUNC, 1, &entry, 0));
}

void RegisterTestModule(const char* provider = kTestStoreProvider, const char* function = nullptr,
                        const char16_t* module = kTestStoreModule) {
  ASSERT_TRUE(CryptRegisterOIDFunction(0, CRYPT_OID_OPEN_STORE_PROV_FUNC, provider, module,
                                       function ? function : CRYPT_OID_OPEN_STORE_PROV_FUNC));
}

class StoreProviders : public UserDirTest {
 protected:
  void SetUp() override {
    UserDirTest::SetUp();
    LocalProvider::Reset();
    Module::Get().Reset();
    // Modules unloaded as soon as their last address is given back, unless
    // a test asks for the delay.
    ::setenv("ORVEL_MODULE_UNLOAD_DELAY_MS", "0", 1);
  }
  void TearDown() override {
    ::unsetenv("ORVEL_MODULE_UNLOAD_DELAY_MS");
    UserDirTest::TearDown();
  }
  const Module& m_module = Module::Get();
};

TEST_F(StoreProviders, InstalledFunctionOpensAStoreThatKeepsItsCallbacks) {
  InstallLocal("LocalProviderA");
  const char16_t parameter[] = u"parámetro";
  HCERTSTORE store = CertOpenStore("LocalProviderA", 0, 0, 0x1234, parameter);
  ASSERT_NE(store, nullptr);
  EXPECT_EQ(LocalProvider::opens, 1);
  EXPECT_EQ(LocalProvider::openFlags, 0x1234UL);
  EXPECT_EQ(LocalProvider::openParameter, parameter);
  // The provider fills a memory store of its own, not the handle the program holds.
  ASSERT_NE(LocalProvider::given, nullptr);
  EXPECT_NE(LocalProvider::given, store);

  // An addition is offered to the write callback with the disposition in the
  // upper half of the flags, then kept.
  Bytes der = CertificateDer(7);
  const CCertificateContext certificate(NewContext(der));
  PCCERT_CONTEXT stored = nullptr;
  ASSERT_TRUE(CertAddCertificateContextToStore(
      store, certificate.Get(), CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES, &stored));
  EXPECT_EQ(LocalProvider::writes, 1);
  EXPECT_EQ(LocalProvider::writeFlags, 0x50001UL);
  EXPECT_EQ(LocalProvider::written, certificate.Get());
  ASSERT_NE(stored, nullptr);
  EXPECT_EQ(stored->hCertStore, LocalProvider::given);
  CertFreeCertificateContext(stored);
  EXPECT_EQ(Contents(store), (Entries{{7, u""}}));

  // Adding what is there with CERT_STORE_ADD_NEW fails before the provider hears of it.
  EXPECT_FALSE(
      CertAddCertificateContextToStore(store, certificate.Get(), CERT_STORE_ADD_NEW, nullptr));
  EXPECT_EQ(GetLastError(), CRYPT_E_EXISTS);
  EXPECT_EQ(LocalProvider::writes, 1);

  // A refusal keeps the certificate out.
  LocalProvider::acceptWrites = false;
  Bytes otherDer = CertificateDer(8);
  const CCertificateContext other(NewContext(otherDer));
  EXPECT_FALSE(CertAddCertificateContextToStore(store, other.Get(), CERT_STORE_ADD_REPLACE_EXISTING,
                                                nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(LocalProvider::writeFlags, 0x30001UL);
  EXPECT_EQ(Contents(store), (Entries{{7, u""}}));

  // Controls reach the control callback with the caller's parameter.
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  EXPECT_TRUE(CertControlStore(store, 0, CERT_STORE_CTRL_NOTIFY_CHANGE, &event));
  EXPECT_EQ(LocalProvider::controlType, CERT_STORE_CTRL_NOTIFY_CHANGE);
  EXPECT_EQ(LocalProvider::controlEvent, event);
  EXPECT_TRUE(CertControlStore(store, 0, CERT_STORE_CTRL_RESYNC, &event));
  EXPECT_EQ(LocalProvider::controlType, CERT_STORE_CTRL_RESYNC);
  EXPECT_EQ(LocalProvider::controls, 2);

  EXPECT_EQ(LocalProvider::closes, 0);
  EXPECT_TRUE(CertCloseStore(store, 0));
  EXPECT_EQ(LocalProvider::closes, 1);
  EXPECT_EQ(LocalProvider::closedProvider, LocalProvider::given);
  CloseHandle(event);
}

TEST_F(StoreProviders, ProviderWithoutControlOrFailingOpen) {
  InstallLocal("LocalProviderB");
  LocalProvider::withControl = false;
  HCERTSTORE store = CertOpenStore("LocalProviderB", 0, 0, 0, nullptr);
  ASSERT_NE(store, nullptr);
  HANDLE event = nullptr;
  EXPECT_FALSE(CertControlStore(store, 0, CERT_STORE_CTRL_RESYNC, &event));
  EXPECT_EQ(GetLastError(), ERROR_CALL_NOT_IMPLEMENTED);
  EXPECT_TRUE(CertCloseStore(store, 0));

  LocalProvider::Reset();
  LocalProvider::failOpen = true;
  EXPECT_EQ(CertOpenStore("LocalProviderB", 0, 0, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);  // the provider's own reason
  EXPECT_EQ(LocalProvider::opens, 1);
  EXPECT_EQ(LocalProvider::closes, 0);
}

TEST_F(StoreProviders, UnknownProvidersAndMissingModulesAreReported) {
  EXPECT_EQ(CertOpenStore("NoSuchProvider", 0, 0, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

  HCRYPTOIDFUNCSET set = CryptInitOIDFunctionSet(CRYPT_OID_OPEN_STORE_PROV_FUNC, 0);
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(set, CryptInitOIDFunctionSet("certdllopenstoreprov", 0));
  void* address = reinterpret_cast<void*>(1);
  HCRYPTOIDFUNCADDR kept = reinterpret_cast<HCRYPTOIDFUNCADDR>(1);
  EXPECT_FALSE(CryptGetOIDFunctionAddress(set, 0, "NoSuchProvider", 0, &address, &kept));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(address, nullptr);
  EXPECT_EQ(kept, nullptr);
  EXPECT_FALSE(CryptGetOIDFunctionAddress(reinterpret_cast<HCRYPTOIDFUNCSET>(0x99), 0, "x", 0,
                                          &address, &kept));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  RegisterTestModule("ProviderOfAMissingModule", nullptr, u"NoSuchModule.dll");
  EXPECT_EQ(CertOpenStore("ProviderOfAMissingModule", 0, 0, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

TEST_F(StoreProviders, RegisteredModuleIsAttachedForEveryStoreAndDetachedAtEveryClose) {
  RegisterTestModule();
  HCERTSTORE first = CertOpenStore(kTestStoreProvider, 0, 0, 0, nullptr);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(m_module.Counters().attaches, 1);
  EXPECT_EQ(m_module.Counters().opens, 1);
  // The second store finds the function the module installed, and loads the
  // module once more.
  HCERTSTORE second = CertOpenStore(kTestStoreProvider, 0, 0, 0, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(m_module.Counters().attaches, 2);
  EXPECT_EQ(m_module.Counters().opens, 2);

  EXPECT_TRUE(CertCloseStore(first, 0));
  EXPECT_EQ(m_module.Counters().closes, 1);
  EXPECT_EQ(m_module.Counters().detaches, 1);
  EXPECT_TRUE(CertCloseStore(second, 0));
  EXPECT_EQ(m_module.Counters().closes, 2);
  EXPECT_EQ(m_module.Counters().detaches, 2);

  // With the module gone, so is the function it installed ...
  HCRYPTOIDFUNCSET set = CryptInitOIDFunctionSet(CRYPT_OID_OPEN_STORE_PROV_FUNC, 0);
  void* address = nullptr;
  HCRYPTOIDFUNCADDR kept = nullptr;
  EXPECT_FALSE(CryptGetOIDFunctionAddress(set, 0, kTestStoreProvider,
                                          CRYPT_GET_INSTALLED_OID_FUNC_FLAG, &address, &kept));
  // ... and the next store loads it again through the registration.
  HCERTSTORE third = CertOpenStore(kTestStoreProvider, 0, 0, 0, nullptr);
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(m_module.Counters().attaches, 3);
  EXPECT_TRUE(CertCloseStore(third, 0));
  EXPECT_EQ(m_module.Counters().detaches, 3);
}

TEST_F(StoreProviders, ModuleStaysLoadedForTheUnloadDelayAfterTheLastClose) {
  ::setenv("ORVEL_MODULE_UNLOAD_DELAY_MS", "300", 1);
  RegisterTestModule();
  for (int i = 1; i <= 3; ++i) {
    HCERTSTORE store = CertOpenStore(kTestStoreProvider, 0, 0, 0, nullptr);
    ASSERT_NE(store, nullptr);
    EXPECT_TRUE(CertCloseStore(store, 0));
    // One load is kept: the module never went away between the stores.
    EXPECT_EQ(m_module.Counters().attaches - m_module.Counters().detaches, 1) << i;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(350));
  // The next OID function call unloads what is due.
  HCRYPTOIDFUNCSET set = CryptInitOIDFunctionSet(CRYPT_OID_OPEN_STORE_PROV_FUNC, 0);
  void* address = nullptr;
  HCRYPTOIDFUNCADDR kept = nullptr;
  EXPECT_FALSE(CryptGetOIDFunctionAddress(set, 0, "NoSuchProvider", 0, &address, &kept));
  EXPECT_EQ(m_module.Counters().attaches, m_module.Counters().detaches);
}

TEST_F(StoreProviders, ModuleLoadedTwiceAttachesTwiceAndDetachesTwice) {
  HMODULE first = LoadLibraryA("OrvelTestStore.dll");
  ASSERT_NE(first, nullptr) << platform::LastModuleLoadErrorText();
  HMODULE second = LoadLibraryA("OrvelTestStore.dll");
  EXPECT_EQ(second, first);
  EXPECT_EQ(m_module.Counters().attaches, 2);
  EXPECT_NE(GetProcAddress(first, "DllRegisterServer"), nullptr);
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_EQ(m_module.Counters().detaches, 1);
  EXPECT_TRUE(FreeLibrary(second));
  EXPECT_EQ(m_module.Counters().detaches, 2);
  EXPECT_FALSE(FreeLibrary(first));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(m_module.Counters().detaches, 2);
}

TEST_F(StoreProviders, RegisteredExportServesWhenTheModuleInstallsNothingForTheName) {
  RegisterTestModule(kTestStoreExportProvider, "TestOpenStoreByExport");
  HCERTSTORE store = CertOpenStore(kTestStoreExportProvider, 0, 0, 0, nullptr);
  ASSERT_NE(store, nullptr);
  EXPECT_EQ(m_module.Counters().opens, 1);
  EXPECT_TRUE(CertCloseStore(store, 0));
  EXPECT_EQ(m_module.Counters().detaches, 1);

  // A registered export the module lacks: the module is let go again.
  RegisterTestModule(kTestStoreExportProvider, "NoSuchExport");
  EXPECT_EQ(CertOpenStore(kTestStoreExportProvider, 0, 0, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(m_module.Counters().attaches, 2);
  EXPECT_EQ(m_module.Counters().detaches, 2);
}

TEST_F(StoreProviders, ModuleThatRefusesItsAttachIsNotLoaded) {
  RegisterTestModule();
  m_module.RefuseAttach(true);
  EXPECT_EQ(LoadLibraryA("OrvelTestStore.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_DLL_INIT_FAILED);
  EXPECT_EQ(CertOpenStore(kTestStoreProvider, 0, 0, 0, nullptr), nullptr);
  EXPECT_EQ(m_module.Counters().attaches, 0);
  EXPECT_EQ(m_module.Counters().detaches, 0);
  EXPECT_EQ(m_module.Counters().opens, 0);
}

TEST_F(StoreProviders, RegistrationsAreReplacedAndRemovedOnce) {
  RegisterTestModule("ProviderX", nullptr, u"First.dll");
  RegisterTestModule("providerx", nullptr, u"Second.dll");  // the same OID, whatever the case
  std::ifstream in(m_dir / "oid_functions.json");
  const nlohmann::json content = nlohmann::json::parse(in);
  ASSERT_EQ(content.at("functions").size(), 1u);
  EXPECT_EQ(content.at("functions")[0].at("module"), "Second.dll");
  EXPECT_EQ(content.at("functions")[0].at("function"), CRYPT_OID_OPEN_STORE_PROV_FUNC);
  EXPECT_EQ(content.at("functions")[0].at("encodingType"), 0);

  EXPECT_TRUE(CryptUnregisterOIDFunction(0, CRYPT_OID_OPEN_STORE_PROV_FUNC, "ProviderX"));
  EXPECT_FALSE(CryptUnregisterOIDFunction(0, CRYPT_OID_OPEN_STORE_PROV_FUNC, "ProviderX"));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

  EXPECT_FALSE(CryptRegisterOIDFunction(0, CRYPT_OID_OPEN_STORE_PROV_FUNC, "P", nullptr, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(CryptRegisterOIDFunction(0, nullptr, "P", u"M.dll", nullptr));
  EXPECT_FALSE(
      CryptInstallOIDFunctionAddress(nullptr, 0, CRYPT_OID_OPEN_STORE_PROV_FUNC, 1, nullptr, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(StoreProviders, UnreadableRegistrationsAreNeitherUsedNorOverwritten) {
  { std::ofstream(m_dir / "oid_functions.json") << "{not json"; }
  EXPECT_FALSE(CryptRegisterOIDFunction(0, CRYPT_OID_OPEN_STORE_PROV_FUNC, "P", u"M.dll", nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
  EXPECT_EQ(CertOpenStore("P", 0, 0, 0, nullptr), nullptr);
  std::ifstream in(m_dir / "oid_functions.json");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "{not json");
}

}  // namespace
