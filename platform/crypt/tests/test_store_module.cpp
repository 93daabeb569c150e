// A store-provider module for the tests (see test_store_module.h).
#include "test_store_module.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "platform/kernel.h"

#define TEST_STORE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

TestStoreCounters g_counters{};
std::mutex g_lock;
std::vector<BYTE> g_cardCertificate;
std::vector<BYTE> g_resyncCertificate;
bool g_refuseWrites = false;
bool g_refuseAttach = false;
DWORD g_signalMs = 0;
std::string g_log;
std::vector<HANDLE> g_events;

void Log(const std::string& line) {
  if (g_log.empty()) return;
  std::ofstream(g_log, std::ios::app) << line << '\n';
}

// Settings from the environment; what is not set there keeps the value the
// Set functions gave it.
void ReadFile(const char* variable, std::vector<BYTE>& out) {
  const char* path = std::getenv(variable);
  if (!path || !*path) return;
  std::ifstream in(path, std::ios::binary);
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void ReadSettings() {
  ReadFile("ORVEL_TEST_STORE_CERT", g_cardCertificate);
  ReadFile("ORVEL_TEST_STORE_RESYNC_CERT", g_resyncCertificate);
  if (const char* refuse = std::getenv("ORVEL_TEST_STORE_REFUSE"))
    g_refuseWrites = std::string(refuse) == "1";
  if (const char* signal = std::getenv("ORVEL_TEST_STORE_SIGNAL_MS"))
    g_signalMs = std::strtoul(signal, nullptr, 10);
  if (const char* log = std::getenv("ORVEL_TEST_STORE_LOG")) g_log = log;
}

// Puts a certificate in the store as a card store does: with key-provider
// information naming the card's provider.
void AddCardCertificate(HCERTSTORE store, const std::vector<BYTE>& der) {
  if (der.empty()) return;
  PCCERT_CONTEXT context =
      CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
  if (!context) return;
  std::u16string container = kTestStoreContainer, provider = kTestStoreProvName;
  CRYPT_KEY_PROV_INFO info{container.data(), provider.data(), PROV_RSA_FULL, 0, 0,
                           nullptr,          AT_KEYEXCHANGE};
  CertSetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, 0, &info);
  CertAddCertificateContextToStore(store, context, CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  CertFreeCertificateContext(context);
}

void SignalLater(void*) {
  DWORD delay;
  {
    std::lock_guard lock(g_lock);
    delay = g_signalMs;
  }
  Sleep(delay);
  std::vector<HANDLE> events;
  {
    std::lock_guard lock(g_lock);
    events = g_events;
  }
  for (HANDLE event : events) SetEvent(event);
  _endthread();
}

void CloseCallback(HCERTSTOREPROV, DWORD) {
  std::lock_guard lock(g_lock);
  ++g_counters.closes;
  Log("close");
}

BOOL WriteCallback(HCERTSTOREPROV, PCCERT_CONTEXT, DWORD flags) {
  std::lock_guard lock(g_lock);
  ++g_counters.writes;
  g_counters.lastWriteFlags = flags;
  char line[32];
  std::snprintf(line, sizeof line, "write 0x%08lX", static_cast<unsigned long>(flags));
  Log(line);
  return g_refuseWrites ? FALSE : TRUE;
}

BOOL ControlCallback(HCERTSTOREPROV provider, DWORD, DWORD type, void const* parameter) {
  HANDLE event = parameter ? *static_cast<const HANDLE*>(parameter) : nullptr;
  bool signal = false;
  std::vector<BYTE> resync;
  {
    std::lock_guard lock(g_lock);
    ++g_counters.controls;
    g_counters.lastControlType = type;
    g_counters.lastControlEvent = event;
    Log("control " + std::to_string(type));
    if ((type == CERT_STORE_CTRL_NOTIFY_CHANGE || type == CERT_STORE_CTRL_RESYNC) && event) {
      ResetEvent(event);
      if (std::find(g_events.begin(), g_events.end(), event) == g_events.end())
        g_events.push_back(event);
      signal = type == CERT_STORE_CTRL_NOTIFY_CHANGE && g_signalMs != 0;
    }
    if (type == CERT_STORE_CTRL_RESYNC) resync = g_resyncCertificate;
  }
  if (type == CERT_STORE_CTRL_RESYNC) AddCardCertificate(static_cast<HCERTSTORE>(provider), resync);
  if (signal && _beginthread(&SignalLater, 0, nullptr) == static_cast<uintptr_t>(-1)) return FALSE;
  return TRUE;
}

StoreCallbackTable g_callbacks = StoreCallbacks(&CloseCallback, &WriteCallback, &ControlCallback);

BOOL OpenStore(LPCSTR, DWORD, HCRYPTPROV, DWORD flags, const void* parameter, HCERTSTORE store,
               PCERT_STORE_PROV_INFO info) {
  std::vector<BYTE> certificate;
  {
    std::lock_guard lock(g_lock);
    ++g_counters.opens;
    g_counters.lastOpenStore = store;
    g_counters.lastOpenFlags = flags;
    const auto* name = static_cast<const char16_t*>(parameter);
    std::size_t i = 0;
    for (; name && name[i] && i + 1 < std::size(g_counters.lastOpenName); ++i)
      g_counters.lastOpenName[i] = name[i];
    g_counters.lastOpenName[i] = u'\0';
    certificate = g_cardCertificate;
    Log("open");
  }
  info->cStoreProvFunc = CERT_STORE_PROV_FUNC_COUNT;
  info->rgpvStoreProvFunc = g_callbacks.data();
  info->hStoreProv = store;
  info->dwStoreProvFlags = 0;
  info->hStoreProvFuncAddr2 = nullptr;
  AddCardCertificate(store, certificate);
  return TRUE;
}

const CRYPT_OID_FUNC_ENTRY kOpenEntry = {kTestStoreProvider, reinterpret_cast<void*>(&OpenStore)};

}  // namespace

TEST_STORE_EXPORT BOOL DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  std::lock_guard lock(g_lock);
  if (reason == DLL_PROCESS_ATTACH) {
    if (g_refuseAttach) return FALSE;
    ReadSettings();
    if (!CryptInstallOIDFunctionAddress(instance, 0, CRYPT_OID_OPEN_STORE_PROV_FUNC, 1, &kOpenEntry,
                                        0)) {
      return FALSE;
    }
    ++g_counters.attaches;
    Log("attach");
  } else if (reason == DLL_PROCESS_DETACH) {
    ++g_counters.detaches;
    Log("detach");
  }
  return TRUE;
}

TEST_STORE_EXPORT HRESULT DllRegisterServer(void) {
  if (!CryptRegisterOIDFunction(0, CRYPT_OID_OPEN_STORE_PROV_FUNC, kTestStoreProvider,
                                kTestStoreModule, CRYPT_OID_OPEN_STORE_PROV_FUNC)) {
    return E_FAIL;
  }
  CERT_PHYSICAL_STORE_INFO info{};
  info.cbSize = sizeof info;
  info.pszOpenStoreProvider = const_cast<LPSTR>(kTestStoreProvider);
  info.dwFlags = CERT_PHYSICAL_STORE_ADD_ENABLE_FLAG;
  return CertRegisterPhysicalStore(u"MY",
                                   CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_CREATE_NEW_FLAG,
                                   kTestStorePhysicalName, &info, nullptr)
             ? S_OK
             : E_FAIL;
}

TEST_STORE_EXPORT HRESULT DllUnregisterServer(void) {
  if (!CertUnregisterPhysicalStore(u"MY", CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_DELETE_FLAG,
                                   kTestStorePhysicalName)) {
    return E_FAIL;
  }
  return CryptUnregisterOIDFunction(0, CRYPT_OID_OPEN_STORE_PROV_FUNC, kTestStoreProvider) ? S_OK
                                                                                           : E_FAIL;
}

// The open function under its export name, for registrations that name it.
TEST_STORE_EXPORT BOOL TestOpenStoreByExport(LPCSTR provider, DWORD encoding, HCRYPTPROV prov,
                                             DWORD flags, const void* parameter, HCERTSTORE store,
                                             PCERT_STORE_PROV_INFO info) {
  return OpenStore(provider, encoding, prov, flags, parameter, store, info);
}

TEST_STORE_EXPORT TestStoreCounters* TestStoreGetCounters(void) { return &g_counters; }

TEST_STORE_EXPORT void TestStoreReset(void) {
  std::lock_guard lock(g_lock);
  g_counters = TestStoreCounters{};
  g_cardCertificate.clear();
  g_resyncCertificate.clear();
  g_refuseWrites = false;
  g_refuseAttach = false;
  g_events.clear();
}

TEST_STORE_EXPORT void TestStoreSetRefuseWrites(BOOL refuse) {
  std::lock_guard lock(g_lock);
  g_refuseWrites = refuse != FALSE;
}

TEST_STORE_EXPORT void TestStoreSetRefuseAttach(BOOL refuse) {
  std::lock_guard lock(g_lock);
  g_refuseAttach = refuse != FALSE;
}

TEST_STORE_EXPORT void TestStoreSetCardCertificate(const BYTE* data, DWORD size) {
  std::lock_guard lock(g_lock);
  g_cardCertificate.assign(data, data + size);
}

TEST_STORE_EXPORT void TestStoreSetResyncCertificate(const BYTE* data, DWORD size) {
  std::lock_guard lock(g_lock);
  g_resyncCertificate.assign(data, data + size);
}
