// Stores of an open-store provider. The provider's open function gets a
// memory store of its own to fill (its certificates live there) and hands
// back its callback table, which the store keeps for its whole life: the
// close callback runs when the store is closed, CertControlStore goes to the
// control callback, and a certificate added to the store is first offered to
// the write callback, with CERT_STORE_PROV_WRITE_ADD_FLAG and the add
// disposition in the upper 16 bits; only what it accepts enters the store.
// What the provider adds to its memory store itself reaches no callback.
#include "cert_context.h"
#include "extended_store.h"
#include "platform/copy_out.h"
#include "store_impl.h"

#include <vector>

namespace platform::crypt {
namespace {

// More entries than any provider table has; a larger count is not believed.
constexpr DWORD kMaxCallbacks = 64;

class ProviderStore final : public ExtendedStore {
 public:
  ProviderStore(HCERTSTORE content, HCRYPTOIDFUNCADDR openFunction, bool readOnly)
      : m_content(content), m_openFunction(openFunction), m_readOnly(readOnly) {}

  // Takes what the open function filled in.
  void Keep(const CERT_STORE_PROV_INFO& info) {
    if (info.rgpvStoreProvFunc) {
      const DWORD count = std::min(info.cStoreProvFunc, kMaxCallbacks);
      m_callbacks.assign(info.rgpvStoreProvFunc, info.rgpvStoreProvFunc + count);
    }
    m_provider = info.hStoreProv;
    m_secondFunction = info.hStoreProvFuncAddr2;
  }

  BOOL Add(PCCERT_CONTEXT certificate, DWORD disposition, PCCERT_CONTEXT* storeContext) override {
    if (disposition < CERT_STORE_ADD_NEW ||
        disposition > CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
    if (m_readOnly) return Fail(ERROR_ACCESS_DENIED);
    {
      std::lock_guard lock(CertificateLock());
      CertContextImpl* source = FindContextLocked(certificate);
      StoreImpl* content = FindStoreLocked(m_content);
      if (!source || !content) return Fail(ERROR_INVALID_HANDLE);
      CertContextImpl* existing = FindCertificateLocked(*content, *source);
      if (existing && disposition == CERT_STORE_ADD_NEW) return Fail(CRYPT_E_EXISTS);
      if (existing && disposition == CERT_STORE_ADD_USE_EXISTING) {
        if (storeContext) {
          ++existing->references;
          *storeContext = &existing->pub;
        }
        return TRUE;
      }
    }
    if (auto write = Callback<PFN_CERT_STORE_PROV_WRITE_CERT>(CERT_STORE_PROV_WRITE_CERT_FUNC)) {
      SetLastError(ERROR_SUCCESS);
      if (!write(m_provider, certificate, (disposition << 16) | CERT_STORE_PROV_WRITE_ADD_FLAG)) {
        // The provider refused; it need not say why.
        if (GetLastError() == ERROR_SUCCESS) SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
      }
    }
    return CertAddCertificateContextToStore(m_content, certificate, disposition, storeContext);
  }

  PCCERT_CONTEXT Enumerate(PCCERT_CONTEXT previous) override {
    return CertEnumCertificatesInStore(m_content, previous);
  }

  BOOL Control(DWORD flags, DWORD controlType, const void* parameter) override {
    auto control = Callback<PFN_CERT_STORE_PROV_CONTROL>(CERT_STORE_PROV_CONTROL_FUNC);
    if (!control) return Fail(ERROR_CALL_NOT_IMPLEMENTED);
    return control(m_provider, flags, controlType, parameter);
  }

  BOOL Close(DWORD flags) override {
    if (auto close = Callback<PFN_CERT_STORE_PROV_CLOSE>(CERT_STORE_PROV_CLOSE_FUNC))
      close(m_provider, flags);
    const BOOL closed = CertCloseStore(m_content, flags);
    const DWORD error = GetLastError();
    // The provider's module may go only once nothing of it is called again.
    CryptFreeOIDFunctionAddress(m_secondFunction, 0);
    CryptFreeOIDFunctionAddress(m_openFunction, 0);
    if (!closed) SetLastError(error);
    return closed;
  }

  HCERTSTORE ContentStore() const override { return m_content; }

 private:
  template <class Function>
  Function Callback(DWORD index) const {
    return index < m_callbacks.size() ? reinterpret_cast<Function>(m_callbacks[index]) : nullptr;
  }

  const HCERTSTORE m_content;
  const HCRYPTOIDFUNCADDR m_openFunction;
  const bool m_readOnly;
  std::vector<void*> m_callbacks;
  HCERTSTOREPROV m_provider = nullptr;
  HCRYPTOIDFUNCADDR m_secondFunction = nullptr;
};

HCRYPTOIDFUNCSET OpenStoreFunctions() {
  static HCRYPTOIDFUNCSET set = CryptInitOIDFunctionSet(CRYPT_OID_OPEN_STORE_PROV_FUNC, 0);
  return set;
}

}  // namespace

HCERTSTORE OpenProviderStore(LPCSTR provider, DWORD encodingType, HCRYPTPROV cryptProv, DWORD flags,
                             const void* parameter) {
  void* address = nullptr;
  HCRYPTOIDFUNCADDR function = nullptr;
  if (!CryptGetOIDFunctionAddress(OpenStoreFunctions(), encodingType, provider, 0, &address,
                                  &function)) {
    // An unknown provider, or one whose module cannot be loaded.
    if (GetLastError() == ERROR_PROC_NOT_FOUND) SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  const auto open = reinterpret_cast<PFN_CERT_DLL_OPEN_STORE_PROV_FUNC>(address);
  HCERTSTORE content = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  if (!content) {
    CryptFreeOIDFunctionAddress(function, 0);
    return nullptr;
  }
  auto store =
      std::make_shared<ProviderStore>(content, function, (flags & CERT_STORE_READONLY_FLAG) != 0);
  CERT_STORE_PROV_INFO info{};
  info.cbSize = sizeof info;
  SetLastError(ERROR_SUCCESS);
  if (!open(provider, encodingType, cryptProv, flags, parameter, content, &info)) {
    DWORD error = GetLastError();
    if (error == ERROR_SUCCESS) error = ERROR_OPEN_FAILED;
    CertCloseStore(content, 0);
    CryptFreeOIDFunctionAddress(info.hStoreProvFuncAddr2, 0);
    CryptFreeOIDFunctionAddress(function, 0);
    SetLastError(error);
    return nullptr;
  }
  store->Keep(info);
  return RegisterExtendedStore(std::move(store));
}

}  // namespace platform::crypt
