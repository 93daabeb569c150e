#include "support/memory_store.h"

namespace storeprov_test {

MemoryStore::MemoryStore() : m_store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr)) {}

std::vector<StoredCertificate> MemoryStore::Certificates() const {
  std::vector<StoredCertificate> all;
  PCCERT_CONTEXT context = nullptr;
  while ((context = CertEnumCertificatesInStore(m_store.Get(), context)) != nullptr) {
    StoredCertificate c;
    c.der.assign(context->pbCertEncoded, context->pbCertEncoded + context->cbCertEncoded);
    DWORD size = 0;
    if (CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
      std::vector<BYTE> buffer(size);
      if (CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(),
                                            &size)) {
        const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
        c.hasKeyInfo = true;
        if (info->pwszContainerName) c.container = info->pwszContainerName;
        if (info->pwszProvName) c.provider = info->pwszProvName;
        c.provType = info->dwProvType;
        c.keySpec = info->dwKeySpec;
      }
    }
    all.push_back(std::move(c));
  }
  return all;
}

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

}  // namespace storeprov_test
