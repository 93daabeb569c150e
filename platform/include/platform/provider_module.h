// The interface between the platform's cryptographic functions and a
// provider module. A provider module is a shared library that exports, with C
// linkage, one function named ORVEL_PROVIDER_ENTRY_POINT returning its table
// of operations. The platform's Crypt* functions validate their own handles
// and call the table with the module's handles; the built-in software
// provider implements the same table.
//
// Every operation returns ERROR_SUCCESS (0) or the Windows error code the
// platform function reports through SetLastError (NTE_*, ERROR_MORE_DATA...).
// A module therefore never touches the caller's last-error state. Handles are
// the module's own values; the platform never interprets them.
#pragma once

#include "platform/wincrypt.h"

extern "C" {

#define ORVEL_PROVIDER_INTERFACE_VERSION 2UL
#define ORVEL_PROVIDER_ENTRY_POINT "OrvelGetProviderFunctions"

// One entry a line, wrapped as a declaration would be.
// clang-format off
typedef struct _ORVEL_PROVIDER_FUNCTIONS {
  DWORD dwVersion;  // ORVEL_PROVIDER_INTERFACE_VERSION

  // szContainer may be null (no container, or the default one). With
  // CRYPT_DELETEKEYSET the container is deleted and *phProv is left alone.
  DWORD (*AcquireContext)(LPCSTR szContainer, LPCSTR szProvider, DWORD dwProvType, DWORD dwFlags,
                          ULONG_PTR* phProv);
  DWORD (*ReleaseContext)(ULONG_PTR hProv);
  // Variable-length values follow the platform's two-call pattern: a null
  // pbData asks for the size, a short buffer gives ERROR_MORE_DATA and the size.
  DWORD (*GetProvParam)(ULONG_PTR hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                        DWORD dwFlags);
  DWORD (*SetProvParam)(ULONG_PTR hProv, DWORD dwParam, const BYTE* pbData, DWORD dwFlags);
  DWORD (*GetUserKey)(ULONG_PTR hProv, DWORD dwKeySpec, ULONG_PTR* phKey);
  DWORD (*ExportKey)(ULONG_PTR hKey, DWORD dwBlobType, DWORD dwFlags, BYTE* pbData,
                     DWORD* pdwDataLen);
  DWORD (*SetKeyParam)(ULONG_PTR hKey, DWORD dwParam, const BYTE* pbData, DWORD dwFlags);
  DWORD (*DestroyKey)(ULONG_PTR hKey);
  DWORD (*CreateHash)(ULONG_PTR hProv, ALG_ID algId, DWORD dwFlags, ULONG_PTR* phHash);
  DWORD (*HashData)(ULONG_PTR hHash, const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags);
  DWORD (*GetHashParam)(ULONG_PTR hHash, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                        DWORD dwFlags);
  DWORD (*DestroyHash)(ULONG_PTR hHash);

  // Since version 2: the private-key operations and public keys.
  DWORD (*SetHashParam)(ULONG_PTR hHash, DWORD dwParam, const BYTE* pbData, DWORD dwFlags);
  // The signature little-endian; a null pbSignature asks for its size.
  DWORD (*SignHash)(ULONG_PTR hHash, DWORD dwKeySpec, DWORD dwFlags, BYTE* pbSignature,
                    DWORD* pdwSigLen);
  // hPubKey is a key of the same module.
  DWORD (*VerifySignature)(ULONG_PTR hHash, const BYTE* pbSignature, DWORD dwSigLen,
                           ULONG_PTR hPubKey, DWORD dwFlags);
  // In place: *pdwDataLen is the cryptogram's length in, the plaintext's out.
  DWORD (*Decrypt)(ULONG_PTR hKey, BOOL fFinal, DWORD dwFlags, BYTE* pbData, DWORD* pdwDataLen);
  DWORD (*GetKeyParam)(ULONG_PTR hKey, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                       DWORD dwFlags);
  DWORD (*ImportKey)(ULONG_PTR hProv, const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags,
                     ULONG_PTR* phKey);
} ORVEL_PROVIDER_FUNCTIONS;
// clang-format on

typedef const ORVEL_PROVIDER_FUNCTIONS* (*PFN_ORVEL_GET_PROVIDER_FUNCTIONS)(void);

}  // extern "C"
