// The provider's operations with the card's keys: the PIN, signing a hash,
// deciphering, the keys' parameters and public parts.
//
// The card computes with a key through MANAGE SECURITY ENVIRONMENT SET and
// PERFORM SECURITY OPERATION (the card object's SetSecurityEnvironment,
// ComputeSignature, Decipher): the signature-role key signs, the
// exchange-role key deciphers. When the card wants the PIN (6982) and the
// context was not acquired with CRYPT_SILENT, the PIN is asked for once
// (pin_prompt.h), verified, and the operation runs again.
#pragma once

#include <openssl/evp.h>

#include <memory>
#include <span>

#include "platform/wincrypt.h"

namespace orvelcsp {

struct ProviderContext;
struct KeyObject;

// VERIFY with the card; the caller holds the context's card lock.
// SCARD_W_WRONG_CHV, SCARD_W_CHV_BLOCKED for the card's refusals.
DWORD VerifyCardPin(ProviderContext& context, const char* pin);

// The public key of a DER certificate; null when it does not decode.
std::shared_ptr<EVP_PKEY> CertificatePublicKey(std::span<const BYTE> certificate);

// The public key of a key handle: an imported key's own, or that of the
// certificate bound to the card key; null when there is none yet.
std::shared_ptr<EVP_PKEY> PublicKeyOf(KeyObject& key);
// The key object of an imported public key (taking it) in that role.
std::shared_ptr<KeyObject> ImportedKey(EVP_PKEY* key, DWORD keySpec);

DWORD ExportKey(ULONG_PTR hKey, DWORD dwBlobType, DWORD dwFlags, BYTE* pbData, DWORD* pdwDataLen);
DWORD SignHash(ULONG_PTR hHash, DWORD dwKeySpec, DWORD dwFlags, BYTE* pbSignature,
               DWORD* pdwSigLen);
DWORD Decrypt(ULONG_PTR hKey, BOOL fFinal, DWORD dwFlags, BYTE* pbData, DWORD* pdwDataLen);
DWORD GetKeyParam(ULONG_PTR hKey, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen, DWORD dwFlags);
}  // namespace orvelcsp
