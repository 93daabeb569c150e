// The platform's Crypt* provider functions: they validate the caller's
// handles, forward to the provider that made them and report its result
// through the last-error state.
#include "platform/copy_out.h"
#include "platform/handle_table.h"
#include "provider_database.h"

using namespace platform::crypt;
using platform::HandleTable;
using platform::HandleTableOf;

namespace {

// A provider-side handle together with the provider that owns it.
struct Bound {
  const ORVEL_PROVIDER_FUNCTIONS* functions = nullptr;
  ULONG_PTR inner = 0;
};

// The platform's handles of one kind, each bound to the handle of the
// provider that made it, and the error that refuses a handle that is not one
// of them.
struct BoundHandles {
  HandleTable<Bound>& table;
  DWORD unknownError;

  ULONG_PTR Add(const ORVEL_PROVIDER_FUNCTIONS* functions, ULONG_PTR inner) const {
    return table.Add(std::make_shared<Bound>(Bound{functions, inner}));
  }
  // The bound handle (Take: and the handle removed); null, with the last
  // error set, for a handle that is not one of these.
  std::shared_ptr<Bound> Get(ULONG_PTR handle) const { return Known(table.Get(handle)); }
  std::shared_ptr<Bound> Take(ULONG_PTR handle) const { return Known(table.Take(handle)); }

 private:
  std::shared_ptr<Bound> Known(std::shared_ptr<Bound> bound) const {
    if (!bound) SetLastError(unknownError);
    return bound;
  }
};

BoundHandles Providers() { return {HandleTableOf<Bound, 1>(), NTE_BAD_UID}; }
BoundHandles Keys() { return {HandleTableOf<Bound, 2>(), NTE_BAD_KEY}; }
BoundHandles Hashes() { return {HandleTableOf<Bound, 3>(), NTE_BAD_HASH}; }

}  // namespace

extern "C" BOOL CryptAcquireContextA(HCRYPTPROV* phProv, LPCSTR szContainer, LPCSTR szProvider,
                                     DWORD dwProvType, DWORD dwFlags) {
  if (!phProv && !(dwFlags & CRYPT_DELETEKEYSET)) return Fail(ERROR_INVALID_PARAMETER);
  if (phProv) *phProv = 0;
  const ORVEL_PROVIDER_FUNCTIONS* functions = nullptr;
  if (DWORD error = FindProvider(szProvider, dwProvType, &functions)) return Fail(error);
  ULONG_PTR inner = 0;
  if (DWORD error = functions->AcquireContext(szContainer, szProvider, dwProvType, dwFlags, &inner))
    return Fail(error);
  if ((dwFlags & CRYPT_DELETEKEYSET) && (dwFlags & CRYPT_VERIFYCONTEXT) != CRYPT_VERIFYCONTEXT)
    return TRUE;  // the container is gone; there is no context
  HCRYPTPROV handle = Providers().Add(functions, inner);
  if (phProv) *phProv = handle;
  return TRUE;
}

extern "C" BOOL CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags) {
  auto prov = Providers().Take(hProv);
  if (!prov) return FALSE;
  DWORD error = prov->functions->ReleaseContext(prov->inner);
  if (dwFlags != 0) return Fail(NTE_BAD_FLAGS);
  return Report(error);
}

extern "C" BOOL CryptGetProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                                  DWORD dwFlags) {
  auto prov = Providers().Get(hProv);
  if (!prov) return FALSE;
  if (!pdwDataLen) return Fail(ERROR_INVALID_PARAMETER);
  return Report(prov->functions->GetProvParam(prov->inner, dwParam, pbData, pdwDataLen, dwFlags));
}

extern "C" BOOL CryptSetProvParam(HCRYPTPROV hProv, DWORD dwParam, const BYTE* pbData,
                                  DWORD dwFlags) {
  auto prov = Providers().Get(hProv);
  if (!prov) return FALSE;
  return Report(prov->functions->SetProvParam(prov->inner, dwParam, pbData, dwFlags));
}

extern "C" BOOL CryptGetUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey) {
  auto prov = Providers().Get(hProv);
  if (!prov) return FALSE;
  if (!phUserKey) return Fail(ERROR_INVALID_PARAMETER);
  *phUserKey = 0;
  ULONG_PTR inner = 0;
  if (DWORD error = prov->functions->GetUserKey(prov->inner, dwKeySpec, &inner)) return Fail(error);
  *phUserKey = Keys().Add(prov->functions, inner);
  return TRUE;
}

extern "C" BOOL CryptExportKey(HCRYPTKEY hKey, HCRYPTKEY hExpKey, DWORD dwBlobType, DWORD dwFlags,
                               BYTE* pbData, DWORD* pdwDataLen) {
  auto key = Keys().Get(hKey);
  if (!key) return FALSE;
  if (!pdwDataLen) return Fail(ERROR_INVALID_PARAMETER);
  // Blobs are only exported in plain form here; no wrapping key.
  if (hExpKey != 0) return Fail(NTE_BAD_KEY);
  return Report(key->functions->ExportKey(key->inner, dwBlobType, dwFlags, pbData, pdwDataLen));
}

extern "C" BOOL CryptSetKeyParam(HCRYPTKEY hKey, DWORD dwParam, const BYTE* pbData, DWORD dwFlags) {
  auto key = Keys().Get(hKey);
  if (!key) return FALSE;
  return Report(key->functions->SetKeyParam(key->inner, dwParam, pbData, dwFlags));
}

extern "C" BOOL CryptDestroyKey(HCRYPTKEY hKey) {
  auto key = Keys().Take(hKey);
  if (!key) return FALSE;
  return Report(key->functions->DestroyKey(key->inner));
}

extern "C" BOOL CryptCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags,
                                HCRYPTHASH* phHash) {
  auto prov = Providers().Get(hProv);
  if (!prov) return FALSE;
  if (!phHash) return Fail(ERROR_INVALID_PARAMETER);
  *phHash = 0;
  // Keyed hashes (MACs) are not offered.
  if (hKey != 0) return Fail(NTE_BAD_KEY);
  ULONG_PTR inner = 0;
  if (DWORD error = prov->functions->CreateHash(prov->inner, Algid, dwFlags, &inner))
    return Fail(error);
  *phHash = Hashes().Add(prov->functions, inner);
  return TRUE;
}

extern "C" BOOL CryptHashData(HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen,
                              DWORD dwFlags) {
  auto hash = Hashes().Get(hHash);
  if (!hash) return FALSE;
  return Report(hash->functions->HashData(hash->inner, pbData, dwDataLen, dwFlags));
}

extern "C" BOOL CryptGetHashParam(HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                                  DWORD dwFlags) {
  auto hash = Hashes().Get(hHash);
  if (!hash) return FALSE;
  if (!pdwDataLen) return Fail(ERROR_INVALID_PARAMETER);
  return Report(hash->functions->GetHashParam(hash->inner, dwParam, pbData, pdwDataLen, dwFlags));
}

extern "C" BOOL CryptDestroyHash(HCRYPTHASH hHash) {
  auto hash = Hashes().Take(hHash);
  if (!hash) return FALSE;
  return Report(hash->functions->DestroyHash(hash->inner));
}

extern "C" BOOL CryptSetHashParam(HCRYPTHASH hHash, DWORD dwParam, const BYTE* pbData,
                                  DWORD dwFlags) {
  auto hash = Hashes().Get(hHash);
  if (!hash) return FALSE;
  return Report(hash->functions->SetHashParam(hash->inner, dwParam, pbData, dwFlags));
}

extern "C" BOOL CryptSignHashA(HCRYPTHASH hHash, DWORD dwKeySpec, LPCSTR, DWORD dwFlags,
                               BYTE* pbSignature, DWORD* pdwSigLen) {
  auto hash = Hashes().Get(hHash);
  if (!hash) return FALSE;
  if (!pdwSigLen) return Fail(ERROR_INVALID_PARAMETER);
  return Report(hash->functions->SignHash(hash->inner, dwKeySpec, dwFlags, pbSignature, pdwSigLen));
}

extern "C" BOOL CryptVerifySignatureA(HCRYPTHASH hHash, const BYTE* pbSignature, DWORD dwSigLen,
                                      HCRYPTKEY hPubKey, LPCSTR, DWORD dwFlags) {
  auto hash = Hashes().Get(hHash);
  if (!hash) return FALSE;
  auto key = Keys().Get(hPubKey);
  // The key must come from the provider that made the hash.
  if (!key || key->functions != hash->functions) return Fail(NTE_BAD_KEY);
  if (!pbSignature) return Fail(ERROR_INVALID_PARAMETER);
  return Report(
      hash->functions->VerifySignature(hash->inner, pbSignature, dwSigLen, key->inner, dwFlags));
}

extern "C" BOOL CryptDecrypt(HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL Final, DWORD dwFlags,
                             BYTE* pbData, DWORD* pdwDataLen) {
  auto key = Keys().Get(hKey);
  if (!key) return FALSE;
  if (!pbData || !pdwDataLen) return Fail(ERROR_INVALID_PARAMETER);
  // RSA deciphers one whole cryptogram: no hash alongside, no stream.
  if (hHash != 0) return Fail(NTE_BAD_HASH);
  if (dwFlags != 0) return Fail(NTE_BAD_FLAGS);
  if (!Final) return Fail(NTE_BAD_DATA);
  return Report(key->functions->Decrypt(key->inner, Final, dwFlags, pbData, pdwDataLen));
}

extern "C" BOOL CryptGetKeyParam(HCRYPTKEY hKey, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                                 DWORD dwFlags) {
  auto key = Keys().Get(hKey);
  if (!key) return FALSE;
  if (!pdwDataLen) return Fail(ERROR_INVALID_PARAMETER);
  return Report(key->functions->GetKeyParam(key->inner, dwParam, pbData, pdwDataLen, dwFlags));
}

extern "C" BOOL CryptImportKey(HCRYPTPROV hProv, const BYTE* pbData, DWORD dwDataLen,
                               HCRYPTKEY hPubKey, DWORD dwFlags, HCRYPTKEY* phKey) {
  auto prov = Providers().Get(hProv);
  if (!prov) return FALSE;
  if (!pbData || !phKey) return Fail(ERROR_INVALID_PARAMETER);
  *phKey = 0;
  // Blobs come in plain form only; no unwrapping key.
  if (hPubKey != 0) return Fail(NTE_BAD_KEY);
  ULONG_PTR inner = 0;
  if (DWORD error = prov->functions->ImportKey(prov->inner, pbData, dwDataLen, dwFlags, &inner))
    return Fail(error);
  *phKey = Keys().Add(prov->functions, inner);
  return TRUE;
}
