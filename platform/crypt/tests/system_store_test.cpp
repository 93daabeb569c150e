// The user's system store "MY": a collection of the registered physical
// stores (here the test module's) and the user's persistent store, where
// additions go to the first store that accepts them and every certificate
// is listed once.
#include "platform/kernel.h"
#include "test_store_access.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <iterator>

using namespace testpki;
using namespace teststore;

namespace {

CERT_PHYSICAL_STORE_INFO InfoFor(const char* provider,
                                 DWORD flags = CERT_PHYSICAL_STORE_ADD_ENABLE_FLAG) {
  CERT_PHYSICAL_STORE_INFO info{};
  info.cbSize = 32;  // what callers written for the 32-bit layout pass
  info.pszOpenStoreProvider = const_cast<LPSTR>(provider);
  info.dwFlags = flags;
  return info;
}

class PhysicalStores : public UserDirTest {};

TEST_F(PhysicalStores, ASecondRegistrationWithCreateNewFails) {
  CERT_PHYSICAL_STORE_INFO info = InfoFor(kTestStoreProvider);
  const DWORD flags = CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_CREATE_NEW_FLAG;
  ASSERT_TRUE(CertRegisterPhysicalStore(u"MY", flags, kTestStorePhysicalName, &info, nullptr));
  // Names of system and physical stores are the same whatever their ASCII case.
  EXPECT_FALSE(CertRegisterPhysicalStore(u"my", flags, u"ALMACéN DE PRUEBA", &info, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  EXPECT_FALSE(CertRegisterPhysicalStore(u"My", flags, kTestStorePhysicalName, &info, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);

  std::ifstream in(m_dir / "physical_stores.json");
  const nlohmann::json content = nlohmann::json::parse(in);
  ASSERT_TRUE(content.contains("MY"));
  const auto& entry = content.at("MY")[0];
  EXPECT_EQ(entry.at("name"), "Almacén de prueba");
  EXPECT_EQ(entry.at("openStoreProvider"), kTestStoreProvider);
  EXPECT_EQ(entry.at("flags"), CERT_PHYSICAL_STORE_ADD_ENABLE_FLAG);

  // Without CREATE_NEW the registration is replaced.
  info.dwPriority = 5;
  EXPECT_TRUE(CertRegisterPhysicalStore(u"MY", CERT_SYSTEM_STORE_CURRENT_USER,
                                        kTestStorePhysicalName, &info, nullptr));
}

TEST_F(PhysicalStores, UnregisteringWhatIsAbsentFails) {
  const DWORD flags = CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_DELETE_FLAG;
  EXPECT_FALSE(CertUnregisterPhysicalStore(u"MY", flags, kTestStorePhysicalName));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  CERT_PHYSICAL_STORE_INFO info = InfoFor(kTestStoreProvider);
  ASSERT_TRUE(CertRegisterPhysicalStore(u"MY", CERT_SYSTEM_STORE_CURRENT_USER,
                                        kTestStorePhysicalName, &info, nullptr));
  EXPECT_TRUE(CertUnregisterPhysicalStore(u"MY", flags, kTestStorePhysicalName));
  EXPECT_FALSE(CertUnregisterPhysicalStore(u"MY", flags, kTestStorePhysicalName));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(PhysicalStores, OtherLocationsAndBadNamesAreRefused) {
  CERT_PHYSICAL_STORE_INFO info = InfoFor(kTestStoreProvider);
  EXPECT_FALSE(
      CertRegisterPhysicalStore(u"MY", CERT_SYSTEM_STORE_LOCAL_MACHINE, u"X", &info, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
  EXPECT_FALSE(
      CertRegisterPhysicalStore(u"../MY", CERT_SYSTEM_STORE_CURRENT_USER, u"X", &info, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(
      CertRegisterPhysicalStore(u"MY", CERT_SYSTEM_STORE_CURRENT_USER, u"", &info, nullptr));
  EXPECT_FALSE(
      CertRegisterPhysicalStore(u"MY", CERT_SYSTEM_STORE_CURRENT_USER, u"X", nullptr, nullptr));
  info.pszOpenStoreProvider = nullptr;
  EXPECT_FALSE(
      CertRegisterPhysicalStore(u"MY", CERT_SYSTEM_STORE_CURRENT_USER, u"X", &info, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(std::filesystem::exists(m_dir / "physical_stores.json"));

  EXPECT_EQ(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, u"MY"),
            nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
  EXPECT_EQ(CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, "a/b"),
            nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

class PersonalStore : public UserDirTest {
 protected:
  void SetUp() override {
    UserDirTest::SetUp();
    m_module.Reset();
    // The card store's module unloaded as soon as the store closes.
    ::setenv("ORVEL_MODULE_UNLOAD_DELAY_MS", "0", 1);
  }
  void TearDown() override {
    ::unsetenv("ORVEL_MODULE_UNLOAD_DELAY_MS");
    UserDirTest::TearDown();
  }
  void RegisterCardStore(DWORD flags = CERT_PHYSICAL_STORE_ADD_ENABLE_FLAG) {
    ASSERT_TRUE(CryptRegisterOIDFunction(0, CRYPT_OID_OPEN_STORE_PROV_FUNC, kTestStoreProvider,
                                         kTestStoreModule, CRYPT_OID_OPEN_STORE_PROV_FUNC));
    CERT_PHYSICAL_STORE_INFO info = InfoFor(kTestStoreProvider, flags);
    ASSERT_TRUE(CertRegisterPhysicalStore(
        u"MY", CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_CREATE_NEW_FLAG, kTestStorePhysicalName,
        &info, nullptr));
  }
  // Adds a certificate with a software key container to a store.
  static BOOL AddWithKey(HCERTSTORE store, long serial, const char16_t* container,
                         DWORD disposition = CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES) {
    Bytes der = CertificateDer(serial);
    CCertificateContext context(NewContext(der));
    std::u16string c = container, p = u"Orvel Software RSA Provider";
    CRYPT_KEY_PROV_INFO info{c.data(), p.data(), PROV_RSA_FULL, 0, 0, nullptr, AT_KEYEXCHANGE};
    CertSetCertificateContextProperty(context.Get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &info);
    return CertAddCertificateContextToStore(store, context.Get(), disposition, nullptr);
  }
  static Entries DefaultStoreContents() {
    CCertStore store(OpenPersonalDefault());
    EXPECT_TRUE(store);
    return Contents(store.Get());
  }
  const Module& m_module = Module::Get();
};

TEST_F(PersonalStore, WithoutPhysicalStoresItIsTheUsersPersistentStore) {
  HCERTSTORE store = OpenPersonal();
  ASSERT_NE(store, nullptr);
  EXPECT_TRUE(Contents(store).empty());
  EXPECT_TRUE(AddWithKey(store, 3, u"contenedor-3"));
  EXPECT_EQ(Contents(store), (Entries{{3, u"contenedor-3"}}));
  EXPECT_TRUE(CertCloseStore(store, 0));

  // Kept for the next program, key-provider information included; the
  // store's name is not case-sensitive.
  store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, "my");
  ASSERT_NE(store, nullptr);
  EXPECT_EQ(Contents(store), (Entries{{3, u"contenedor-3"}}));
  EXPECT_TRUE(CertCloseStore(store, 0));
  store = CertOpenStore(sz_CERT_STORE_PROV_SYSTEM, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, u"My");
  ASSERT_NE(store, nullptr);
  EXPECT_EQ(Contents(store).size(), 1u);
  EXPECT_TRUE(CertCloseStore(store, 0));
  EXPECT_TRUE(std::filesystem::exists(m_dir / "stores" / "MY.json"));
}

TEST_F(PersonalStore, TwoOpenStoresKeepEachOthersAdditions) {
  CCertStore first(OpenPersonal()), second(OpenPersonal());
  ASSERT_TRUE(first && second);
  EXPECT_TRUE(AddWithKey(first.Get(), 1, u"a"));
  EXPECT_TRUE(AddWithKey(second.Get(), 2, u"b"));
  EXPECT_EQ(DefaultStoreContents(), (Entries{{1, u"a"}, {2, u"b"}}));
  // The first store sees the second's addition after a resync.
  EXPECT_EQ(Contents(first.Get()).size(), 1u);
  EXPECT_TRUE(CertControlStore(first.Get(), 0, CERT_STORE_CTRL_RESYNC, nullptr));
  EXPECT_EQ(Contents(first.Get()), (Entries{{1, u"a"}, {2, u"b"}}));
}

TEST_F(PersonalStore, CardStoreIsOpenedFirstWithItsName) {
  RegisterCardStore();
  m_module.SetCardCertificate(CertificateDer(9));
  HCERTSTORE store = OpenPersonal();
  ASSERT_NE(store, nullptr);
  EXPECT_EQ(m_module.Counters().attaches, 1);
  EXPECT_EQ(m_module.Counters().opens, 1);
  EXPECT_EQ(m_module.Counters().lastOpenFlags & CERT_SYSTEM_STORE_LOCATION_MASK,
            CERT_SYSTEM_STORE_CURRENT_USER);
  EXPECT_EQ(std::u16string(m_module.Counters().lastOpenName), u"MY\\Almacén de prueba");
  EXPECT_EQ(Contents(store), (Entries{{9, kTestStoreContainer}}));
  EXPECT_TRUE(CertCloseStore(store, 0));
  EXPECT_EQ(m_module.Counters().closes, 1);
  EXPECT_EQ(m_module.Counters().detaches, 1);
}

// What the card store accepts stays there; what it refuses goes to the
// default store.
class CardStoreWrites : public PersonalStore, public ::testing::WithParamInterface<bool> {};

TEST_P(CardStoreWrites, AnAdditionLandsInTheFirstStoreThatTakesIt) {
  const bool refused = GetParam();
  RegisterCardStore();
  m_module.RefuseWrites(refused);
  CCertStore store(OpenPersonal());
  ASSERT_TRUE(store);
  EXPECT_TRUE(AddWithKey(store.Get(), 4, u"software-4"));
  EXPECT_EQ(m_module.Counters().writes, 1);
  EXPECT_EQ(m_module.Counters().lastWriteFlags, 0x50001UL);
  EXPECT_EQ(Contents(store.Get()), (Entries{{4, u"software-4"}}));
  EXPECT_EQ(DefaultStoreContents(), (refused ? Entries{{4, u"software-4"}} : Entries{}));
}
INSTANTIATE_TEST_SUITE_P(PersonalStore, CardStoreWrites, ::testing::Bool(), [](const auto& param) {
  return std::string(param.param ? "Refused" : "Accepted");
});

TEST_F(PersonalStore, ACertificateHeldTwiceIsListedOnceFromTheCardStore) {
  CCertStore store(OpenPersonalDefault());
  ASSERT_TRUE(store);
  ASSERT_TRUE(AddWithKey(store.Get(), 9, u"software-9"));
  ASSERT_TRUE(AddWithKey(store.Get(), 2, u"software-2"));
  store.Reset();
  RegisterCardStore();
  m_module.SetCardCertificate(CertificateDer(9));
  store.Reset(OpenPersonal());
  ASSERT_TRUE(store);
  EXPECT_EQ(Contents(store.Get()), (Entries{{9, kTestStoreContainer}, {2, u"software-2"}}));
}

TEST_F(PersonalStore, ControlsReachTheCardStore) {
  RegisterCardStore();
  m_module.SetResyncCertificate(CertificateDer(6));
  HCERTSTORE store = OpenPersonal();
  ASSERT_NE(store, nullptr);
  HANDLE event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  ASSERT_TRUE(CertControlStore(store, 0, CERT_STORE_CTRL_NOTIFY_CHANGE, &event));
  EXPECT_EQ(m_module.Counters().lastControlType, CERT_STORE_CTRL_NOTIFY_CHANGE);
  EXPECT_EQ(m_module.Counters().lastControlEvent, event);
  EXPECT_EQ(WaitForSingleObject(event, 0),
            static_cast<DWORD>(WAIT_TIMEOUT));  // the module re-armed it

  EXPECT_TRUE(Contents(store).empty());
  ASSERT_TRUE(CertControlStore(store, 0, CERT_STORE_CTRL_RESYNC, &event));
  EXPECT_EQ(m_module.Counters().lastControlType, CERT_STORE_CTRL_RESYNC);
  EXPECT_EQ(Contents(store), (Entries{{6, kTestStoreContainer}}));
  EXPECT_EQ(m_module.Counters().controls, 2);
  CertCloseStore(store, 0);
  CloseHandle(event);
}

TEST_F(PersonalStore, AStoreOfTheUserAloneCannotReportChanges) {
  HCERTSTORE store = OpenPersonal();
  ASSERT_NE(store, nullptr);
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  EXPECT_FALSE(CertControlStore(store, 0, CERT_STORE_CTRL_NOTIFY_CHANGE, &event));
  EXPECT_EQ(GetLastError(), ERROR_CALL_NOT_IMPLEMENTED);
  HCERTSTORE memory = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  EXPECT_FALSE(CertControlStore(memory, 0, CERT_STORE_CTRL_RESYNC, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_CALL_NOT_IMPLEMENTED);
  CertCloseStore(memory, 0);
  CertCloseStore(store, 0);
  CloseHandle(event);
}

TEST_F(PersonalStore, ReadOnlyStoresTakeNothing) {
  RegisterCardStore();
  CCertStore store(OpenPersonal(CERT_STORE_READONLY_FLAG));
  ASSERT_TRUE(store);
  EXPECT_FALSE(AddWithKey(store.Get(), 1, u"x"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(m_module.Counters().writes, 0);
  store.Reset();
  EXPECT_TRUE(DefaultStoreContents().empty());
}

TEST_F(PersonalStore, PhysicalStoresThatCannotOrMayNotBeOpenedAreLeftOut) {
  CERT_PHYSICAL_STORE_INFO info = InfoFor("NoSuchProvider");
  ASSERT_TRUE(
      CertRegisterPhysicalStore(u"MY", CERT_SYSTEM_STORE_CURRENT_USER, u"Roto", &info, nullptr));
  RegisterCardStore(CERT_PHYSICAL_STORE_ADD_ENABLE_FLAG | CERT_PHYSICAL_STORE_OPEN_DISABLE_FLAG);
  CCertStore store(OpenPersonal());
  ASSERT_TRUE(store);
  EXPECT_EQ(m_module.Counters().opens, 0);
  EXPECT_TRUE(AddWithKey(store.Get(), 1, u"x"));
  EXPECT_EQ(DefaultStoreContents(), (Entries{{1, u"x"}}));
}

int g_recursiveOpens = 0;
BOOL OpenThePersonalStoreAgain(LPCSTR, DWORD, HCRYPTPROV, DWORD, const void*, HCERTSTORE store,
                               PCERT_STORE_PROV_INFO info) {
  ++g_recursiveOpens;
  if (HCERTSTORE inner = OpenPersonal()) CertCloseStore(inner, 0);
  info->hStoreProv = store;
  return TRUE;
}

TEST_F(PersonalStore, NoSystemStoreContainsItself) {
  const CRYPT_OID_FUNC_ENTRY entry{"RecursiveProvider",
                                   reinterpret_cast<void*>(&OpenThePersonalStoreAgain)};
  ASSERT_TRUE(
      CryptInstallOIDFunctionAddress(nullptr, 0, CRYPT_OID_OPEN_STORE_PROV_FUNC, 1, &entry, 0));
  CERT_PHYSICAL_STORE_INFO recursive = InfoFor("RecursiveProvider");
  ASSERT_TRUE(CertRegisterPhysicalStore(u"MY", CERT_SYSTEM_STORE_CURRENT_USER, u"Recursivo",
                                        &recursive, nullptr));
  CERT_PHYSICAL_STORE_INFO system = InfoFor(sz_CERT_STORE_PROV_SYSTEM);
  const char16_t own[] = u"MY";
  system.OpenParameters = {sizeof own, reinterpret_cast<BYTE*>(const_cast<char16_t*>(own))};
  ASSERT_TRUE(CertRegisterPhysicalStore(u"MY", CERT_SYSTEM_STORE_CURRENT_USER, u"Sistema", &system,
                                        nullptr));
  g_recursiveOpens = 0;
  HCERTSTORE store = OpenPersonal();
  ASSERT_NE(store, nullptr);
  EXPECT_EQ(g_recursiveOpens, 4);  // each level opens the next, up to the limit
  EXPECT_TRUE(AddWithKey(store, 1, u"x"));
  EXPECT_TRUE(CertCloseStore(store, 0));
}

TEST_F(PersonalStore, AnUnreadableStoreFileIsNeitherOpenedNorOverwritten) {
  std::filesystem::create_directories(m_dir / "stores");
  { std::ofstream(m_dir / "stores" / "MY.json") << "[1, 2"; }
  EXPECT_EQ(OpenPersonal(), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
  EXPECT_EQ(OpenPersonalDefault(), nullptr);
  std::ifstream in(m_dir / "stores" / "MY.json");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "[1, 2");
}

TEST(CertNames, X500TextInEncodedOrderOrReversed) {
  using NamePtr = platform::crypt::OsslPtr<X509_NAME, X509_NAME_free>;
  NamePtr name(X509_NAME_new());
  auto add = [&](const char* field, const char* value, int set) {
    X509_NAME_add_entry_by_txt(name.get(), field, MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(value), -1, -1, set);
  };
  add("C", "ES", 0);
  add("O", "Orvel, S.A.", 0);
  add("OU", "Pruebas", 0);
  add("CN", "José Pérez", -1);  // a second value of the OU's RDN
  add("1.2.3.4", "x", 0);
  unsigned char* der = nullptr;
  const int length = i2d_X509_NAME(name.get(), &der);
  ASSERT_GT(length, 0);
  CERT_NAME_BLOB blob{static_cast<DWORD>(length), der};

  auto text = [&blob](DWORD type) {
    const DWORD size = CertNameToStrA(X509_ASN_ENCODING, &blob, type, nullptr, 0);
    std::string out(size, '\0');
    EXPECT_EQ(CertNameToStrA(X509_ASN_ENCODING, &blob, type, out.data(), size), size);
    out.resize(size - 1);
    return out;
  };
  EXPECT_EQ(text(CERT_X500_NAME_STR),
            "C=ES, O=\"Orvel, S.A.\", OU=Pruebas + CN=José Pérez, OID.1.2.3.4=x");
  EXPECT_EQ(text(CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG),
            "OID.1.2.3.4=x, OU=Pruebas + CN=José Pérez, O=\"Orvel, S.A.\", C=ES");
  EXPECT_EQ(text(CERT_SIMPLE_NAME_STR), "ES, \"Orvel, S.A.\", Pruebas + José Pérez, x");

  char small[6];
  EXPECT_EQ(CertNameToStrA(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR, small, sizeof small), 6u);
  EXPECT_STREQ(small, "C=ES,");
  BYTE garbage[] = {0x30, 0x05, 0x01};
  CERT_NAME_BLOB bad{sizeof garbage, garbage};
  EXPECT_EQ(CertNameToStrA(X509_ASN_ENCODING, &bad, CERT_X500_NAME_STR, small, sizeof small), 1u);
  EXPECT_STREQ(small, "");
  OPENSSL_free(der);
}

}  // namespace
