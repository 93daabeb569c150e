// The functions the platform's certificate services find in this module by
// name: module entry, self-registration, the open-store function and the
// store callbacks. All with C linkage.
#pragma once

#include "platform/wincrypt.h"

// Everything else in the module stays hidden.
#define STOREPROV_EXPORT __attribute__((visibility("default")))

// None lets an exception out: each turns one into its failure result
// (entry_guard.h).
extern "C" {

STOREPROV_EXPORT BOOL DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
STOREPROV_EXPORT HRESULT DllRegisterServer(void);
STOREPROV_EXPORT HRESULT DllUnregisterServer(void);

STOREPROV_EXPORT BOOL CertDllOpenStoreProv(LPCSTR lpszStoreProvider, DWORD dwEncodingType,
                                           HCRYPTPROV hCryptProv, DWORD dwFlags, const void* pvPara,
                                           HCERTSTORE hCertStore,
                                           PCERT_STORE_PROV_INFO pStoreProvInfo);
STOREPROV_EXPORT void CertStoreProvCloseCallback(HCERTSTOREPROV hStoreProv, DWORD dwFlags) noexcept;
STOREPROV_EXPORT BOOL CertStoreProvWriteCertCallback(HCERTSTOREPROV hStoreProv,
                                                     PCCERT_CONTEXT pCertContext, DWORD dwFlags);
STOREPROV_EXPORT BOOL CertStoreProvSetCertPropertyCallback(HCERTSTOREPROV hStoreProv,
                                                           PCCERT_CONTEXT pCertContext,
                                                           DWORD dwPropId, DWORD dwFlags,
                                                           const void* pvData) noexcept;
STOREPROV_EXPORT BOOL CertStoreProvControl(HCERTSTOREPROV hStoreProv, DWORD dwFlags,
                                           DWORD dwCtrlType, void const* pvCtrlPara);

}  // extern "C"

// Number of process attaches not yet matched by a detach.
extern int ProcessAttachCount;
