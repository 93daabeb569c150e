// PKCS#12 import: files made here by OpenSSL with legacy and AES protection,
// the keys they carry, and every kind of bad file.
#include "key_container.h"
#include "orvel_test/program_run.h"
#include "pfx_reader.h"
#include "platform/provider_registry.h"
#include "test_pki.h"

#include <openssl/core_names.h>

#include <chrono>
#include <cstring>

using namespace testpki;

namespace {

struct ImportedCert {
  int serial = 0;
  bool hasKey = false;
  std::u16string container;
  std::u16string provider;
  DWORD keySpec = 0;
};

std::vector<ImportedCert> Describe(HCERTSTORE store) {
  std::vector<ImportedCert> out;
  PCCERT_CONTEXT ctx = nullptr;
  while ((ctx = CertEnumCertificatesInStore(store, ctx)) != nullptr) {
    ImportedCert c;
    c.serial = ctx->pCertInfo->SerialNumber.pbData[0];
    DWORD size = 0;
    if (CertGetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
      std::vector<std::max_align_t> buffer(size / sizeof(std::max_align_t) + 1);
      EXPECT_TRUE(
          CertGetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size));
      const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
      c.hasKey = true;
      c.container = info->pwszContainerName;
      c.provider = info->pwszProvName;
      c.keySpec = info->dwKeySpec;
      EXPECT_EQ(info->dwProvType, PROV_RSA_FULL);
    }
    out.push_back(c);
  }
  return out;
}

// The exported PRIVATEKEYBLOB of the certificate's key, through the same
// calls the key export makes.
Bytes ExportBlob(PCCERT_CONTEXT cert, DWORD capacity, DWORD* error, DWORD* needed) {
  HCRYPTPROV prov = 0;
  DWORD spec = 0;
  BOOL callerFrees = TRUE;
  *error = 0;
  if (!CryptAcquireCertificatePrivateKey(cert, CRYPT_ACQUIRE_CACHE_FLAG, nullptr, &prov, &spec,
                                         &callerFrees)) {
    *error = GetLastError();
    return {};
  }
  EXPECT_FALSE(callerFrees);
  CKeyHandle key;
  Bytes blob(capacity);
  DWORD size = capacity;
  if (!CryptGetUserKey(prov, spec, key.Receive())) {
    *error = GetLastError();
    return {};
  }
  if (!CryptExportKey(key.Get(), 0, PRIVATEKEYBLOB, 0, blob.data(), &size)) {
    *error = GetLastError();
    blob.clear();
  } else {
    blob.resize(size);
  }
  if (needed) *needed = size;
  return blob;
}

Bytes LittleEndian(EVP_PKEY* key, const char* param, std::size_t size) {
  BIGNUM* bn = nullptr;
  EXPECT_EQ(EVP_PKEY_get_bn_param(key, param, &bn), 1) << param;
  Bytes out(size);
  EXPECT_EQ(BN_bn2lebinpad(bn, out.data(), static_cast<int>(size)), static_cast<int>(size))
      << param;
  BN_free(bn);
  return out;
}

void ExpectBlobHoldsKey(const Bytes& blob, EVP_PKEY* key, int bits) {
  const std::size_t n = bits / 8, h = bits / 16;
  ASSERT_EQ(blob.size(), 20 + 2 * n + 5 * h);
  EXPECT_EQ(blob[0], PRIVATEKEYBLOB);
  EXPECT_EQ(blob[1], CUR_BLOB_VERSION);
  EXPECT_EQ(blob[4] | blob[5] << 8, static_cast<int>(CALG_RSA_KEYX));
  EXPECT_EQ(0, std::memcmp(&blob[8], "RSA2", 4));
  EXPECT_EQ(blob[12] | blob[13] << 8 | blob[14] << 16, bits);
  Bytes e = LittleEndian(key, OSSL_PKEY_PARAM_RSA_E, 4);
  EXPECT_EQ(Bytes(blob.begin() + 16, blob.begin() + 20), e);
  std::size_t offset = 20;
  struct Field {
    const char* name;
    std::size_t size;
  } fields[] = {{OSSL_PKEY_PARAM_RSA_N, n},         {OSSL_PKEY_PARAM_RSA_FACTOR1, h},
                {OSSL_PKEY_PARAM_RSA_FACTOR2, h},   {OSSL_PKEY_PARAM_RSA_EXPONENT1, h},
                {OSSL_PKEY_PARAM_RSA_EXPONENT2, h}, {OSSL_PKEY_PARAM_RSA_COEFFICIENT1, h},
                {OSSL_PKEY_PARAM_RSA_D, n}};
  for (const Field& f : fields) {
    EXPECT_EQ(Bytes(blob.begin() + offset, blob.begin() + offset + f.size),
              LittleEndian(key, f.name, f.size))
        << f.name;
    offset += f.size;
  }
}

class PfxTest : public UserDirTest {
 protected:
  HCERTSTORE Import(Bytes& pfx, const char* password, DWORD flags = CRYPT_EXPORTABLE) {
    CRYPT_DATA_BLOB blob = BlobOf(pfx);
    std::u16string wide = Wide(password);
    return PFXImportCertStore(&blob, wide.c_str(), flags);
  }
  PCCERT_CONTEXT First(HCERTSTORE store) { return CertEnumCertificatesInStore(store, nullptr); }
  std::size_t ContainerFiles() {
    std::size_t count = 0;
    if (std::filesystem::exists(m_dir / "keys"))
      for (const auto& e : std::filesystem::directory_iterator(m_dir / "keys"))
        count += e.is_regular_file();
    return count;
  }
};

}  // namespace

TEST_F(PfxTest, LegacyAndAesFilesImportTheKeyExportably) {
  for (Protection protection : {Protection::kLegacy, Protection::kAes256}) {
    SCOPED_TRACE(protection == Protection::kLegacy ? "legacy" : "aes");
    X509Ptr cert = MakeCert(CertSpec{Key(1024)});
    PfxSpec spec{Key(1024), cert.get()};
    spec.protection = protection;
    Bytes pfx = MakePfx(spec);
    CRYPT_DATA_BLOB blob = BlobOf(pfx);
    EXPECT_TRUE(PFXIsPFXBlob(&blob));
    std::u16string password = u"secreto";
    EXPECT_TRUE(PFXVerifyPassword(&blob, password.c_str(), 0));

    HCERTSTORE store = Import(pfx, "secreto");
    ASSERT_NE(store, nullptr) << std::hex << GetLastError();
    auto certs = Describe(store);
    ASSERT_EQ(certs.size(), 1u);
    EXPECT_TRUE(certs[0].hasKey);
    EXPECT_EQ(certs[0].provider, Wide(platform::kSoftwareProviderName));
    EXPECT_EQ(certs[0].keySpec, AT_KEYEXCHANGE);

    PCCERT_CONTEXT ctx = First(store);
    EXPECT_EQ(Bytes(ctx->pbCertEncoded, ctx->pbCertEncoded + ctx->cbCertEncoded), Der(cert.get()));
    DWORD error = 0;
    Bytes exported = ExportBlob(ctx, 596, &error, nullptr);
    EXPECT_EQ(error, 0u);
    ASSERT_EQ(exported.size(), 596u);
    ExpectBlobHoldsKey(exported, Key(1024), 1024);
    CertFreeCertificateContext(ctx);
    EXPECT_TRUE(CertCloseStore(store, 0));
  }
}

TEST_F(PfxTest, KeySizesAndTheExportBuffer) {
  struct Case {
    int bits;
    std::size_t blobSize;
  } cases[] = {{512, 308}, {2048, 1172}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bits);
    X509Ptr cert = MakeCert(CertSpec{Key(c.bits)});
    Bytes pfx = MakePfx(PfxSpec{Key(c.bits), cert.get()});
    const CCertStore store(Import(pfx, "secreto"));
    ASSERT_TRUE(store);
    const CCertificateContext ctx(First(store.Get()));
    DWORD error = 0, needed = 0;
    Bytes exported = ExportBlob(ctx.Get(), 596, &error, &needed);
    if (c.blobSize > 596) {
      EXPECT_TRUE(exported.empty());
      EXPECT_EQ(error, ERROR_MORE_DATA);
      EXPECT_EQ(needed, c.blobSize);
      exported = ExportBlob(ctx.Get(), needed, &error, nullptr);
    }
    EXPECT_EQ(exported.size(), c.blobSize);
    ExpectBlobHoldsKey(exported, Key(c.bits), c.bits);
  }
}

TEST_F(PfxTest, SignatureAlgorithmsAndKeyUsageSurviveTheImport) {
  struct Case {
    const EVP_MD* md;
    const char* oid;
    std::optional<int> usage;
  } cases[] = {{EVP_md5(), szOID_RSA_MD5RSA, 0xA0},
               {EVP_sha1(), szOID_RSA_SHA1RSA, std::nullopt},
               {EVP_sha256(), szOID_RSA_SHA256RSA, 0x20}};
  for (const Case& c : cases) {
    CertSpec certSpec{Key(1024)};
    certSpec.digest = c.md;
    certSpec.keyUsage = c.usage;
    X509Ptr cert = MakeCert(certSpec);
    Bytes pfx = MakePfx(PfxSpec{Key(1024), cert.get()});
    const CCertStore store(Import(pfx, "secreto"));
    ASSERT_TRUE(store);
    const CCertificateContext ctx(First(store.Get()));
    EXPECT_STREQ(ctx.Get()->pCertInfo->SignatureAlgorithm.pszObjId, c.oid);
    BYTE usage = 0xFF;
    EXPECT_EQ(CertGetIntendedKeyUsage(kEncoding, ctx.Get()->pCertInfo, &usage, 1),
              c.usage ? TRUE : FALSE);
    EXPECT_EQ(usage, c.usage.value_or(0));
  }
}

TEST_F(PfxTest, AuthorityCertificatesComeWithoutKeyInFileOrder) {
  CertSpec rootSpec{Key(1024, 1)};
  rootSpec.ca = true;
  rootSpec.serial = 0x31;
  rootSpec.commonName = "Raiz";
  X509Ptr root = MakeCert(rootSpec);
  CertSpec subSpec{Key(1024, 2), Key(1024, 1)};
  subSpec.ca = true;
  subSpec.serial = 0x32;
  X509Ptr sub = MakeCert(subSpec);
  CertSpec leafSpec{Key(1024), Key(1024, 2)};
  leafSpec.serial = 0x33;
  X509Ptr leaf = MakeCert(leafSpec);
  PfxSpec spec{Key(1024), leaf.get(), {sub.get(), root.get()}};
  Bytes pfx = MakePfx(spec);
  const CCertStore store(Import(pfx, "secreto"));
  ASSERT_TRUE(store);
  auto certs = Describe(store.Get());
  ASSERT_EQ(certs.size(), 3u);
  // OpenSSL writes the key's certificate first, then the chain.
  EXPECT_EQ(certs[0].serial, 0x33);
  EXPECT_TRUE(certs[0].hasKey);
  EXPECT_EQ(certs[1].serial, 0x32);
  EXPECT_FALSE(certs[1].hasKey);
  EXPECT_EQ(certs[2].serial, 0x31);
  EXPECT_FALSE(certs[2].hasKey);
  EXPECT_EQ(ContainerFiles(), 1u);
}

TEST_F(PfxTest, CertificatesOnlyFileMakesNoContainer) {
  X509Ptr cert = MakeCert(CertSpec{Key(1024)});
  PfxSpec spec{nullptr, nullptr, {cert.get()}};
  Bytes pfx = MakePfx(spec);
  const CCertStore store(Import(pfx, "secreto"));
  ASSERT_TRUE(store);
  auto certs = Describe(store.Get());
  ASSERT_EQ(certs.size(), 1u);
  EXPECT_FALSE(certs[0].hasKey);
  EXPECT_EQ(ContainerFiles(), 0u);
}

TEST_F(PfxTest, EmptyPassword) {
  X509Ptr cert = MakeCert(CertSpec{Key(1024)});
  PfxSpec spec{Key(1024), cert.get()};
  spec.password = "";
  Bytes pfx = MakePfx(spec);
  CRYPT_DATA_BLOB blob = BlobOf(pfx);
  EXPECT_TRUE(PFXVerifyPassword(&blob, u"", 0));
  EXPECT_TRUE(PFXVerifyPassword(&blob, nullptr, 0));
  EXPECT_FALSE(PFXVerifyPassword(&blob, u"x", 0));
  const CCertStore store(Import(pfx, ""));
  ASSERT_TRUE(store);
  EXPECT_TRUE(Describe(store.Get()).at(0).hasKey);
}

TEST_F(PfxTest, WrongPasswordCreatesNothing) {
  for (Protection protection : {Protection::kLegacy, Protection::kAes256}) {
    X509Ptr cert = MakeCert(CertSpec{Key(1024)});
    PfxSpec spec{Key(1024), cert.get()};
    spec.protection = protection;
    Bytes pfx = MakePfx(spec);
    CRYPT_DATA_BLOB blob = BlobOf(pfx);
    SetLastError(0);
    EXPECT_FALSE(PFXVerifyPassword(&blob, u"Secreto", 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PASSWORD);
    EXPECT_FALSE(PFXVerifyPassword(&blob, u"", 0));
    SetLastError(0);
    EXPECT_EQ(Import(pfx, "Secreto"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PASSWORD);
    EXPECT_EQ(ContainerFiles(), 0u);
  }
}

TEST_F(PfxTest, FileWithoutMacIsCheckedByDecryption) {
  X509Ptr cert = MakeCert(CertSpec{Key(1024)});
  PfxSpec spec{Key(1024), cert.get()};
  spec.macIterations = -1;
  Bytes pfx = MakePfx(spec);
  CRYPT_DATA_BLOB blob = BlobOf(pfx);
  EXPECT_TRUE(PFXVerifyPassword(&blob, u"secreto", 0));
  EXPECT_FALSE(PFXVerifyPassword(&blob, u"otro", 0));
  EXPECT_EQ(Import(pfx, "otro"), nullptr);
  EXPECT_TRUE(CCertStore(Import(pfx, "secreto")));
}

TEST_F(PfxTest, NotAPfx) {
  Bytes der = Der(MakeCert(CertSpec{Key(1024)}).get());
  CRYPT_DATA_BLOB blob = BlobOf(der);
  SetLastError(0);
  EXPECT_FALSE(PFXIsPFXBlob(&blob));
  EXPECT_EQ(GetLastError(), CRYPT_E_BAD_ENCODE);
  EXPECT_FALSE(PFXVerifyPassword(&blob, u"secreto", 0));
  EXPECT_EQ(Import(der, "secreto"), nullptr);
  EXPECT_EQ(GetLastError(), CRYPT_E_BAD_ENCODE);

  Bytes empty;
  CRYPT_DATA_BLOB none = BlobOf(empty);
  EXPECT_FALSE(PFXIsPFXBlob(&none));
  EXPECT_FALSE(PFXIsPFXBlob(nullptr));
  EXPECT_FALSE(PFXVerifyPassword(nullptr, u"", 0));
  EXPECT_EQ(PFXImportCertStore(nullptr, u"", CRYPT_EXPORTABLE), nullptr);
  BYTE one = 0x30;
  CRYPT_DATA_BLOB tiny{1, &one};
  EXPECT_FALSE(PFXIsPFXBlob(&tiny));
}

TEST_F(PfxTest, TruncatedOrDamagedFiles) {
  X509Ptr cert = MakeCert(CertSpec{Key(1024)});
  Bytes pfx = MakePfx(PfxSpec{Key(1024), cert.get()});
  for (std::size_t cut : {pfx.size() - 1, pfx.size() / 2, std::size_t{10}}) {
    Bytes truncated(pfx.begin(), pfx.begin() + static_cast<long>(cut));
    CRYPT_DATA_BLOB blob = BlobOf(truncated);
    EXPECT_FALSE(PFXIsPFXBlob(&blob)) << cut;
    EXPECT_FALSE(PFXVerifyPassword(&blob, u"secreto", 0));
    EXPECT_EQ(Import(truncated, "secreto"), nullptr);
  }
  // A flipped byte inside the protected content breaks the MAC.
  Bytes damaged = pfx;
  damaged[damaged.size() / 2] ^= 0x01;
  EXPECT_EQ(Import(damaged, "secreto"), nullptr);
  EXPECT_EQ(ContainerFiles(), 0u);
}

TEST_F(PfxTest, UnknownFlagsAreRefused) {
  X509Ptr cert = MakeCert(CertSpec{Key(1024)});
  Bytes pfx = MakePfx(PfxSpec{Key(1024), cert.get()});
  SetLastError(0);
  EXPECT_EQ(Import(pfx, "secreto", CRYPT_EXPORTABLE | CRYPT_MACHINE_KEYSET), nullptr);
  EXPECT_EQ(GetLastError(), NTE_BAD_FLAGS);
}

// Replaces the single INTEGER 65536 (02 03 01 00 00) with 8388607, an
// iteration count that would take seconds to derive.
void RaiseIterations(Bytes& pfx) {
  const unsigned char from[] = {0x02, 0x03, 0x01, 0x00, 0x00};
  auto it = std::search(pfx.begin(), pfx.end(), std::begin(from), std::end(from));
  ASSERT_NE(it, pfx.end());
  ASSERT_EQ(std::search(it + 1, pfx.end(), std::begin(from), std::end(from)), pfx.end());
  it[2] = 0x7F;
  it[3] = 0xFF;
  it[4] = 0xFF;
}

TEST_F(PfxTest, AbsurdIterationCountsAreRefusedAtOnce) {
  X509Ptr cert = MakeCert(CertSpec{Key(1024)});
  PfxSpec macSpec{Key(1024), cert.get()};
  macSpec.macIterations = 65536;
  Bytes costlyMac = MakePfx(macSpec);
  RaiseIterations(costlyMac);

  PfxSpec bagSpec{Key(1024), cert.get()};
  bagSpec.macIterations = -1;
  bagSpec.iterations = 65536;
  bagSpec.protection = Protection::kAes256;
  Bytes costlyBags = MakePfx(bagSpec);
  // Both the certificate safe and the key bag use the count: raise the first.
  const unsigned char from[] = {0x02, 0x03, 0x01, 0x00, 0x00};
  auto it = std::search(costlyBags.begin(), costlyBags.end(), std::begin(from), std::end(from));
  ASSERT_NE(it, costlyBags.end());
  it[2] = 0x7F;

  for (Bytes* pfx : {&costlyMac, &costlyBags}) {
    CRYPT_DATA_BLOB blob = BlobOf(*pfx);
    auto start = std::chrono::steady_clock::now();
    // Not taken as a PFX at all: a program checking the file first never
    // reaches a password check that would keep it busy.
    SetLastError(0);
    EXPECT_FALSE(PFXIsPFXBlob(&blob));
    EXPECT_EQ(GetLastError(), CRYPT_E_BAD_ENCODE);
    EXPECT_FALSE(PFXVerifyPassword(&blob, u"secreto", 0));
    SetLastError(0);
    EXPECT_EQ(Import(*pfx, "secreto"), nullptr);
    EXPECT_EQ(GetLastError(), CRYPT_E_BAD_ENCODE);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  }
  EXPECT_EQ(ContainerFiles(), 0u);
}

// OpenSSL's derivation allocates at every iteration, and the sanitizers'
// allocator makes that some twenty times slower (44 ms a check here become
// 900 ms); the release build holds the check to the second itself.
#ifdef __SANITIZE_ADDRESS__
constexpr int kSanitizerSlowdown = 10;
#else
constexpr int kSanitizerSlowdown = 1;
#endif

TEST_F(PfxTest, TheLargestIterationCountTakenIsCheckedWithinASecond) {
  X509Ptr cert = MakeCert(CertSpec{Key(1024)});
  PfxSpec spec{Key(1024), cert.get()};
  spec.macIterations = 300000;
  Bytes pfx = MakePfx(spec);
  CRYPT_DATA_BLOB blob = BlobOf(pfx);
  ASSERT_TRUE(PFXIsPFXBlob(&blob));
  // One more iteration than that is not a PFX.
  spec.macIterations = 300001;
  Bytes beyond = MakePfx(spec);
  CRYPT_DATA_BLOB beyondBlob = BlobOf(beyond);
  EXPECT_FALSE(PFXIsPFXBlob(&beyondBlob));
  for (const char16_t* password : {u"secreto", u"otra", u""}) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(PFXVerifyPassword(&blob, password, 0), password == std::u16string_view(u"secreto"));
    const auto spent = std::chrono::steady_clock::now() - start;
    EXPECT_LT(spent, std::chrono::milliseconds(1000) * kSanitizerSlowdown)
        << std::chrono::duration_cast<std::chrono::milliseconds>(spent).count() << " ms";
  }
}

TEST_F(PfxTest, ContainersPersistAcrossProcessesUntilDeleted) {
  X509Ptr cert = MakeCert(CertSpec{Key(1024)});
  Bytes pfx = MakePfx(PfxSpec{Key(1024), cert.get()});
  std::string container;
  {
    const CCertStore store(Import(pfx, "secreto"));
    ASSERT_TRUE(store);
    const std::u16string wide = Describe(store.Get()).at(0).container;
    container.assign(wide.begin(), wide.end());
  }
  auto probe = [&] {
    return orvel_test::RunProgram((ProgramDir() / "platform_crypt_probe").string() + " '" +
                                  container + "'")
        .out;
  };
  // The header of the blob: 07 02 00 00 00 a4 00 00 "RSA2" 00 04 00 00.
  EXPECT_EQ(probe(), "exported 596 0702000000a40000525341320004000001000100\n");

  auto file = m_dir / "keys";
  for (const auto& e : std::filesystem::directory_iterator(file)) {
    EXPECT_EQ(e.status().permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  }
  HCRYPTPROV prov = 0;
  ASSERT_TRUE(CryptAcquireContextA(&prov, container.c_str(), platform::kSoftwareProviderName,
                                   PROV_RSA_FULL, CRYPT_DELETEKEYSET));
  EXPECT_EQ(probe(), "error 80090016\n");  // NTE_BAD_KEYSET
  EXPECT_EQ(ContainerFiles(), 0u);
}

TEST_F(PfxTest, ExportIsRefusedWithoutCryptExportable) {
  X509Ptr cert = MakeCert(CertSpec{Key(1024)});
  Bytes pfx = MakePfx(PfxSpec{Key(1024), cert.get()});
  const CCertStore store(Import(pfx, "secreto", 0));
  ASSERT_TRUE(store);
  const CCertificateContext ctx(First(store.Get()));
  // The public part exports.
  CProviderContext prov;
  DWORD spec = 0;
  BOOL callerFrees = FALSE;
  ASSERT_TRUE(CryptAcquireCertificatePrivateKey(ctx.Get(), 0, nullptr, prov.Receive(), &spec,
                                                &callerFrees));
  EXPECT_TRUE(callerFrees);
  CKeyHandle key;
  ASSERT_TRUE(CryptGetUserKey(prov.Get(), spec, key.Receive()));
  DWORD size = 0;
  EXPECT_TRUE(CryptExportKey(key.Get(), 0, PUBLICKEYBLOB, 0, nullptr, &size));
  EXPECT_EQ(size, 20u + 128u);
  key.Reset();
  prov.Release();
  // The private part does not.
  DWORD error = 0;
  EXPECT_TRUE(ExportBlob(ctx.Get(), 596, &error, nullptr).empty());
  EXPECT_EQ(error, NTE_BAD_KEY_STATE);
}

TEST_F(PfxTest, RandomlyDamagedFilesFailCleanly) {
  X509Ptr cert = MakeCert(CertSpec{Key(1024)});
  for (Protection protection : {Protection::kLegacy, Protection::kAes256}) {
    PfxSpec spec{Key(1024), cert.get()};
    spec.protection = protection;
    spec.macIterations = -1;  // without a MAC the damage reaches the decoders
    spec.iterations = 16;
    const Bytes pfx = MakePfx(spec);
    std::uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    for (int round = 0; round < 150; ++round) {
      Bytes damaged = pfx;
      for (int n = 1 + next() % 3; n > 0; --n)
        damaged[next() % damaged.size()] = static_cast<BYTE>(next() >> 16);
      SetLastError(0);
      HCERTSTORE store = Import(damaged, "secreto");
      if (store) {
        EXPECT_TRUE(CertCloseStore(store, 0));
      } else {
        EXPECT_NE(GetLastError(), 0u) << round;
      }
      CRYPT_DATA_BLOB blob = BlobOf(damaged);
      if (!PFXVerifyPassword(&blob, u"secreto", 0)) {
        EXPECT_NE(GetLastError(), 0u);
      }
    }
  }
}

TEST_F(PfxTest, NonAsciiPasswordIsTakenAsUnicode) {
  X509Ptr cert = MakeCert(CertSpec{Key(1024)});
  for (Protection protection : {Protection::kLegacy, Protection::kAes256}) {
    PfxSpec spec{Key(1024), cert.get()};
    spec.protection = protection;
    spec.password =
        "contrase\xC3\xB1"
        "a\xE2\x82\xAC";  // "contraseña€" in UTF-8
    Bytes pfx = MakePfx(spec);
    CRYPT_DATA_BLOB blob = BlobOf(pfx);
    EXPECT_TRUE(PFXVerifyPassword(&blob, u"contrase\u00F1a\u20AC", 0));
    EXPECT_FALSE(PFXVerifyPassword(&blob, u"contrasena\u20AC", 0));
    EXPECT_FALSE(PFXVerifyPassword(&blob, u"contrase\xD800", 0));  // unpaired surrogate
    const CCertStore store(PFXImportCertStore(&blob, u"contrase\u00F1a\u20AC", CRYPT_EXPORTABLE));
    ASSERT_TRUE(store);
    EXPECT_TRUE(Describe(store.Get()).at(0).hasKey);
  }
}
