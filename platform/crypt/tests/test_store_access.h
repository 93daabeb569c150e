// Reaching the test store-provider module from the tests: its counters and
// settings, and certificates to put in stores.
#pragma once

#include "test_pki.h"
#include "test_store_module.h"

#include <dlfcn.h>

#include <cstddef>

#include <map>
#include <string>

namespace teststore {

// The module as the test program sees it (mapped once, without the platform
// loader, so that looking at it counts as no load of the platform's).
class Module {
 public:
  static Module& Get() {
    static Module module;
    return module;
  }
  TestStoreCounters& Counters() const { return *m_counters(); }
  void Reset() const { m_reset(); }
  void RefuseWrites(bool refuse) const { m_refuseWrites(refuse ? TRUE : FALSE); }
  void RefuseAttach(bool refuse) const { m_refuseAttach(refuse ? TRUE : FALSE); }
  void SetCardCertificate(const testpki::Bytes& der) const {
    m_setCard(der.data(), static_cast<DWORD>(der.size()));
  }
  void SetResyncCertificate(const testpki::Bytes& der) const {
    m_setResync(der.data(), static_cast<DWORD>(der.size()));
  }

 private:
  Module() {
    const std::string path = (testpki::ProgramDir() / "libOrvelTestStore.so").string();
    m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_handle) std::abort();
    m_counters = Symbol<PFN_TEST_STORE_COUNTERS>("TestStoreGetCounters");
    m_reset = Symbol<PFN_TEST_STORE_RESET>("TestStoreReset");
    m_refuseWrites = Symbol<PFN_TEST_STORE_SET_BOOL>("TestStoreSetRefuseWrites");
    m_refuseAttach = Symbol<PFN_TEST_STORE_SET_BOOL>("TestStoreSetRefuseAttach");
    m_setCard = Symbol<PFN_TEST_STORE_SET_BYTES>("TestStoreSetCardCertificate");
    m_setResync = Symbol<PFN_TEST_STORE_SET_BYTES>("TestStoreSetResyncCertificate");
  }
  template <class F>
  F Symbol(const char* name) {
    void* symbol = dlsym(m_handle, name);
    if (!symbol) std::abort();
    return reinterpret_cast<F>(symbol);
  }

  void* m_handle = nullptr;
  PFN_TEST_STORE_COUNTERS m_counters = nullptr;
  PFN_TEST_STORE_RESET m_reset = nullptr;
  PFN_TEST_STORE_SET_BOOL m_refuseWrites = nullptr;
  PFN_TEST_STORE_SET_BOOL m_refuseAttach = nullptr;
  PFN_TEST_STORE_SET_BYTES m_setCard = nullptr;
  PFN_TEST_STORE_SET_BYTES m_setResync = nullptr;
};

// A certificate of its own key for each serial, DER and as a context. Made
// once per process: its validity starts at the time it is made, so making it
// again a second later would give other bytes.
inline testpki::Bytes CertificateDer(long serial, const std::string& name = "Prueba") {
  static std::map<std::pair<long, std::string>, testpki::Bytes> made;
  auto [it, fresh] = made.try_emplace({serial, name});
  if (fresh) {
    testpki::CertSpec spec{testpki::Key(1024, static_cast<int>(serial % 2))};
    spec.serial = serial;
    spec.commonName = name;
    it->second = testpki::Der(testpki::MakeCert(spec).get());
  }
  return it->second;
}

inline PCCERT_CONTEXT NewContext(const testpki::Bytes& der) {
  return CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(),
                                      static_cast<DWORD>(der.size()));
}

// The serial numbers (first byte) of a store's certificates, in enumeration
// order, each with its key container ("" without key-provider information).
inline std::vector<std::pair<int, std::u16string>> Contents(HCERTSTORE store) {
  std::vector<std::pair<int, std::u16string>> out;
  PCCERT_CONTEXT context = nullptr;
  while ((context = CertEnumCertificatesInStore(store, context)) != nullptr) {
    std::u16string container;
    DWORD size = 0;
    if (CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
      std::vector<std::max_align_t> buffer(size / sizeof(std::max_align_t) + 1);
      if (CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(),
                                            &size)) {
        container = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(buffer.data())->pwszContainerName;
      }
    }
    out.emplace_back(context->pCertInfo->SerialNumber.pbData[0], container);
  }
  EXPECT_EQ(GetLastError(), CRYPT_E_NOT_FOUND);
  return out;
}

using Entries = std::vector<std::pair<int, std::u16string>>;

// The user's stores as a program opens them.
inline HCERTSTORE OpenPersonal(DWORD extraFlags = 0) {
  return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER | extraFlags,
                       u"MY");
}
inline HCERTSTORE OpenPersonalDefault() {
  return CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER,
                       u"MY");
}

}  // namespace teststore
