#include "collection_store.h"

#include "cert_context.h"
#include "platform/copy_out.h"
#include "store_impl.h"

namespace platform::crypt {
namespace {

class CollectionStore final : public ExtendedStore {
 public:
  CollectionStore(std::vector<CollectionMember> members, bool readOnly)
      : m_members(std::move(members)), m_readOnly(readOnly) {
    for (const CollectionMember& m : m_members) m_contents.push_back(ContentStoreOf(m.store));
  }

  BOOL Add(PCCERT_CONTEXT certificate, DWORD disposition, PCCERT_CONTEXT* storeContext) override {
    if (m_readOnly) return Fail(ERROR_ACCESS_DENIED);
    DWORD error = ERROR_ACCESS_DENIED;  // no member takes additions
    for (const CollectionMember& member : m_members) {
      if (!member.addEnabled) continue;
      if (CertAddCertificateContextToStore(member.store, certificate, disposition, storeContext))
        return TRUE;
      error = GetLastError();
    }
    return Fail(error);
  }

  PCCERT_CONTEXT Enumerate(PCCERT_CONTEXT previous) override {
    std::size_t member = 0;
    PCCERT_CONTEXT current = nullptr;
    if (previous) {
      HCERTSTORE from = nullptr;
      {
        std::lock_guard lock(CertificateLock());
        if (FindContextLocked(previous)) from = previous->hCertStore;
      }
      while (member < m_contents.size() && m_contents[member] != from) ++member;
      if (member == m_contents.size()) {
        CertFreeCertificateContext(previous);  // released whatever the outcome
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
      }
      current = CertEnumCertificatesInStore(m_members[member].store, previous);
    } else if (!m_members.empty()) {
      current = CertEnumCertificatesInStore(m_members[0].store, nullptr);
    }
    for (;;) {
      while (!current) {
        if (++member >= m_members.size()) {
          SetLastError(CRYPT_E_NOT_FOUND);
          return nullptr;
        }
        current = CertEnumCertificatesInStore(m_members[member].store, nullptr);
      }
      if (!HeldByEarlierMember(member, current)) return current;
      current = CertEnumCertificatesInStore(m_members[member].store, current);
    }
  }

  BOOL Control(DWORD flags, DWORD controlType, const void* parameter) override {
    bool taken = false;
    DWORD failure = ERROR_SUCCESS;
    for (const CollectionMember& member : m_members) {
      if (CertControlStore(member.store, flags, controlType, parameter)) {
        taken = true;
        continue;
      }
      const DWORD error = GetLastError();
      if (error != ERROR_CALL_NOT_IMPLEMENTED && failure == ERROR_SUCCESS) failure = error;
    }
    if (failure != ERROR_SUCCESS) return Fail(failure);
    return taken ? TRUE : Fail(ERROR_CALL_NOT_IMPLEMENTED);
  }

  BOOL Close(DWORD flags) override {
    BOOL all = TRUE;
    DWORD error = ERROR_SUCCESS;
    for (const CollectionMember& member : m_members) {
      if (!CertCloseStore(member.store, flags) && all) {
        all = FALSE;
        error = GetLastError();
      }
    }
    return all ? TRUE : Fail(error);
  }

  HCERTSTORE ContentStore() const override { return nullptr; }

 private:
  bool HeldByEarlierMember(std::size_t member, PCCERT_CONTEXT certificate) const {
    std::lock_guard lock(CertificateLock());
    const CertContextImpl* impl = FindContextLocked(certificate);
    if (!impl) return false;
    for (std::size_t i = 0; i < member; ++i) {
      const StoreImpl* store = FindStoreLocked(m_contents[i]);
      if (store && FindCertificateLocked(*store, *impl)) return true;
    }
    return false;
  }

  std::vector<CollectionMember> m_members;
  std::vector<HCERTSTORE> m_contents;  // where each member's contexts live
  const bool m_readOnly;
};

}  // namespace

HCERTSTORE OpenCollectionStore(std::vector<CollectionMember> members, bool readOnly) {
  return RegisterExtendedStore(std::make_shared<CollectionStore>(std::move(members), readOnly));
}

}  // namespace platform::crypt
