// Module entry, self-registration and the open-store function.
#include "storeprov/entry_points.h"

#include "change_events.h"
#include "common/module_instance.h"
#include "entry_guard.h"
#include "populate_card_store.h"
#include "reader_state.h"
#include "reader_watcher.h"

int ProcessAttachCount = 0;

namespace {

constexpr char kOpenStoreFunctionSet[] = "CertDllOpenStoreProv";  // CRYPT_OID_OPEN_STORE_PROV_FUNC
constexpr char kProviderName[] = "OrvelCertStore";
constexpr WCHAR kModuleFileName[] = u"OrvelCertStore.dll";
constexpr WCHAR kPersonalStore[] = u"MY";
constexpr WCHAR kPhysicalStoreName[] = u"Tarjeta Orvel";

const CRYPT_OID_FUNC_ENTRY kOpenStoreEntry = {kProviderName,
                                              reinterpret_cast<void*>(&CertDllOpenStoreProv)};

// The callbacks handed to the platform, by CERT_STORE_PROV_* index; empty
// slots are null. Setting a property needs no callback: the card keeps no
// properties.
void* const StoreProvCallbacks[CERT_STORE_PROV_FUNC_COUNT] = {
    reinterpret_cast<void*>(&CertStoreProvCloseCallback),      // CLOSE
    nullptr,                                                   // READ_CERT
    reinterpret_cast<void*>(&CertStoreProvWriteCertCallback),  // WRITE_CERT
    nullptr,                                                   // DELETE_CERT
    nullptr,                                                   // SET_CERT_PROPERTY
    nullptr,                                                   // READ_CRL
    nullptr,                                                   // WRITE_CRL
    nullptr,                                                   // DELETE_CRL
    nullptr,                                                   // SET_CRL_PROPERTY
    nullptr,                                                   // READ_CTL
    nullptr,                                                   // WRITE_CTL
    nullptr,                                                   // DELETE_CTL
    nullptr,                                                   // SET_CTL_PROPERTY
    reinterpret_cast<void*>(&CertStoreProvControl),            // CONTROL
};

BOOL ProcessAttach(HINSTANCE instance) {
  if (!CryptInstallOIDFunctionAddress(instance, 0, kOpenStoreFunctionSet, 1, &kOpenStoreEntry, 0)) {
    return FALSE;
  }
  if (ProcessAttachCount == 0) {
    // A watcher that the last detach told to stop may still be finishing
    // its poll over the table that is about to be cleared.
    StopReaderWatcher();
    InitializeReaderState();
    if (!StartReaderWatcher()) return FALSE;
  }
  ModuleInstance = instance;
  ++ProcessAttachCount;
  return TRUE;
}

BOOL ProcessDetach() {
  if (ProcessAttachCount <= 0) return TRUE;
  if (--ProcessAttachCount != 0) return TRUE;
  // Waits for nothing: a population still reading a card (perhaps waiting
  // for another process's named mutex) releases the records it holds
  // itself, and the watcher leaves its loop after at most one poll. The
  // platform keeps the module's code mapped, and the module's state, which
  // owns the watcher, joins it when the process ends.
  ReleaseReaderCaches();
  TheChangeEventList().Clear();
  RequestReaderWatcherStop();
  return TRUE;
}

}  // namespace

extern "C" BOOL DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  return GuardedEntry<BOOL>(FALSE, [&]() -> BOOL {
    switch (reason) {
      case DLL_PROCESS_ATTACH:
        return ProcessAttach(instance);
      case DLL_PROCESS_DETACH:
        return ProcessDetach();
      default:
        return TRUE;
    }
  });
}

namespace {

HRESULT RegisterServer() {
  if (!CryptRegisterOIDFunction(0, kOpenStoreFunctionSet, kProviderName, kModuleFileName,
                                kOpenStoreFunctionSet)) {
    return E_FAIL;
  }
  CERT_PHYSICAL_STORE_INFO info{};
  info.cbSize = 32;
  info.pszOpenStoreProvider = const_cast<LPSTR>(kProviderName);
  info.dwOpenEncodingType = 0;
  info.dwOpenFlags = 0;
  info.OpenParameters.cbData = 0;
  info.OpenParameters.pbData = nullptr;
  info.dwFlags = CERT_PHYSICAL_STORE_ADD_ENABLE_FLAG;
  info.dwPriority = 0;
  if (!CertRegisterPhysicalStore(kPersonalStore,
                                 CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_CREATE_NEW_FLAG,
                                 kPhysicalStoreName, &info, nullptr)) {
    return E_FAIL;
  }
  return S_OK;
}

HRESULT UnregisterServer() {
  if (!CertUnregisterPhysicalStore(kPersonalStore,
                                   CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_DELETE_FLAG,
                                   kPhysicalStoreName)) {
    return E_FAIL;
  }
  if (!CryptUnregisterOIDFunction(0, kOpenStoreFunctionSet, kProviderName)) return E_FAIL;
  return S_OK;
}

}  // namespace

extern "C" HRESULT DllRegisterServer(void) { return GuardedEntry<HRESULT>(E_FAIL, RegisterServer); }

extern "C" HRESULT DllUnregisterServer(void) {
  return GuardedEntry<HRESULT>(E_FAIL, UnregisterServer);
}

extern "C" BOOL CertDllOpenStoreProv(LPCSTR lpszStoreProvider, DWORD dwEncodingType,
                                     HCRYPTPROV hCryptProv, DWORD dwFlags, const void* pvPara,
                                     HCERTSTORE hCertStore, PCERT_STORE_PROV_INFO pStoreProvInfo) {
  pStoreProvInfo->cStoreProvFunc = CERT_STORE_PROV_FUNC_COUNT;
  pStoreProvInfo->rgpvStoreProvFunc = const_cast<void**>(StoreProvCallbacks);
  pStoreProvInfo->hStoreProv = hCertStore;
  pStoreProvInfo->dwStoreProvFlags = 0;
  pStoreProvInfo->hStoreProvFuncAddr2 = nullptr;
  return GuardedEntry<BOOL>(FALSE, [&]() -> BOOL { return PopulateCardStore(hCertStore); });
}

// The card cache outlives every store; closing one changes nothing.
extern "C" void CertStoreProvCloseCallback(HCERTSTOREPROV hStoreProv, DWORD dwFlags) noexcept {}

extern "C" BOOL CertStoreProvSetCertPropertyCallback(HCERTSTOREPROV hStoreProv,
                                                     PCCERT_CONTEXT pCertContext, DWORD dwPropId,
                                                     DWORD dwFlags, const void* pvData) noexcept {
  return TRUE;
}
