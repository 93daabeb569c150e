// Stores whose behaviour goes beyond holding certificates: provider stores
// (an open-store provider's callbacks around a memory store) and the
// collections that system stores are made of. CertOpenStore makes them, and
// the other store functions hand them their calls; no store lock is held
// while they run, so the callbacks they make may use every store function.
#pragma once

#include "platform/wincrypt.h"

#include <memory>

namespace platform::crypt {

class ExtendedStore {
 public:
  virtual ~ExtendedStore() = default;
  virtual BOOL Add(PCCERT_CONTEXT certificate, DWORD disposition, PCCERT_CONTEXT* storeContext) = 0;
  virtual PCCERT_CONTEXT Enumerate(PCCERT_CONTEXT previous) = 0;
  virtual BOOL Control(DWORD flags, DWORD controlType, const void* parameter) = 0;
  // Releases everything the store holds; called once, after the store's
  // handle has been withdrawn.
  virtual BOOL Close(DWORD flags) = 0;
  // The memory store whose contexts this store hands out; null when they
  // come from several.
  virtual HCERTSTORE ContentStore() const = 0;
};

HCERTSTORE RegisterExtendedStore(std::shared_ptr<ExtendedStore> store);
std::shared_ptr<ExtendedStore> FindExtendedStore(HCERTSTORE handle);
// Withdraws the handle and hands back the store (null when unknown).
std::shared_ptr<ExtendedStore> TakeExtendedStore(HCERTSTORE handle);
// The memory store holding the contexts a store hands out (the store itself
// for a memory store).
HCERTSTORE ContentStoreOf(HCERTSTORE handle);

// CertOpenStore for every provider but the memory store: system stores,
// system registry stores, and open-store functions found by provider name.
HCERTSTORE OpenExtendedStore(LPCSTR provider, DWORD encodingType, HCRYPTPROV cryptProv, DWORD flags,
                             const void* parameter);
// An open-store function's store (provider_store.cpp).
HCERTSTORE OpenProviderStore(LPCSTR provider, DWORD encodingType, HCRYPTPROV cryptProv, DWORD flags,
                             const void* parameter);

}  // namespace platform::crypt
