// Memory certificate stores: CertOpenStore, CertAddCertificateContextToStore,
// CertEnumCertificatesInStore and CertCloseStore. A store holds its own
// context for every certificate, in the order they were added; a context
// handed out by a store outlives the store's closing until it is freed.
// Stores with more behaviour (system, provider and collection stores) are
// extended stores (extended_store.h); the functions here hand them their
// calls.
#include "extended_store.h"
#include "platform/copy_out.h"
#include "store_impl.h"

#include <strings.h>
#include <algorithm>

#include <cstring>
#include <unordered_map>

namespace platform::crypt {
namespace {

// Never destroyed, for the same reason as the context registry.
std::unordered_map<HCERTSTORE, std::unique_ptr<StoreImpl>>& Stores() {
  static auto& stores = *new std::unordered_map<HCERTSTORE, std::unique_ptr<StoreImpl>>();
  return stores;
}

}  // namespace

StoreImpl* FindStoreLocked(HCERTSTORE store) {
  auto it = Stores().find(store);
  return it == Stores().end() ? nullptr : it->second.get();
}

HCERTSTORE RegisterStoreLocked(std::unique_ptr<StoreImpl> store) {
  HCERTSTORE handle = store.get();
  Stores().emplace(handle, std::move(store));
  return handle;
}

void UnregisterEmptyStoreLocked(HCERTSTORE handle) { Stores().erase(handle); }

CertContextImpl* FindCertificateLocked(const StoreImpl& store, const CertContextImpl& certificate) {
  auto it =
      std::find_if(store.certificates.begin(), store.certificates.end(),
                   [&certificate](CertContextImpl* c) { return SameCertificate(*c, certificate); });
  return it == store.certificates.end() ? nullptr : *it;
}

DWORD ReloadStoreLocked(HCERTSTORE handle, StoreImpl& store, std::vector<HCRYPTPROV>& released) {
  if (!store.backing) return ERROR_CALL_NOT_IMPLEMENTED;
  std::vector<std::unique_ptr<CertContextImpl>> loaded;
  if (DWORD error = store.backing->Load(handle, loaded)) return error;
  for (CertContextImpl* cert : store.certificates) {
    if (HCRYPTPROV h = ReleaseContextLocked(cert)) released.push_back(h);
  }
  store.certificates.clear();
  for (auto& cert : loaded) {
    CertContextImpl* impl = cert.get();
    RegisterContextLocked(std::move(cert));
    store.certificates.push_back(impl);
  }
  return ERROR_SUCCESS;
}

}  // namespace platform::crypt

using namespace platform::crypt;

namespace {

bool IsMemoryProvider(LPCSTR provider) {
  if (provider == CERT_STORE_PROV_MEMORY) return true;
  // Small integer values are predefined provider numbers, not strings.
  if (reinterpret_cast<ULONG_PTR>(provider) <= 0xFFFF) return false;
  return strcasecmp(provider, sz_CERT_STORE_PROV_MEMORY) == 0;
}

void ReleaseProviders(const std::vector<HCRYPTPROV>& handles) {
  for (HCRYPTPROV h : handles) CryptReleaseContext(h, 0);
}

}  // namespace

extern "C" HCERTSTORE CertOpenStore(LPCSTR lpszStoreProvider, DWORD dwEncodingType,
                                    HCRYPTPROV hCryptProv, DWORD dwFlags, const void* pvPara) {
  if (!lpszStoreProvider) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  if (!IsMemoryProvider(lpszStoreProvider)) {
    return OpenExtendedStore(lpszStoreProvider, dwEncodingType, hCryptProv, dwFlags, pvPara);
  }
  auto store = std::make_unique<StoreImpl>();
  store->readOnly = (dwFlags & CERT_STORE_READONLY_FLAG) != 0;
  std::lock_guard lock(CertificateLock());
  return RegisterStoreLocked(std::move(store));
}

extern "C" BOOL CertCloseStore(HCERTSTORE hCertStore, DWORD dwFlags) {
  if (!hCertStore) return TRUE;
  if (auto extended = TakeExtendedStore(hCertStore)) return extended->Close(dwFlags);
  std::vector<HCRYPTPROV> released;
  bool pending = false;
  {
    std::lock_guard lock(CertificateLock());
    StoreImpl* store = FindStoreLocked(hCertStore);
    if (!store) return Fail(ERROR_INVALID_HANDLE);
    for (CertContextImpl* cert : store->certificates) {
      pending = pending || cert->references > 1;
      if (HCRYPTPROV h = ReleaseContextLocked(cert)) released.push_back(h);
    }
    Stores().erase(hCertStore);
  }
  ReleaseProviders(released);
  if (pending && (dwFlags & CERT_CLOSE_STORE_CHECK_FLAG)) return Fail(CRYPT_E_PENDING_CLOSE);
  return TRUE;
}

extern "C" BOOL CertAddCertificateContextToStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pCertContext,
                                                 DWORD dwAddDisposition,
                                                 PCCERT_CONTEXT* ppStoreContext) {
  if (ppStoreContext) *ppStoreContext = nullptr;
  if (auto extended = FindExtendedStore(hCertStore)) {
    return extended->Add(pCertContext, dwAddDisposition, ppStoreContext);
  }
  HCRYPTPROV released = 0;
  {
    std::lock_guard lock(CertificateLock());
    StoreImpl* store = FindStoreLocked(hCertStore);
    CertContextImpl* source = FindContextLocked(pCertContext);
    if (!store || !source) return Fail(ERROR_INVALID_HANDLE);
    if (store->readOnly) return Fail(ERROR_ACCESS_DENIED);

    auto existing =
        std::find_if(store->certificates.begin(), store->certificates.end(),
                     [source](CertContextImpl* c) { return SameCertificate(*c, *source); });
    bool found = existing != store->certificates.end();
    if (found && dwAddDisposition == CERT_STORE_ADD_USE_EXISTING) {
      if (ppStoreContext) {
        ++(*existing)->references;
        *ppStoreContext = &(*existing)->pub;
      }
      return TRUE;
    }
    auto added = CopyContext(*source, hCertStore);
    switch (dwAddDisposition) {
      case CERT_STORE_ADD_NEW:
        if (found) return Fail(CRYPT_E_EXISTS);
        break;
      case CERT_STORE_ADD_USE_EXISTING:  // not there yet
        break;
      case CERT_STORE_ADD_ALWAYS:
        found = false;
        break;
      case CERT_STORE_ADD_REPLACE_EXISTING:
        break;
      case CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES:
        if (found) {
          if (!added->keyProvInfo) added->keyProvInfo = (*existing)->keyProvInfo;
          for (const auto& [id, value] : (*existing)->blobProperties)
            added->blobProperties.emplace(id, value);
        }
        break;
      default:
        return Fail(ERROR_INVALID_PARAMETER);
    }
    // A persistent store records the certificate first: what cannot be
    // recorded does not enter the store.
    if (store->backing) {
      if (DWORD error = store->backing->Put(*added)) return Fail(error);
    }
    CertContextImpl* impl = added.get();
    RegisterContextLocked(std::move(added));
    if (found) {
      // The replacement takes the place of the certificate it replaces.
      released = ReleaseContextLocked(*existing);
      *existing = impl;
    } else {
      store->certificates.push_back(impl);
    }
    if (ppStoreContext) {
      ++impl->references;
      *ppStoreContext = &impl->pub;
    }
  }
  if (released) CryptReleaseContext(released, 0);
  return TRUE;
}

extern "C" PCCERT_CONTEXT CertEnumCertificatesInStore(HCERTSTORE hCertStore,
                                                      PCCERT_CONTEXT pPrevCertContext) {
  if (auto extended = FindExtendedStore(hCertStore)) return extended->Enumerate(pPrevCertContext);
  HCRYPTPROV released = 0;
  PCCERT_CONTEXT next = nullptr;
  DWORD error = ERROR_SUCCESS;
  {
    std::lock_guard lock(CertificateLock());
    StoreImpl* store = FindStoreLocked(hCertStore);
    CertContextImpl* previous = FindContextLocked(pPrevCertContext);
    if (!store || (pPrevCertContext && !previous)) {
      error = ERROR_INVALID_HANDLE;
    } else {
      std::size_t index = 0;
      if (previous) {
        auto it = std::find(store->certificates.begin(), store->certificates.end(), previous);
        index = it == store->certificates.end()
                    ? store->certificates.size()
                    : static_cast<std::size_t>(it - store->certificates.begin()) + 1;
      }
      if (index < store->certificates.size()) {
        CertContextImpl* impl = store->certificates[index];
        ++impl->references;
        next = &impl->pub;
      } else {
        error = CRYPT_E_NOT_FOUND;
      }
    }
    // The previous context is released whatever the outcome.
    if (previous) released = ReleaseContextLocked(previous);
  }
  if (released) CryptReleaseContext(released, 0);
  if (!next) SetLastError(error);
  return next;
}
