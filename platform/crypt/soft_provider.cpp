#include "soft_provider.h"

#include "key_container.h"
#include "platform/copy_out.h"
#include "platform/handle_table.h"
#include "platform/provider_crypto.h"
#include "platform/provider_registry.h"
#include "secure_bytes.h"

#include <openssl/pem.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace platform::crypt {
namespace {

struct SoftProvider {
  std::string container;  // empty for CRYPT_VERIFYCONTEXT
};

struct SoftKey {
  EvpPkeyPtr key;
  DWORD keySpec = 0;
  bool exportable = false;
  bool hasPrivate = true;  // false for an imported public key
};

struct SoftHash {
  std::shared_ptr<SoftProvider> context;  // whose container signs it
  std::unique_ptr<CProviderHash> hash;
};

HandleTable<SoftProvider>& Providers() { return HandleTableOf<SoftProvider, 9>(); }
HandleTable<SoftKey>& Keys() { return HandleTableOf<SoftKey, 10>(); }
HandleTable<SoftHash>& Hashes() { return HandleTableOf<SoftHash, 11>(); }

// Without a name the provider uses the user's default container.
std::string DefaultContainerName() {
  const char* user = std::getenv("USER");
  return user && *user ? user : "default";
}

DWORD AcquireContext(LPCSTR szContainer, LPCSTR, DWORD dwProvType, DWORD dwFlags,
                     ULONG_PTR* phProv) {
  if (dwProvType != PROV_RSA_FULL) return NTE_PROV_TYPE_NO_MATCH;
  bool verify = (dwFlags & CRYPT_VERIFYCONTEXT) == CRYPT_VERIFYCONTEXT;
  DWORD action = dwFlags & ~(CRYPT_VERIFYCONTEXT | CRYPT_SILENT);
  if (action != 0 && action != CRYPT_NEWKEYSET && action != CRYPT_DELETEKEYSET)
    return NTE_BAD_FLAGS;
  if (verify) {
    if (action != 0 || (szContainer && *szContainer)) return NTE_BAD_FLAGS;
    *phProv = Providers().Add(std::make_shared<SoftProvider>());
    return ERROR_SUCCESS;
  }
  std::string name = szContainer && *szContainer ? szContainer : DefaultContainerName();
  if (action == CRYPT_DELETEKEYSET) return DeleteKeyContainer(name);
  if (action == CRYPT_NEWKEYSET) {
    if (DWORD error = CreateKeyContainer(name, KeyContainerRecord{})) return error;
  } else if (!KeyContainerExists(name)) {
    return NTE_BAD_KEYSET;
  }
  *phProv = Providers().Add(std::make_shared<SoftProvider>(SoftProvider{name}));
  return ERROR_SUCCESS;
}

DWORD GetProvParam(ULONG_PTR hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen, DWORD) {
  auto prov = Providers().Get(hProv);
  if (!prov) return NTE_BAD_UID;
  return GetNameParam(kSoftwareProviderName, prov->container, dwParam, pbData, pdwDataLen);
}

DWORD SetProvParam(ULONG_PTR hProv, DWORD, const BYTE*, DWORD) {
  return Providers().Get(hProv) ? NTE_BAD_TYPE : NTE_BAD_UID;
}

DWORD GetUserKey(ULONG_PTR hProv, DWORD dwKeySpec, ULONG_PTR* phKey) {
  auto prov = Providers().Get(hProv);
  if (!prov) return NTE_BAD_UID;
  if (prov->container.empty()) return NTE_NO_KEY;
  KeyContainerRecord record;
  if (DWORD error = LoadKeyContainer(prov->container, record)) return error;
  if (!record.key || record.keySpec != dwKeySpec) return NTE_NO_KEY;
  auto key =
      std::make_shared<SoftKey>(SoftKey{std::move(record.key), record.keySpec, record.exportable});
  *phKey = Keys().Add(std::move(key));
  return ERROR_SUCCESS;
}

DWORD ExportKey(ULONG_PTR hKey, DWORD dwBlobType, DWORD dwFlags, BYTE* pbData, DWORD* pdwDataLen) {
  auto key = Keys().Get(hKey);
  if (!key) return NTE_BAD_KEY;
  if (dwFlags != 0) return NTE_BAD_FLAGS;
  if (dwBlobType == PUBLICKEYBLOB)
    return ExportPublicKeyBlob(key->key.get(), key->keySpec, pbData, pdwDataLen);
  if (dwBlobType != PRIVATEKEYBLOB) return NTE_BAD_TYPE;
  if (!key->exportable || !key->hasPrivate) return NTE_BAD_KEY_STATE;
  BioPtr bio(BIO_new(BIO_s_secmem()));
  if (!bio) return NTE_NO_MEMORY;
  int written = i2b_PrivateKey_bio(bio.get(), key->key.get());
  char* blob = nullptr;
  long size = BIO_get_mem_data(bio.get(), &blob);
  if (written <= 0 || size < static_cast<long>(sizeof(BLOBHEADER))) return NTE_BAD_KEY;
  // The blob names the key's algorithm by its role, as the platform does.
  const ALG_ID alg = KeyAlgorithm(key->keySpec);
  for (int i = 0; i < 4; ++i) blob[4 + i] = static_cast<char>((alg >> (8 * i)) & 0xFF);
  return CopyOut(blob, static_cast<std::size_t>(size), pbData, pdwDataLen);
}

DWORD SetKeyParam(ULONG_PTR hKey, DWORD, const BYTE*, DWORD) {
  return Keys().Get(hKey) ? NTE_BAD_TYPE : NTE_BAD_KEY;
}

EVP_PKEY* PublicKeyOf(const SoftKey& key) { return key.key.get(); }

std::shared_ptr<SoftKey> ImportedKey(EVP_PKEY* key, DWORD keySpec) {
  return std::make_shared<SoftKey>(SoftKey{EvpPkeyPtr(key), keySpec, false, false});
}

using HandleOperations =
    ProviderHandleOperations<Providers, Keys, Hashes, PublicKeyOf, ImportedKey>;

DWORD SignHash(ULONG_PTR hHash, DWORD dwKeySpec, DWORD dwFlags, BYTE* pbSignature,
               DWORD* pdwSigLen) {
  auto hash = Hashes().Get(hHash);
  if (!hash) return NTE_BAD_HASH;
  if (hash->context->container.empty()) return NTE_NO_KEY;
  KeyContainerRecord record;
  if (DWORD error = LoadKeyContainer(hash->context->container, record)) return error;
  if (!record.key || record.keySpec != dwKeySpec) return NTE_NO_KEY;
  EVP_PKEY* const key = record.key.get();
  return SignHashValue(
      *hash->hash, ModulusBytes(key), dwFlags,
      [key](std::span<const BYTE> input, std::vector<BYTE>* signature) {
        return RsaSign(key, input, signature);
      },
      pbSignature, pdwSigLen);
}

DWORD Decrypt(ULONG_PTR hKey, BOOL, DWORD, BYTE* pbData, DWORD* pdwDataLen) {
  auto key = Keys().Get(hKey);
  if (!key) return NTE_BAD_KEY;
  // Only the exchange key deciphers, as on the card.
  if (!key->hasPrivate || key->keySpec != AT_KEYEXCHANGE) return NTE_BAD_KEY;
  SecureBytes plaintext;
  std::vector<BYTE> decrypted;
  const DWORD error = RsaDecrypt(key->key.get(), Reversed({pbData, *pdwDataLen}), &decrypted);
  plaintext.assign(decrypted.begin(), decrypted.end());
  OPENSSL_cleanse(decrypted.data(), decrypted.size());
  if (error) return error;
  std::memcpy(pbData, plaintext.data(), plaintext.size());
  *pdwDataLen = static_cast<DWORD>(plaintext.size());
  return ERROR_SUCCESS;
}

DWORD GetKeyParam(ULONG_PTR hKey, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen, DWORD dwFlags) {
  auto key = Keys().Get(hKey);
  if (!key) return NTE_BAD_KEY;
  if (dwFlags != 0) return NTE_BAD_FLAGS;
  return GetRsaKeyParam(static_cast<DWORD>(EVP_PKEY_get_bits(key->key.get())), key->keySpec,
                        dwParam, pbData, pdwDataLen);
}

constexpr ORVEL_PROVIDER_FUNCTIONS kFunctions = {
    ORVEL_PROVIDER_INTERFACE_VERSION,
    AcquireContext,
    HandleOperations::ReleaseContext,
    GetProvParam,
    SetProvParam,
    GetUserKey,
    ExportKey,
    SetKeyParam,
    HandleOperations::DestroyKey,
    HandleOperations::CreateHash,
    HandleOperations::HashData,
    HandleOperations::GetHashParam,
    HandleOperations::DestroyHash,
    HandleOperations::SetHashParam,
    SignHash,
    HandleOperations::VerifySignature,
    Decrypt,
    GetKeyParam,
    HandleOperations::ImportKey,
};

}  // namespace

const ORVEL_PROVIDER_FUNCTIONS* SoftwareProviderFunctions() { return &kFunctions; }

}  // namespace platform::crypt
