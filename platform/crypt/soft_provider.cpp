#include "soft_provider.h"

#include "copy_out.h"
#include "handle_table.h"
#include "key_container.h"
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
};

struct SoftHash {
  EvpMdCtxPtr context;
  std::vector<BYTE> value;  // set once the hash is finished
};

HandleTable<SoftProvider>& Providers() {
  static auto& table = *new HandleTable<SoftProvider>(9);
  return table;
}
HandleTable<SoftKey>& Keys() {
  static auto& table = *new HandleTable<SoftKey>(10);
  return table;
}
HandleTable<SoftHash>& Hashes() {
  static auto& table = *new HandleTable<SoftHash>(11);
  return table;
}

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

DWORD ReleaseContext(ULONG_PTR hProv) { return Providers().Take(hProv) ? ERROR_SUCCESS : NTE_BAD_UID; }

DWORD GetProvParam(ULONG_PTR hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen, DWORD) {
  auto prov = Providers().Get(hProv);
  if (!prov) return NTE_BAD_UID;
  switch (dwParam) {
    case PP_NAME:
      return CopyOut(kSoftwareProviderName, std::strlen(kSoftwareProviderName) + 1, pbData, pdwDataLen);
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
  auto key = std::make_shared<SoftKey>(SoftKey{std::move(record.key), record.keySpec, record.exportable});
  *phKey = Keys().Add(std::move(key));
  return ERROR_SUCCESS;
}

DWORD ExportKey(ULONG_PTR hKey, DWORD dwBlobType, DWORD dwFlags, BYTE* pbData, DWORD* pdwDataLen) {
  auto key = Keys().Get(hKey);
  if (!key) return NTE_BAD_KEY;
  if (dwFlags != 0) return NTE_BAD_FLAGS;
  if (dwBlobType != PRIVATEKEYBLOB && dwBlobType != PUBLICKEYBLOB) return NTE_BAD_TYPE;
  if (dwBlobType == PRIVATEKEYBLOB && !key->exportable) return NTE_BAD_KEY_STATE;
  BioPtr bio(BIO_new(BIO_s_secmem()));
  if (!bio) return NTE_NO_MEMORY;
  int written = dwBlobType == PRIVATEKEYBLOB ? i2b_PrivateKey_bio(bio.get(), key->key.get())
                                             : i2b_PublicKey_bio(bio.get(), key->key.get());
  char* blob = nullptr;
  long size = BIO_get_mem_data(bio.get(), &blob);
  if (written <= 0 || size < static_cast<long>(sizeof(BLOBHEADER))) return NTE_BAD_KEY;
  // The blob names the key's algorithm by its role, as the platform does.
  ALG_ID alg = key->keySpec == AT_SIGNATURE ? CALG_RSA_SIGN : CALG_RSA_KEYX;
  for (int i = 0; i < 4; ++i) blob[4 + i] = static_cast<char>((alg >> (8 * i)) & 0xFF);
  return CopyOut(blob, static_cast<std::size_t>(size), pbData, pdwDataLen);
}

DWORD SetKeyParam(ULONG_PTR hKey, DWORD, const BYTE*, DWORD) {
  return Keys().Get(hKey) ? NTE_BAD_TYPE : NTE_BAD_KEY;
}

DWORD DestroyKey(ULONG_PTR hKey) { return Keys().Take(hKey) ? ERROR_SUCCESS : NTE_BAD_KEY; }

DWORD CreateHash(ULONG_PTR hProv, ALG_ID algId, DWORD dwFlags, ULONG_PTR* phHash) {
  if (!Providers().Get(hProv)) return NTE_BAD_UID;
  if (dwFlags != 0) return NTE_BAD_FLAGS;
  const EVP_MD* md = algId == CALG_SHA1 ? EVP_sha1() : algId == CALG_MD5 ? EVP_md5()
                   : algId == CALG_SHA_256 ? EVP_sha256() : nullptr;
  if (!md) return NTE_BAD_ALGID;
  auto hash = std::make_shared<SoftHash>();
  hash->context.reset(EVP_MD_CTX_new());
  if (!hash->context || EVP_DigestInit_ex(hash->context.get(), md, nullptr) != 1) return NTE_BAD_ALGID;
  *phHash = Hashes().Add(std::move(hash));
  return ERROR_SUCCESS;
}

DWORD HashData(ULONG_PTR hHash, const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags) {
  auto hash = Hashes().Get(hHash);
  if (!hash) return NTE_BAD_HASH;
  if (dwFlags != 0) return NTE_BAD_FLAGS;
  if (!hash->value.empty()) return NTE_BAD_HASH_STATE;
  if (dwDataLen && !pbData) return ERROR_INVALID_PARAMETER;
  return EVP_DigestUpdate(hash->context.get(), pbData, dwDataLen) == 1 ? ERROR_SUCCESS : NTE_FAIL;
}

DWORD GetHashParam(ULONG_PTR hHash, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen, DWORD) {
  auto hash = Hashes().Get(hHash);
  if (!hash) return NTE_BAD_HASH;
  auto size = static_cast<std::size_t>(EVP_MD_CTX_get_size(hash->context.get()));
  if (dwParam == HP_HASHSIZE) {
    DWORD value = static_cast<DWORD>(size);
    return CopyOut(&value, sizeof value, pbData, pdwDataLen);
  }
  if (dwParam != HP_HASHVAL) return NTE_BAD_TYPE;
  if (!pdwDataLen) return ERROR_INVALID_PARAMETER;
  if (!pbData || *pdwDataLen < size) {  // size query: the hash stays open
    *pdwDataLen = static_cast<DWORD>(size);
    return pbData ? ERROR_MORE_DATA : ERROR_SUCCESS;
  }
  // The value is final once it has been read.
  if (hash->value.empty()) {
    hash->value.resize(size);
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(hash->context.get(), hash->value.data(), &length) != 1) return NTE_FAIL;
  }
  return CopyOut(hash->value.data(), hash->value.size(), pbData, pdwDataLen);
}

DWORD DestroyHash(ULONG_PTR hHash) { return Hashes().Take(hHash) ? ERROR_SUCCESS : NTE_BAD_HASH; }

constexpr ORVEL_PROVIDER_FUNCTIONS kFunctions = {
    ORVEL_PROVIDER_INTERFACE_VERSION, AcquireContext, ReleaseContext, GetProvParam, SetProvParam,
    GetUserKey, ExportKey, SetKeyParam, DestroyKey, CreateHash, HashData, GetHashParam, DestroyHash,
};

}  // namespace

const ORVEL_PROVIDER_FUNCTIONS* SoftwareProviderFunctions() { return &kFunctions; }

}  // namespace platform::crypt
