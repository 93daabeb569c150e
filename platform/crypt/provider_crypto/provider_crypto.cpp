#include "platform/provider_crypto.h"

#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "platform/copy_out.h"

namespace platform::crypt {
namespace {

struct PkeyCtxFree {
  void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;

// DigestInfo up to the hash value (RFC 8017, section 9.2, note 1).
constexpr std::array<BYTE, 18> kMd5Prefix = {0x30, 0x20, 0x30, 0x0C, 0x06, 0x08, 0x2A, 0x86, 0x48,
                                             0x86, 0xF7, 0x0D, 0x02, 0x05, 0x05, 0x00, 0x04, 0x10};
constexpr std::array<BYTE, 15> kSha1Prefix = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E,
                                              0x03, 0x02, 0x1A, 0x05, 0x00, 0x04, 0x14};
constexpr std::array<BYTE, 19> kSha256Prefix = {0x30, 0x31, 0x30, 0x0D, 0x06, 0x09, 0x60,
                                                0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02,
                                                0x01, 0x05, 0x00, 0x04, 0x20};

std::span<const BYTE> DigestInfoPrefix(ALG_ID algorithm) {
  switch (algorithm) {
    case CALG_MD5:
      return kMd5Prefix;
    case CALG_SHA1:
      return kSha1Prefix;
    case CALG_SHA_256:
      return kSha256Prefix;
    default:
      return {};
  }
}

PkeyCtxPtr PaddedContext(EVP_PKEY* key, int (*init)(EVP_PKEY_CTX*)) {
  PkeyCtxPtr context(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
  if (!context || init(context.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) != 1) {
    return nullptr;
  }
  return context;
}

}  // namespace

DWORD CProviderHash::Create(ALG_ID algorithm, std::unique_ptr<CProviderHash>* hash) {
  std::vector<const EVP_MD*> kinds;
  switch (algorithm) {
    case CALG_MD5:
      kinds = {EVP_md5()};
      break;
    case CALG_SHA1:
      kinds = {EVP_sha1()};
      break;
    case CALG_SHA_256:
      kinds = {EVP_sha256()};
      break;
    case CALG_SSL3_SHAMD5:
      kinds = {EVP_md5(), EVP_sha1()};
      break;
    default:
      return NTE_BAD_ALGID;
  }
  std::unique_ptr<CProviderHash> made(new (std::nothrow) CProviderHash(algorithm));
  if (!made) return NTE_NO_MEMORY;
  // Room first, so that no context is left unowned by a failed push_back.
  made->m_digests.reserve(kinds.size());
  for (const EVP_MD* kind : kinds) {
    EVP_MD_CTX* digest = EVP_MD_CTX_new();
    if (digest == nullptr) return NTE_NO_MEMORY;
    made->m_digests.push_back(digest);
    if (EVP_DigestInit_ex(digest, kind, nullptr) != 1) return NTE_BAD_ALGID;
  }
  *hash = std::move(made);
  return ERROR_SUCCESS;
}

CProviderHash::~CProviderHash() {
  for (EVP_MD_CTX* digest : m_digests) EVP_MD_CTX_free(digest);
}

DWORD CProviderHash::Size() const {
  DWORD size = 0;
  for (EVP_MD_CTX* digest : m_digests) size += static_cast<DWORD>(EVP_MD_CTX_get_size(digest));
  return size;
}

DWORD CProviderHash::HashData(const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags) {
  if (dwFlags != 0) return NTE_BAD_FLAGS;
  if (!m_value.empty()) return NTE_BAD_HASH_STATE;
  if (dwDataLen != 0 && pbData == nullptr) return ERROR_INVALID_PARAMETER;
  for (EVP_MD_CTX* digest : m_digests) {
    if (EVP_DigestUpdate(digest, pbData, dwDataLen) != 1) return NTE_FAIL;
  }
  return ERROR_SUCCESS;
}

DWORD CProviderHash::Value(std::span<const BYTE>* value) {
  if (m_value.empty()) {
    std::vector<BYTE> finished(Size());
    std::size_t at = 0;
    for (EVP_MD_CTX* digest : m_digests) {
      unsigned int length = 0;
      if (EVP_DigestFinal_ex(digest, finished.data() + at, &length) != 1) return NTE_FAIL;
      at += length;
    }
    m_value = std::move(finished);
  }
  *value = m_value;
  return ERROR_SUCCESS;
}

DWORD CProviderHash::GetParam(DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen) {
  if (pdwDataLen == nullptr) return ERROR_INVALID_PARAMETER;
  switch (dwParam) {
    case HP_ALGID:
      return CopyOut(&m_algorithm, sizeof m_algorithm, pbData, pdwDataLen);
    case HP_HASHSIZE: {
      const DWORD size = Size();
      return CopyOut(&size, sizeof size, pbData, pdwDataLen);
    }
    case HP_HASHVAL: {
      if (pbData == nullptr || *pdwDataLen < Size()) {  // a size query: the hash stays open
        const bool query = pbData == nullptr;
        *pdwDataLen = Size();
        return query ? ERROR_SUCCESS : ERROR_MORE_DATA;
      }
      std::span<const BYTE> value;
      if (DWORD error = Value(&value)) return error;
      return CopyOut(value.data(), value.size(), pbData, pdwDataLen);
    }
    default:
      return NTE_BAD_TYPE;
  }
}

DWORD CProviderHash::SetParam(DWORD dwParam, const BYTE* pbData, DWORD dwFlags) {
  if (dwParam != HP_HASHVAL) return NTE_BAD_TYPE;
  if (dwFlags != 0) return NTE_BAD_FLAGS;
  if (pbData == nullptr) return ERROR_INVALID_PARAMETER;
  m_value.assign(pbData, pbData + Size());
  return ERROR_SUCCESS;
}

DWORD SignatureInput(ALG_ID algorithm, std::span<const BYTE> value, DWORD dwFlags,
                     std::vector<BYTE>* input) {
  if ((dwFlags & ~CRYPT_NOHASHOID) != 0) return NTE_BAD_FLAGS;
  const auto prefix = DigestInfoPrefix(algorithm);
  if (prefix.empty() && algorithm != CALG_SSL3_SHAMD5) return NTE_BAD_ALGID;
  input->clear();
  if ((dwFlags & CRYPT_NOHASHOID) == 0) input->assign(prefix.begin(), prefix.end());
  input->insert(input->end(), value.begin(), value.end());
  return ERROR_SUCCESS;
}

DWORD ModulusBytes(EVP_PKEY* key) {
  const int size = key != nullptr ? EVP_PKEY_get_size(key) : 0;
  return size > 0 ? static_cast<DWORD>(size) : 0;
}

DWORD RsaSign(EVP_PKEY* key, std::span<const BYTE> input, std::vector<BYTE>* signature) {
  PkeyCtxPtr context = PaddedContext(key, EVP_PKEY_sign_init);
  if (!context) return NTE_BAD_KEY;
  std::size_t length = ModulusBytes(key);
  signature->resize(length);
  // Without a digest set, OpenSSL pads and signs the input as it is.
  if (EVP_PKEY_sign(context.get(), signature->data(), &length, input.data(), input.size()) != 1) {
    return NTE_BAD_DATA;  // longer than the key can sign
  }
  signature->resize(length);
  return ERROR_SUCCESS;
}

DWORD RsaVerify(EVP_PKEY* key, std::span<const BYTE> input, std::span<const BYTE> signature) {
  PkeyCtxPtr context = PaddedContext(key, EVP_PKEY_verify_init);
  if (!context) return NTE_BAD_KEY;
  if (signature.size() != ModulusBytes(key)) return NTE_BAD_SIGNATURE;
  return EVP_PKEY_verify(context.get(), signature.data(), signature.size(), input.data(),
                         input.size()) == 1
             ? ERROR_SUCCESS
             : NTE_BAD_SIGNATURE;
}

DWORD SignHashValue(CProviderHash& hash, DWORD modulusBytes, DWORD dwFlags, const RsaSigner& sign,
                    BYTE* pbSignature, DWORD* pdwSigLen) {
  if (pbSignature == nullptr || *pdwSigLen < modulusBytes) {
    const bool query = pbSignature == nullptr;
    *pdwSigLen = modulusBytes;
    return query ? ERROR_SUCCESS : ERROR_MORE_DATA;
  }
  std::span<const BYTE> value;
  if (DWORD error = hash.Value(&value)) return error;
  std::vector<BYTE> input;
  if (DWORD error = SignatureInput(hash.Algorithm(), value, dwFlags, &input)) return error;
  std::vector<BYTE> signature;
  if (DWORD error = sign(input, &signature)) return error;
  const auto littleEndian = Reversed(signature);
  return CopyOut(littleEndian.data(), littleEndian.size(), pbSignature, pdwSigLen);
}

DWORD VerifyHashSignature(CProviderHash& hash, EVP_PKEY* key, const BYTE* pbSignature,
                          DWORD dwSigLen, DWORD dwFlags) {
  if (pbSignature == nullptr) return ERROR_INVALID_PARAMETER;
  std::span<const BYTE> value;
  if (DWORD error = hash.Value(&value)) return error;
  std::vector<BYTE> input;
  if (DWORD error = SignatureInput(hash.Algorithm(), value, dwFlags, &input)) return error;
  return RsaVerify(key, input, Reversed({pbSignature, dwSigLen}));
}

DWORD RsaDecrypt(EVP_PKEY* key, std::span<const BYTE> cryptogram, std::vector<BYTE>* plaintext) {
  if (cryptogram.size() != ModulusBytes(key)) return NTE_BAD_DATA;
  PkeyCtxPtr context = PaddedContext(key, EVP_PKEY_decrypt_init);
  if (!context) return NTE_BAD_KEY;
  std::size_t length = cryptogram.size();
  plaintext->resize(length);
  if (EVP_PKEY_decrypt(context.get(), plaintext->data(), &length, cryptogram.data(),
                       cryptogram.size()) != 1) {
    OPENSSL_cleanse(plaintext->data(), plaintext->size());
    plaintext->clear();
    return NTE_BAD_DATA;
  }
  plaintext->resize(length);
  return ERROR_SUCCESS;
}

std::vector<BYTE> Reversed(std::span<const BYTE> bytes) {
  return std::vector<BYTE>(bytes.rbegin(), bytes.rend());
}

ALG_ID KeyAlgorithm(DWORD keySpec) {
  return keySpec == AT_SIGNATURE ? CALG_RSA_SIGN : CALG_RSA_KEYX;
}

DWORD ExportPublicKeyBlob(EVP_PKEY* key, DWORD keySpec, BYTE* pbData, DWORD* pdwDataLen) {
  std::unique_ptr<BIO, decltype(&BIO_free_all)> bio(BIO_new(BIO_s_mem()), BIO_free_all);
  if (!bio) return NTE_NO_MEMORY;
  char* blob = nullptr;
  if (i2b_PublicKey_bio(bio.get(), key) <= 0) return NTE_BAD_KEY;
  const long size = BIO_get_mem_data(bio.get(), &blob);
  if (size < static_cast<long>(sizeof(BLOBHEADER))) return NTE_BAD_KEY;
  // The blob names the key's algorithm by its role, as the platform does.
  const ALG_ID algorithm = KeyAlgorithm(keySpec);
  for (int i = 0; i < 4; ++i) blob[4 + i] = static_cast<char>((algorithm >> (8 * i)) & 0xFF);
  return CopyOut(blob, static_cast<std::size_t>(size), pbData, pdwDataLen);
}

DWORD ImportPublicKeyBlob(std::span<const BYTE> blob, EVP_PKEY** key, DWORD* keySpec) {
  if (blob.size() < sizeof(BLOBHEADER) + sizeof(RSAPUBKEY)) return NTE_BAD_DATA;
  if (blob[0] != PUBLICKEYBLOB) return NTE_BAD_TYPE;
  ALG_ID named = 0;
  for (int i = 0; i < 4; ++i) named |= static_cast<ALG_ID>(blob[4 + i]) << (8 * i);
  if (named != CALG_RSA_SIGN && named != CALG_RSA_KEYX) return NTE_BAD_ALGID;
  const unsigned char* cursor = blob.data();
  EVP_PKEY* decoded = b2i_PublicKey(&cursor, static_cast<long>(blob.size()));
  if (decoded == nullptr) return NTE_BAD_DATA;
  if (EVP_PKEY_get_base_id(decoded) != EVP_PKEY_RSA) {
    EVP_PKEY_free(decoded);
    return NTE_BAD_DATA;
  }
  *key = decoded;
  *keySpec = named == CALG_RSA_SIGN ? AT_SIGNATURE : AT_KEYEXCHANGE;
  return ERROR_SUCCESS;
}

DWORD GetRsaKeyParam(DWORD bits, DWORD keySpec, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen) {
  DWORD value = 0;
  switch (dwParam) {
    case KP_ALGID:
      value = KeyAlgorithm(keySpec);
      break;
    case KP_KEYLEN:
    case KP_BLOCKLEN:
      value = bits;
      break;
    default:
      return NTE_BAD_TYPE;
  }
  return CopyOut(&value, sizeof value, pbData, pdwDataLen);
}

DWORD GetNameParam(const char* providerName, const std::string& container, DWORD dwParam,
                   BYTE* pbData, DWORD* pdwDataLen) {
  switch (dwParam) {
    case PP_NAME:
      return CopyOut(providerName, std::strlen(providerName) + 1, pbData, pdwDataLen);
    case PP_CONTAINER:
    case PP_UNIQUE_CONTAINER:
      if (container.empty()) return NTE_BAD_KEYSET;
      return CopyOut(container.c_str(), container.size() + 1, pbData, pdwDataLen);
    default:
      return NTE_BAD_TYPE;
  }
}

}  // namespace platform::crypt
