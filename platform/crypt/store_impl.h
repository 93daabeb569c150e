// The certificate store that holds certificates in memory, shared by the
// memory stores and the persistent stores (which add a backing file). Every
// function here requires CertificateLock() to be held.
#pragma once

#include "cert_context.h"

#include <memory>
#include <vector>

namespace platform::crypt {

// Where a persistent store keeps its certificates.
class StoreBacking {
 public:
  virtual ~StoreBacking() = default;
  // Records a certificate (with its properties) that is about to enter the
  // store, replacing a recorded copy of the same certificate. ERROR_SUCCESS
  // or the error that refuses the add.
  virtual DWORD Put(const CertContextImpl& certificate) = 0;
  // The recorded certificates, as new contexts of `store`.
  virtual DWORD Load(HCERTSTORE store, std::vector<std::unique_ptr<CertContextImpl>>& out) = 0;
};

struct StoreImpl {
  std::vector<CertContextImpl*> certificates;  // one reference each
  std::unique_ptr<StoreBacking> backing;       // null: memory only
  bool readOnly = false;
};

StoreImpl* FindStoreLocked(HCERTSTORE store);
HCERTSTORE RegisterStoreLocked(std::unique_ptr<StoreImpl> store);
// Withdraws a store that holds no certificate.
void UnregisterEmptyStoreLocked(HCERTSTORE handle);
// Fills the store anew from its backing, releasing what it held; the
// provider handles of released contexts are appended to `released`.
DWORD ReloadStoreLocked(HCERTSTORE handle, StoreImpl& store, std::vector<HCRYPTPROV>& released);
// The store's copy of the certificate (byte-equal encoding), or null.
CertContextImpl* FindCertificateLocked(const StoreImpl& store, const CertContextImpl& certificate);

}  // namespace platform::crypt
