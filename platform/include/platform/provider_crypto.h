// What every RSA provider of the platform computes the same way, shared by the
// built-in software provider and provider modules (compiled into each): the
// hashes a provider offers and its hash operations, the PKCS#1 v1.5
// signature input, signing and verifying a hash, the RSA operations on an
// OpenSSL key, PUBLICKEYBLOB in and out, the name parameters and the key
// parameters. Everything answers ERROR_SUCCESS or the NTE_* code the platform
// reports.
#pragma once

#include <openssl/evp.h>

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/non_copyable.h"
#include "platform/wincrypt.h"

namespace platform::crypt {

// A hash of CALG_SHA1, CALG_SHA_256, CALG_MD5 or CALG_SSL3_SHAMD5 (MD5 and
// SHA-1 of the same data, 36 bytes). Its value is final once it has been read
// or set (HP_HASHVAL); data after that is refused.
class CProviderHash : private NonCopyable {
 public:
  // NTE_BAD_ALGID for another algorithm.
  static DWORD Create(ALG_ID algorithm, std::unique_ptr<CProviderHash>* hash);
  ~CProviderHash();

  ALG_ID Algorithm() const { return m_algorithm; }
  DWORD Size() const;
  DWORD HashData(const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags);
  // HP_ALGID, HP_HASHSIZE, HP_HASHVAL in the two-call pattern; a size query
  // leaves the hash open.
  DWORD GetParam(DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen);
  DWORD SetParam(DWORD dwParam, const BYTE* pbData, DWORD dwFlags);
  // The final value (finishing the hash when it is still open).
  DWORD Value(std::span<const BYTE>* value);

 private:
  explicit CProviderHash(ALG_ID algorithm) : m_algorithm(algorithm) {}
  ALG_ID m_algorithm;
  std::vector<EVP_MD_CTX*> m_digests;  // two for CALG_SSL3_SHAMD5
  std::vector<BYTE> m_value;           // set once final
};

// The data RSA signs for a hash value: its DigestInfo, or the value alone for
// CALG_SSL3_SHAMD5 and with CRYPT_NOHASHOID. NTE_BAD_FLAGS for other flags.
DWORD SignatureInput(ALG_ID algorithm, std::span<const BYTE> value, DWORD dwFlags,
                     std::vector<BYTE>* input);

// The length of a key's modulus in bytes.
DWORD ModulusBytes(EVP_PKEY* key);

// RSA with PKCS#1 v1.5 padding; integers big-endian, as OpenSSL has them.
DWORD RsaSign(EVP_PKEY* key, std::span<const BYTE> input, std::vector<BYTE>* signature);
DWORD RsaVerify(EVP_PKEY* key, std::span<const BYTE> input, std::span<const BYTE> signature);
// Signs the signature input with a private key: the signature big-endian.
using RsaSigner = std::function<DWORD(std::span<const BYTE> input, std::vector<BYTE>* signature)>;
// CryptSignHash for any provider: a size query or a short buffer answered
// with modulusBytes, then the signature input of the hash's value signed by
// sign and handed out little-endian.
DWORD SignHashValue(CProviderHash& hash, DWORD modulusBytes, DWORD dwFlags, const RsaSigner& sign,
                    BYTE* pbSignature, DWORD* pdwSigLen);
// CryptVerifySignature for any provider: the signature (little-endian, as the
// platform passes it) over the hash's value, checked with key.
DWORD VerifyHashSignature(CProviderHash& hash, EVP_PKEY* key, const BYTE* pbSignature,
                          DWORD dwSigLen, DWORD dwFlags);
// NTE_BAD_DATA when the cryptogram does not decrypt.
DWORD RsaDecrypt(EVP_PKEY* key, std::span<const BYTE> cryptogram, std::vector<BYTE>* plaintext);

// The other byte order (platform blobs and signatures are little-endian).
std::vector<BYTE> Reversed(std::span<const BYTE> bytes);

// The algorithm a key of that role (AT_SIGNATURE, AT_KEYEXCHANGE) is named
// by: CALG_RSA_SIGN or CALG_RSA_KEYX.
ALG_ID KeyAlgorithm(DWORD keySpec);

// PUBLICKEYBLOB of a key, naming the algorithm of its role, in the two-call
// pattern.
DWORD ExportPublicKeyBlob(EVP_PKEY* key, DWORD keySpec, BYTE* pbData, DWORD* pdwDataLen);
// The key of a PUBLICKEYBLOB and the role of the algorithm it names;
// NTE_BAD_TYPE for another blob, NTE_BAD_DATA for a damaged one. The key is
// the caller's.
DWORD ImportPublicKeyBlob(std::span<const BYTE> blob, EVP_PKEY** key, DWORD* keySpec);

// A DWORD key parameter of an RSA key of that many bits in that role:
// KP_KEYLEN (bits), KP_BLOCKLEN (bits), KP_ALGID.
DWORD GetRsaKeyParam(DWORD bits, DWORD keySpec, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen);

// The name parameters of a provider: PP_NAME, and PP_CONTAINER and
// PP_UNIQUE_CONTAINER (NTE_BAD_KEYSET for a context without a container);
// NTE_BAD_TYPE for any other.
DWORD GetNameParam(const char* providerName, const std::string& container, DWORD dwParam,
                   BYTE* pbData, DWORD* pdwDataLen);

// The operations on handles that every provider implements alike, over its
// handle tables (Contexts, Keys, Hashes: functions returning them). A hash
// object holds its CProviderHash as `hash` and the context it was made in as
// `context`; PublicKeyOf gives the public key of a key object (a pointer to
// an EVP_PKEY, null when there is none), and ImportedKey makes the key object
// of an imported public key (taking the EVP_PKEY) in a role.
template <auto Contexts, auto Keys, auto Hashes, auto PublicKeyOf, auto ImportedKey>
struct ProviderHandleOperations {
  using HashObject = typename decltype(Hashes().Get(0))::element_type;

  static DWORD ReleaseContext(ULONG_PTR hProv) {
    return Contexts().Take(hProv) ? ERROR_SUCCESS : NTE_BAD_UID;
  }
  static DWORD DestroyKey(ULONG_PTR hKey) {
    return Keys().Take(hKey) ? ERROR_SUCCESS : NTE_BAD_KEY;
  }
  static DWORD CreateHash(ULONG_PTR hProv, ALG_ID algId, DWORD dwFlags, ULONG_PTR* phHash) {
    auto context = Contexts().Get(hProv);
    if (!context) return NTE_BAD_UID;
    if (dwFlags != 0) return NTE_BAD_FLAGS;
    auto hash = std::make_shared<HashObject>();
    hash->context = std::move(context);
    if (DWORD error = CProviderHash::Create(algId, &hash->hash)) return error;
    *phHash = Hashes().Add(std::move(hash));
    return ERROR_SUCCESS;
  }
  static DWORD HashData(ULONG_PTR hHash, const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags) {
    auto hash = Hashes().Get(hHash);
    return hash ? hash->hash->HashData(pbData, dwDataLen, dwFlags) : NTE_BAD_HASH;
  }
  static DWORD GetHashParam(ULONG_PTR hHash, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                            DWORD) {
    auto hash = Hashes().Get(hHash);
    return hash ? hash->hash->GetParam(dwParam, pbData, pdwDataLen) : NTE_BAD_HASH;
  }
  static DWORD SetHashParam(ULONG_PTR hHash, DWORD dwParam, const BYTE* pbData, DWORD dwFlags) {
    auto hash = Hashes().Get(hHash);
    return hash ? hash->hash->SetParam(dwParam, pbData, dwFlags) : NTE_BAD_HASH;
  }
  static DWORD DestroyHash(ULONG_PTR hHash) {
    return Hashes().Take(hHash) ? ERROR_SUCCESS : NTE_BAD_HASH;
  }
  // The signature (little-endian) over the hash's value, checked with the
  // public key of hPubKey.
  static DWORD VerifySignature(ULONG_PTR hHash, const BYTE* pbSignature, DWORD dwSigLen,
                               ULONG_PTR hPubKey, DWORD dwFlags) {
    auto hash = Hashes().Get(hHash);
    if (!hash) return NTE_BAD_HASH;
    auto key = Keys().Get(hPubKey);
    if (!key) return NTE_BAD_KEY;
    const auto publicKey = PublicKeyOf(*key);
    if (!publicKey) return NTE_BAD_KEY;
    return VerifyHashSignature(*hash->hash, std::to_address(publicKey), pbSignature, dwSigLen,
                               dwFlags);
  }
  // A PUBLICKEYBLOB made a key of the provider.
  static DWORD ImportKey(ULONG_PTR hProv, const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags,
                         ULONG_PTR* phKey) {
    if (!Contexts().Get(hProv)) return NTE_BAD_UID;
    if (dwFlags != 0) return NTE_BAD_FLAGS;
    EVP_PKEY* decoded = nullptr;
    DWORD keySpec = 0;
    if (DWORD error = ImportPublicKeyBlob({pbData, dwDataLen}, &decoded, &keySpec)) return error;
    *phKey = Keys().Add(ImportedKey(decoded, keySpec));
    return ERROR_SUCCESS;
  }
};

}  // namespace platform::crypt
