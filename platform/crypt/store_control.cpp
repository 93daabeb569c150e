// CertControlStore.
#include "extended_store.h"
#include "platform/copy_out.h"
#include "store_impl.h"

using namespace platform::crypt;

extern "C" BOOL CertControlStore(HCERTSTORE hCertStore, DWORD dwFlags, DWORD dwCtrlType,
                                 void const* pvCtrlPara) {
  if (auto extended = FindExtendedStore(hCertStore))
    return extended->Control(dwFlags, dwCtrlType, pvCtrlPara);
  std::vector<HCRYPTPROV> released;
  DWORD result = ERROR_SUCCESS;
  {
    std::lock_guard lock(CertificateLock());
    StoreImpl* store = FindStoreLocked(hCertStore);
    if (!store) return Fail(ERROR_INVALID_HANDLE);
    if (!store->backing) {
      result = ERROR_CALL_NOT_IMPLEMENTED;  // a memory store has nothing to resynchronise
    } else if (dwCtrlType == CERT_STORE_CTRL_RESYNC) {
      result = ReloadStoreLocked(hCertStore, *store, released);
    } else if (dwCtrlType == CERT_STORE_CTRL_COMMIT) {
      result = ERROR_SUCCESS;  // every addition is written at once
    } else {
      result = ERROR_CALL_NOT_IMPLEMENTED;
    }
  }
  for (HCRYPTPROV h : released) CryptReleaseContext(h, 0);
  return Report(result);
}
