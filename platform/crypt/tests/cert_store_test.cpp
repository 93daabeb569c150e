// Memory stores: dispositions, enumeration order, and the lifetime of the
// contexts a store hands out.
#include "test_pki.h"

#include <string>

using namespace testpki;

namespace {

PCCERT_CONTEXT ContextWithSerial(long serial) {
  CertSpec spec{Key(1024)};
  spec.serial = serial;
  Bytes der = Der(MakeCert(spec).get());
  return CertCreateCertificateContext(kEncoding, der.data(), static_cast<DWORD>(der.size()));
}

void SetProvider(PCCERT_CONTEXT ctx, const char16_t* container) {
  std::u16string c = container, p = u"OrvelCSP";
  CRYPT_KEY_PROV_INFO info{c.data(), p.data(), PROV_RSA_FULL, 0, 0, nullptr, AT_SIGNATURE};
  ASSERT_TRUE(CertSetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
}

std::u16string ContainerOf(PCCERT_CONTEXT ctx) {
  DWORD size = 0;
  if (!CertGetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size))
    return u"<none>";
  std::vector<std::max_align_t> buffer(size / sizeof(std::max_align_t) + 1);
  CertGetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size);
  return reinterpret_cast<CRYPT_KEY_PROV_INFO*>(buffer.data())->pwszContainerName;
}

// Serial numbers and containers in enumeration order.
std::vector<std::pair<int, std::u16string>> SerialsAndContainers(HCERTSTORE store) {
  std::vector<std::pair<int, std::u16string>> out;
  PCCERT_CONTEXT ctx = nullptr;
  while ((ctx = CertEnumCertificatesInStore(store, ctx)) != nullptr) {
    EXPECT_EQ(ctx->hCertStore, store);
    out.emplace_back(ctx->pCertInfo->SerialNumber.pbData[0], ContainerOf(ctx));
  }
  EXPECT_EQ(GetLastError(), CRYPT_E_NOT_FOUND);
  return out;
}

// A new memory store, closed with the object.
struct Store : CCertStore {
  Store() : CCertStore(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr)) {}
};

}  // namespace

TEST(CertStore, EnumeratesInTheOrderOfAddition) {
  Store store;
  ASSERT_NE(store.Get(), nullptr);
  for (long serial : {3, 1, 2}) {
    const CCertificateContext ctx(ContextWithSerial(serial));
    ASSERT_TRUE(
        CertAddCertificateContextToStore(store.Get(), ctx.Get(), CERT_STORE_ADD_NEW, nullptr));
  }
  auto contents = SerialsAndContainers(store.Get());
  ASSERT_EQ(contents.size(), 3u);
  EXPECT_EQ(contents[0].first, 3);
  EXPECT_EQ(contents[1].first, 1);
  EXPECT_EQ(contents[2].first, 2);
}

TEST(CertStore, Dispositions) {
  Store store;
  PCCERT_CONTEXT first = ContextWithSerial(5);
  SetProvider(first, u"uno");
  ASSERT_TRUE(CertAddCertificateContextToStore(store.Get(), first, CERT_STORE_ADD_NEW, nullptr));
  PCCERT_CONTEXT other = ContextWithSerial(6);
  ASSERT_TRUE(CertAddCertificateContextToStore(store.Get(), other, CERT_STORE_ADD_NEW, nullptr));

  // The same certificate again (a new context of the same bytes).
  PCCERT_CONTEXT again =
      CertCreateCertificateContext(kEncoding, first->pbCertEncoded, first->cbCertEncoded);
  SetLastError(0);
  EXPECT_FALSE(CertAddCertificateContextToStore(store.Get(), again, CERT_STORE_ADD_NEW, nullptr));
  EXPECT_EQ(GetLastError(), CRYPT_E_EXISTS);

  // Inheriting: the replacement has no key information and takes the old one.
  ASSERT_TRUE(CertAddCertificateContextToStore(
      store.Get(), again, CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES, nullptr));
  EXPECT_EQ(SerialsAndContainers(store.Get()),
            (std::vector<std::pair<int, std::u16string>>{{5, u"uno"}, {6, u"<none>"}}));

  // Replacing: stands once, in its place, with the last addition's information.
  SetProvider(again, u"dos");
  ASSERT_TRUE(CertAddCertificateContextToStore(store.Get(), again, CERT_STORE_ADD_REPLACE_EXISTING,
                                               nullptr));
  EXPECT_EQ(SerialsAndContainers(store.Get()),
            (std::vector<std::pair<int, std::u16string>>{{5, u"dos"}, {6, u"<none>"}}));

  // Inheriting does not override what the new context has.
  SetProvider(again, u"tres");
  ASSERT_TRUE(CertAddCertificateContextToStore(
      store.Get(), again, CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES, nullptr));
  EXPECT_EQ(SerialsAndContainers(store.Get())[0].second, u"tres");

  // Always: a second copy.
  PCCERT_CONTEXT added = nullptr;
  ASSERT_TRUE(CertAddCertificateContextToStore(store.Get(), again, CERT_STORE_ADD_ALWAYS, &added));
  ASSERT_NE(added, nullptr);
  EXPECT_NE(added, again);
  EXPECT_EQ(added->hCertStore, store.Get());
  EXPECT_EQ(SerialsAndContainers(store.Get()).size(), 3u);

  SetLastError(0);
  EXPECT_FALSE(CertAddCertificateContextToStore(store.Get(), again, 99, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  for (PCCERT_CONTEXT c : {first, other, again, added}) EXPECT_TRUE(CertFreeCertificateContext(c));
}

TEST(CertStore, TheStoreKeepsItsOwnCopy) {
  Store store;
  PCCERT_CONTEXT ctx = ContextWithSerial(7);
  ASSERT_TRUE(CertAddCertificateContextToStore(store.Get(), ctx, CERT_STORE_ADD_ALWAYS, nullptr));
  SetProvider(ctx, u"later");  // changing the original leaves the store's copy alone
  CertFreeCertificateContext(ctx);
  EXPECT_EQ(SerialsAndContainers(store.Get()),
            (std::vector<std::pair<int, std::u16string>>{{7, u"<none>"}}));
}

TEST(CertStore, EnumerationReleasesThePreviousContext) {
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  for (long serial : {1, 2}) {
    PCCERT_CONTEXT ctx = ContextWithSerial(serial);
    CertAddCertificateContextToStore(store, ctx, CERT_STORE_ADD_ALWAYS, nullptr);
    CertFreeCertificateContext(ctx);
  }
  PCCERT_CONTEXT a = CertEnumCertificatesInStore(store, nullptr);
  ASSERT_NE(a, nullptr);
  PCCERT_CONTEXT b = CertEnumCertificatesInStore(store, a);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  EXPECT_EQ(CertEnumCertificatesInStore(store, b), nullptr);
  // Every reference the enumeration handed out was given back, so nothing is
  // pending and closing the store destroys both contexts.
  EXPECT_TRUE(CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG));
  EXPECT_FALSE(CertFreeCertificateContext(a));
  EXPECT_FALSE(CertFreeCertificateContext(b));
}

TEST(CertStore, ContextsOutliveTheClosedStore) {
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  PCCERT_CONTEXT ctx = ContextWithSerial(9);
  PCCERT_CONTEXT inStore = nullptr;
  ASSERT_TRUE(CertAddCertificateContextToStore(store, ctx, CERT_STORE_ADD_ALWAYS, &inStore));
  CertFreeCertificateContext(ctx);
  SetLastError(0);
  EXPECT_FALSE(CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG));
  EXPECT_EQ(GetLastError(), CRYPT_E_PENDING_CLOSE);
  EXPECT_EQ(inStore->pCertInfo->SerialNumber.pbData[0], 9);
  EXPECT_TRUE(CertFreeCertificateContext(inStore));
  EXPECT_FALSE(CertFreeCertificateContext(inStore));
}

TEST(CertStore, BadHandlesAreRefused) {
  SetLastError(0);
  EXPECT_EQ(CertOpenStore("System", 0, 0, 0, nullptr), nullptr);
  EXPECT_NE(GetLastError(), 0u);
  HCERTSTORE store = CertOpenStore(sz_CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  ASSERT_NE(store, nullptr);
  EXPECT_TRUE(CertCloseStore(store, 0));
  SetLastError(0);
  EXPECT_FALSE(CertCloseStore(store, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(CertEnumCertificatesInStore(store, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  PCCERT_CONTEXT ctx = ContextWithSerial(1);
  EXPECT_FALSE(CertAddCertificateContextToStore(store, ctx, CERT_STORE_ADD_ALWAYS, nullptr));
  Store open;
  EXPECT_FALSE(
      CertAddCertificateContextToStore(open.Get(), nullptr, CERT_STORE_ADD_ALWAYS, nullptr));
  CertFreeCertificateContext(ctx);
  EXPECT_TRUE(CertCloseStore(nullptr, 0));
}
