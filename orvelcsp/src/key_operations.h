// The provider's operations with the card's keys: signing a hash, deciphering,
// the keys' parameters and public parts.
#pragma once

#include "platform/wincrypt.h"

namespace orvelcsp {

DWORD SignHash(ULONG_PTR hHash, DWORD dwKeySpec, DWORD dwFlags, BYTE* pbSignature,
               DWORD* pdwSigLen);
DWORD VerifySignature(ULONG_PTR hHash, const BYTE* pbSignature, DWORD dwSigLen, ULONG_PTR hPubKey,
                      DWORD dwFlags);
DWORD Decrypt(ULONG_PTR hKey, BOOL fFinal, DWORD dwFlags, BYTE* pbData, DWORD* pdwDataLen);
DWORD GetKeyParam(ULONG_PTR hKey, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen, DWORD dwFlags);
DWORD ImportKey(ULONG_PTR hProv, const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags,
                ULONG_PTR* phKey);

}  // namespace orvelcsp
