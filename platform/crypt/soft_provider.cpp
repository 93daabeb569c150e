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
  std::shared_ptr<SoftProvider> provider;  // whose container signs it
  std::unique_ptr<CProviderHash> hash;
};

ALG_ID KeyAlgorithm(DWORD keySpec) {
  return keySpec == AT_SIGNATURE ? CALG_RSA_SIGN : CALG_RSA_KEYX;
}

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

DWORD ReleaseContext(ULONG_PTR hProv) {
  return Providers().Take(hProv) ? ERROR_SUCCESS : NTE_BAD_UID;
}

DWORD GetProvParam(ULONG_PTR hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen, DWORD) {
  auto prov = Providers().Get(hProv);
  if (!prov) return NTE_BAD_UID;
  switch (dwParam) {
    case PP_NAME:
      return CopyOut(kSoftwareProviderName, std::strlen(kSoftwareProviderName) + 1, pbData,
                     pdwDataLen);
    case PP_CONTAINER:
    case PP_UNIQUE_CONTAINER:
      if (prov->container.empty()) return NTE_BAD_KEYSET;
      return CopyOut(prov->container.c_str(), prov->container.size() + 1, pbData, pdwDataLen);
    default:
      return NTE_BAD_TYPE;
  }
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
    return ExportPublicKeyBlob(key->key.get(), KeyAlgorithm(key->keySpec), pbData, pdwDataLen);
  if (dwBlobType != PRIVATEKEYBLOB) return NTE_BAD_TYPE;
  if (!key->exportable || !key->hasPrivate) return NTE_BAD_KEY_STATE;
  BioPtr bio(BIO_new(BIO_s_secmem()));
  if (!bio) return NTE_NO_MEMORY;
  int written = i2b_PrivateKey_bio(bio.get(), key->key.get());
  char* blob = nullptr;
  long size = BIO_get_mem_data(bio.get(), &blob);
  if (written <= 0 || size < static_cast<long>(sizeof(BLOBHEADER))) return NTE_BAD_KEY;
  // The blob names the key's algorithm by its role, as the platform does.
  ALG_ID alg = KeyAlgorithm(key->keySpec);
  for (int i = 0; i < 4; ++i) blob[4 + i] = static_cast<char>((alg >> (8 * i)) & 0xFF);
  return CopyOut(blob, static_cast<std::size_t>(size), pbData, pdwDataLen);
}

DWORD SetKeyParam(ULONG_PTR hKey, DWORD, const BYTE*, DWORD) {
  return Keys().Get(hKey) ? NTE_BAD_TYPE : NTE_BAD_KEY;
}

DWORD DestroyKey(ULONG_PTR hKey) { return Keys().Take(hKey) ? ERROR_SUCCESS : NTE_BAD_KEY; }

DWORD CreateHash(ULONG_PTR hProv, ALG_ID algId, DWORD dwFlags, ULONG_PTR* phHash) {
  auto prov = Providers().Get(hProv);
  if (!prov) return NTE_BAD_UID;
  if (dwFlags != 0) return NTE_BAD_FLAGS;
  auto hash = std::make_shared<SoftHash>();
  hash->provider = std::move(prov);
  if (DWORD error = CProviderHash::Create(algId, &hash->hash)) return error;
  *phHash = Hashes().Add(std::move(hash));
  return ERROR_SUCCESS;
}

DWORD HashData(ULONG_PTR hHash, const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags) {
  auto hash = Hashes().Get(hHash);
  if (!hash) return NTE_BAD_HASH;
  return hash->hash->HashData(pbData, dwDataLen, dwFlags);
}

DWORD GetHashParam(ULONG_PTR hHash, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen, DWORD) {
  auto hash = Hashes().Get(hHash);
  if (!hash) return NTE_BAD_HASH;
  return hash->hash->GetParam(dwParam, pbData, pdwDataLen);
}

DWORD SetHashParam(ULONG_PTR hHash, DWORD dwParam, const BYTE* pbData, DWORD dwFlags) {
  auto hash = Hashes().Get(hHash);
  if (!hash) return NTE_BAD_HASH;
  return hash->hash->SetParam(dwParam, pbData, dwFlags);
}

DWORD DestroyHash(ULONG_PTR hHash) { return Hashes().Take(hHash) ? ERROR_SUCCESS : NTE_BAD_HASH; }

DWORD SignHash(ULONG_PTR hHash, DWORD dwKeySpec, DWORD dwFlags, BYTE* pbSignature,
               DWORD* pdwSigLen) {
  auto hash = Hashes().Get(hHash);
  if (!hash) return NTE_BAD_HASH;
  if (hash->provider->container.empty()) return NTE_NO_KEY;
  KeyContainerRecord record;
  if (DWORD error = LoadKeyContainer(hash->provider->container, record)) return error;
  if (!record.key || record.keySpec != dwKeySpec) return NTE_NO_KEY;
  const DWORD size = ModulusBytes(record.key.get());
  if (pbSignature == nullptr || *pdwSigLen < size) {
    const bool query = pbSignature == nullptr;
    *pdwSigLen = size;
    return query ? ERROR_SUCCESS : ERROR_MORE_DATA;
  }
  std::span<const BYTE> value;
  if (DWORD error = hash->hash->Value(&value)) return error;
  std::vector<BYTE> input;
  if (DWORD error = SignatureInput(hash->hash->Algorithm(), value, dwFlags, &input)) return error;
  std::vector<BYTE> signature;
  if (DWORD error = RsaSign(record.key.get(), input, &signature)) return error;
  const auto littleEndian = Reversed(signature);
  return CopyOut(littleEndian.data(), littleEndian.size(), pbSignature, pdwSigLen);
}

DWORD VerifySignature(ULONG_PTR hHash, const BYTE* pbSignature, DWORD dwSigLen, ULONG_PTR hPubKey,
                      DWORD dwFlags) {
  auto hash = Hashes().Get(hHash);
  if (!hash) return NTE_BAD_HASH;
  auto key = Keys().Get(hPubKey);
  if (!key) return NTE_BAD_KEY;
  return VerifyHashSignature(*hash->hash, key->key.get(), pbSignature, dwSigLen, dwFlags);
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
  return GetRsaKeyParam(key->key.get(), KeyAlgorithm(key->keySpec), dwParam, pbData, pdwDataLen);
}

DWORD ImportKey(ULONG_PTR hProv, const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags,
                ULONG_PTR* phKey) {
  if (!Providers().Get(hProv)) return NTE_BAD_UID;
  if (dwFlags != 0) return NTE_BAD_FLAGS;
  EVP_PKEY* decoded = nullptr;
  ALG_ID algorithm = 0;
  if (DWORD error = ImportPublicKeyBlob({pbData, dwDataLen}, &decoded, &algorithm)) return error;
  auto key = std::make_shared<SoftKey>();
  key->key.reset(decoded);
  key->keySpec = algorithm == CALG_RSA_SIGN ? AT_SIGNATURE : AT_KEYEXCHANGE;
  key->hasPrivate = false;
  *phKey = Keys().Add(std::move(key));
  return ERROR_SUCCESS;
}

constexpr ORVEL_PROVIDER_FUNCTIONS kFunctions = {
    ORVEL_PROVIDER_INTERFACE_VERSION,
    AcquireContext,
    ReleaseContext,
    GetProvParam,
    SetProvParam,
    GetUserKey,
    ExportKey,
    SetKeyParam,
    DestroyKey,
    CreateHash,
    HashData,
    GetHashParam,
    DestroyHash,
    SetHashParam,
    SignHash,
    VerifySignature,
    Decrypt,
    GetKeyParam,
    ImportKey,
};

}  // namespace

const ORVEL_PROVIDER_FUNCTIONS* SoftwareProviderFunctions() { return &kFunctions; }

}  // namespace platform::crypt
