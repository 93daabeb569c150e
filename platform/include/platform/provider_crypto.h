// What every RSA provider of the platform computes the same way, shared by the
// built-in software provider and provider modules (compiled into each): the
// hashes a provider offers, the PKCS#1 v1.5 signature input, the RSA
// operations on an OpenSSL key and PUBLICKEYBLOB in and out. Everything
// answers ERROR_SUCCESS or the NTE_* code the platform reports.
#pragma once

#include <openssl/evp.h>

#include <memory>
#include <span>
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
// CryptVerifySignature for any provider: the signature (little-endian, as the
// platform passes it) over the hash's value, checked with key.
DWORD VerifyHashSignature(CProviderHash& hash, EVP_PKEY* key, const BYTE* pbSignature,
                          DWORD dwSigLen, DWORD dwFlags);
// NTE_BAD_DATA when the cryptogram does not decrypt.
DWORD RsaDecrypt(EVP_PKEY* key, std::span<const BYTE> cryptogram, std::vector<BYTE>* plaintext);

// The other byte order (platform blobs and signatures are little-endian).
std::vector<BYTE> Reversed(std::span<const BYTE> bytes);

// PUBLICKEYBLOB of a key, naming the algorithm given (CALG_RSA_SIGN or
// CALG_RSA_KEYX), in the two-call pattern.
DWORD ExportPublicKeyBlob(EVP_PKEY* key, ALG_ID algorithm, BYTE* pbData, DWORD* pdwDataLen);
// The key of a PUBLICKEYBLOB and the algorithm it names; NTE_BAD_TYPE for
// another blob, NTE_BAD_DATA for a damaged one. The key is the caller's.
DWORD ImportPublicKeyBlob(std::span<const BYTE> blob, EVP_PKEY** key, ALG_ID* algorithm);

// A DWORD key parameter: KP_KEYLEN (bits), KP_BLOCKLEN (bits), KP_ALGID.
DWORD GetRsaKeyParam(EVP_PKEY* key, ALG_ID algorithm, DWORD dwParam, BYTE* pbData,
                     DWORD* pdwDataLen);

}  // namespace platform::crypt
