// CryptAcquireCertificatePrivateKey: opens the provider and container that
// the certificate's key-provider information names.
#include "cert_context.h"
#include "platform/copy_out.h"
#include "text_convert.h"

using namespace platform::crypt;

extern "C" BOOL CryptAcquireCertificatePrivateKey(
    PCCERT_CONTEXT pCert, DWORD dwFlags, void* pvParameters,
    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE* phCryptProvOrNCryptKey, DWORD* pdwKeySpec,
    BOOL* pfCallerFreeProvOrNCryptKey) {
  if (!pCert || !phCryptProvOrNCryptKey) return Fail(ERROR_INVALID_PARAMETER);
  *phCryptProvOrNCryptKey = 0;
  KeyProvInfoValue info;
  {
    std::lock_guard lock(CertificateLock());
    CertContextImpl* impl = FindContextLocked(pCert);
    if (!impl) return Fail(ERROR_INVALID_HANDLE);
    if (!impl->keyProvInfo) return Fail(CRYPT_E_NO_KEY_PROPERTY);
    info = *impl->keyProvInfo;
    if (impl->cachedProv) {
      // A handle cached by an earlier call stays with the certificate.
      *phCryptProvOrNCryptKey = impl->cachedProv;
      if (pdwKeySpec) *pdwKeySpec = info.keySpec;
      if (pfCallerFreeProvOrNCryptKey) *pfCallerFreeProvOrNCryptKey = FALSE;
      return TRUE;
    }
  }
  auto container = ToUtf8(info.container.c_str());
  auto provider = ToUtf8(info.provider.c_str());
  if (!container || !provider) return Fail(NTE_BAD_KEYSET_PARAM);
  DWORD flags = info.flags & (CRYPT_MACHINE_KEYSET | CRYPT_SILENT);
  if (dwFlags & CRYPT_ACQUIRE_SILENT_FLAG) flags |= CRYPT_SILENT;
  HCRYPTPROV prov = 0;
  if (!CryptAcquireContextA(&prov, container->c_str(), provider->c_str(), info.provType, flags))
    return FALSE;

  BOOL callerFrees = TRUE;
  if (dwFlags & CRYPT_ACQUIRE_CACHE_FLAG) {
    HCRYPTPROV surplus = 0;
    {
      std::lock_guard lock(CertificateLock());
      CertContextImpl* impl = FindContextLocked(pCert);
      if (!impl) {
        surplus = prov;
        prov = 0;
      } else if (impl->cachedProv) {
        surplus = prov;  // another thread cached one meanwhile
        prov = impl->cachedProv;
      } else {
        impl->cachedProv = prov;
      }
    }
    if (surplus) CryptReleaseContext(surplus, 0);
    if (!prov) return Fail(ERROR_INVALID_HANDLE);
    callerFrees = FALSE;
  }
  *phCryptProvOrNCryptKey = prov;
  if (pdwKeySpec) *pdwKeySpec = info.keySpec;
  if (pfCallerFreeProvOrNCryptKey) *pfCallerFreeProvOrNCryptKey = callerFrees;
  return TRUE;
}
