// CertCreateCertificateContext, CertDuplicateCertificateContext,
// CertFreeCertificateContext and the certificate property functions.
#include "cert_context.h"

#include "platform/copy_out.h"

#include <openssl/sha.h>

#include <cstring>
#include <unordered_map>

namespace platform::crypt {
namespace {

// Never destroyed: contexts may still be freed by static destructors of
// other modules when the process ends.
std::unordered_map<const CERT_CONTEXT*, std::unique_ptr<CertContextImpl>>& Contexts() {
  static auto& contexts =
      *new std::unordered_map<const CERT_CONTEXT*, std::unique_ptr<CertContextImpl>>();
  return contexts;
}

std::size_t AlignUp(std::size_t n) {
  constexpr std::size_t a = alignof(std::max_align_t);
  return (n + a - 1) / a * a;
}

}  // namespace

std::mutex& CertificateLock() {
  static std::mutex lock;
  return lock;
}

CertContextImpl* FindContextLocked(PCCERT_CONTEXT context) {
  if (!context) return nullptr;
  auto it = Contexts().find(context);
  return it == Contexts().end() ? nullptr : it->second.get();
}

PCCERT_CONTEXT RegisterContextLocked(std::unique_ptr<CertContextImpl> impl) {
  const CERT_CONTEXT* key = &impl->pub;
  Contexts().emplace(key, std::move(impl));
  return key;
}

HCRYPTPROV ReleaseContextLocked(CertContextImpl* impl) {
  if (--impl->references > 0) return 0;
  HCRYPTPROV cached = impl->cachedProv;
  Contexts().erase(&impl->pub);
  return cached;
}

std::unique_ptr<CertContextImpl> CopyContext(const CertContextImpl& source, HCERTSTORE store) {
  auto copy = std::make_unique<CertContextImpl>();
  copy->decoded = source.decoded;
  copy->keyProvInfo = source.keyProvInfo;
  copy->blobProperties = source.blobProperties;
  copy->pub = source.pub;
  copy->pub.hCertStore = store;
  return copy;
}

bool SameCertificate(const CertContextImpl& a, const CertContextImpl& b) {
  return a.pub.cbCertEncoded == b.pub.cbCertEncoded &&
         std::memcmp(a.pub.pbCertEncoded, b.pub.pbCertEncoded, a.pub.cbCertEncoded) == 0;
}

KeyProvInfoValue KeyProvInfoValue::From(const CRYPT_KEY_PROV_INFO& info) {
  KeyProvInfoValue v;
  if (info.pwszContainerName) v.container = info.pwszContainerName;
  if (info.pwszProvName) v.provider = info.pwszProvName;
  v.provType = info.dwProvType;
  v.flags = info.dwFlags;
  v.keySpec = info.dwKeySpec;
  for (DWORD i = 0; info.rgProvParam && i < info.cProvParam; ++i) {
    const CRYPT_KEY_PROV_PARAM& p = info.rgProvParam[i];
    Param param{p.dwParam, p.dwFlags, {}};
    if (p.pbData && p.cbData) param.data.assign(p.pbData, p.pbData + p.cbData);
    v.params.push_back(std::move(param));
  }
  return v;
}

std::size_t KeyProvInfoValue::SerializedSize() const {
  std::size_t size = AlignUp(sizeof(CRYPT_KEY_PROV_INFO)) +
                     AlignUp(params.size() * sizeof(CRYPT_KEY_PROV_PARAM)) +
                     AlignUp((container.size() + 1) * sizeof(WCHAR)) +
                     AlignUp((provider.size() + 1) * sizeof(WCHAR));
  for (const Param& p : params) size += AlignUp(p.data.size());
  return size;
}

void KeyProvInfoValue::Serialize(BYTE* buffer) const {
  std::memset(buffer, 0, SerializedSize());
  auto* info = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(buffer);
  BYTE* next = buffer + AlignUp(sizeof(CRYPT_KEY_PROV_INFO));
  auto* paramArray = reinterpret_cast<CRYPT_KEY_PROV_PARAM*>(next);
  next += AlignUp(params.size() * sizeof(CRYPT_KEY_PROV_PARAM));
  auto putString = [&next](const std::u16string& s) {
    auto* out = reinterpret_cast<WCHAR*>(next);
    std::memcpy(out, s.c_str(), (s.size() + 1) * sizeof(WCHAR));
    next += AlignUp((s.size() + 1) * sizeof(WCHAR));
    return out;
  };
  info->pwszContainerName = putString(container);
  info->pwszProvName = putString(provider);
  info->dwProvType = provType;
  info->dwFlags = flags;
  info->dwKeySpec = keySpec;
  info->cProvParam = static_cast<DWORD>(params.size());
  info->rgProvParam = params.empty() ? nullptr : paramArray;
  for (std::size_t i = 0; i < params.size(); ++i) {
    paramArray[i].dwParam = params[i].param;
    paramArray[i].dwFlags = params[i].flags;
    paramArray[i].cbData = static_cast<DWORD>(params[i].data.size());
    if (!params[i].data.empty()) {
      std::memcpy(next, params[i].data.data(), params[i].data.size());
      paramArray[i].pbData = next;
      next += AlignUp(params[i].data.size());
    }
  }
}

}  // namespace platform::crypt

using namespace platform::crypt;

extern "C" PCCERT_CONTEXT CertCreateCertificateContext(DWORD dwCertEncodingType,
                                                       const BYTE* pbCertEncoded,
                                                       DWORD cbCertEncoded) {
  if (GET_CERT_ENCODING_TYPE(dwCertEncodingType) != X509_ASN_ENCODING || !pbCertEncoded) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto decoded = DecodedCertificate::Decode(pbCertEncoded, cbCertEncoded);
  if (!decoded) {
    SetLastError(CRYPT_E_ASN1_BADTAG);
    return nullptr;
  }
  auto impl = std::make_unique<CertContextImpl>();
  impl->pub.dwCertEncodingType = dwCertEncodingType;
  impl->pub.pbCertEncoded = decoded->Encoded();
  impl->pub.cbCertEncoded = decoded->EncodedSize();
  impl->pub.pCertInfo = decoded->Info();
  impl->decoded = std::move(decoded);
  std::lock_guard lock(CertificateLock());
  return RegisterContextLocked(std::move(impl));
}

extern "C" PCCERT_CONTEXT CertDuplicateCertificateContext(PCCERT_CONTEXT pCertContext) {
  std::lock_guard lock(CertificateLock());
  CertContextImpl* impl = FindContextLocked(pCertContext);
  if (!impl) {
    if (pCertContext) SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  ++impl->references;
  return pCertContext;
}

extern "C" BOOL CertFreeCertificateContext(PCCERT_CONTEXT pCertContext) {
  if (!pCertContext) return TRUE;
  HCRYPTPROV cached = 0;
  {
    std::lock_guard lock(CertificateLock());
    CertContextImpl* impl = FindContextLocked(pCertContext);
    if (!impl) return Fail(ERROR_INVALID_HANDLE);
    cached = ReleaseContextLocked(impl);
  }
  if (cached) CryptReleaseContext(cached, 0);
  return TRUE;
}

extern "C" BOOL CertGetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId,
                                                  void* pvData, DWORD* pcbData) {
  if (!pcbData) return Fail(ERROR_INVALID_PARAMETER);
  std::unique_lock lock(CertificateLock());
  CertContextImpl* impl = FindContextLocked(pCertContext);
  if (!impl) return Fail(ERROR_INVALID_HANDLE);
  auto* out = static_cast<BYTE*>(pvData);
  switch (dwPropId) {
    case CERT_KEY_PROV_INFO_PROP_ID: {
      if (!impl->keyProvInfo) return Fail(CRYPT_E_NOT_FOUND);
      std::size_t size = impl->keyProvInfo->SerializedSize();
      DWORD available = *pcbData;
      *pcbData = static_cast<DWORD>(size);
      if (!out) return TRUE;
      if (available < size) return Fail(ERROR_MORE_DATA);
      impl->keyProvInfo->Serialize(out);
      return TRUE;
    }
    case CERT_KEY_PROV_HANDLE_PROP_ID:
      if (!impl->cachedProv) return Fail(CRYPT_E_NOT_FOUND);
      return Report(CopyOut(&impl->cachedProv, sizeof(HCRYPTPROV), out, pcbData));
    case CERT_SHA1_HASH_PROP_ID:
      if (!impl->blobProperties.count(dwPropId)) {
        BYTE hash[SHA_DIGEST_LENGTH];
        SHA1(impl->pub.pbCertEncoded, impl->pub.cbCertEncoded, hash);
        return Report(CopyOut(hash, sizeof hash, out, pcbData));
      }
      [[fallthrough]];
    default: {
      auto it = impl->blobProperties.find(dwPropId);
      if (it == impl->blobProperties.end()) return Fail(CRYPT_E_NOT_FOUND);
      return Report(CopyOut(it->second.data(), it->second.size(), out, pcbData));
    }
  }
}

extern "C" BOOL CertSetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId,
                                                  DWORD dwFlags, const void* pvData) {
  HCRYPTPROV dropped = 0;
  {
    std::lock_guard lock(CertificateLock());
    CertContextImpl* impl = FindContextLocked(pCertContext);
    if (!impl) return Fail(ERROR_INVALID_HANDLE);
    if (dwPropId == 0 || dwPropId == CERT_KEY_PROV_HANDLE_PROP_ID ||
        dwPropId == CERT_KEY_CONTEXT_PROP_ID)
      return Fail(ERROR_INVALID_PARAMETER);
    if (dwPropId == CERT_KEY_PROV_INFO_PROP_ID) {
      // A new key location makes a cached provider handle stale.
      dropped = impl->cachedProv;
      impl->cachedProv = 0;
      if (pvData)
        impl->keyProvInfo =
            KeyProvInfoValue::From(*static_cast<const CRYPT_KEY_PROV_INFO*>(pvData));
      else
        impl->keyProvInfo.reset();
    } else if (pvData) {
      const auto* blob = static_cast<const CRYPT_DATA_BLOB*>(pvData);
      if (blob->cbData && !blob->pbData) return Fail(ERROR_INVALID_PARAMETER);
      impl->blobProperties[dwPropId].assign(blob->pbData, blob->pbData + blob->cbData);
    } else {
      impl->blobProperties.erase(dwPropId);
    }
  }
  if (dropped) CryptReleaseContext(dropped, 0);
  return TRUE;
}
