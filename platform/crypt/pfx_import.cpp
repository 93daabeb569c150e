// PFXIsPFXBlob, PFXVerifyPassword and PFXImportCertStore.
#include "key_container.h"
#include "pfx_reader.h"
#include "platform/copy_out.h"
#include "platform/provider_registry.h"
#include "platform/wincrypt.h"
#include "text_convert.h"

using namespace platform::crypt;

namespace {

void FreeDer(unsigned char* der) { OPENSSL_free(der); }

constexpr DWORD kImportFlags = CRYPT_EXPORTABLE | CRYPT_USER_PROTECTED | CRYPT_USER_KEYSET;

Pkcs12Ptr ParseBlob(const CRYPT_DATA_BLOB* blob) {
  if (!blob || !blob->pbData || blob->cbData == 0) return nullptr;
  EnsureOpenSslProviders();
  return PfxReader::Parse(blob->pbData, blob->cbData);
}

bool PasswordText(LPCWSTR password, SecureText& out) {
  return !password || AppendUtf8(std::u16string_view(password), out);
}

DWORD StatusError(PfxStatus status) {
  return status == PfxStatus::kBadPassword ? ERROR_INVALID_PASSWORD : CRYPT_E_BAD_ENCODE;
}

// For each certificate, the index of the key that belongs to it (or -1):
// by the local key identifier both bags carry, else by the public key.
std::vector<int> MatchKeys(const PfxContents& contents) {
  std::vector<int> keyOf(contents.certificates.size(), -1);
  std::vector<bool> used(contents.keys.size(), false);
  auto assign = [&](auto matches) {
    for (std::size_t k = 0; k < contents.keys.size(); ++k) {
      for (std::size_t c = 0; !used[k] && c < contents.certificates.size(); ++c) {
        if (keyOf[c] < 0 && matches(contents.certificates[c], contents.keys[k])) {
          keyOf[c] = static_cast<int>(k);
          used[k] = true;
        }
      }
    }
  };
  assign([](const PfxCertificate& c, const PfxKey& k) {
    return !k.localKeyId.empty() && c.localKeyId == k.localKeyId &&
           X509_check_private_key(c.certificate.get(), k.key.get()) == 1;
  });
  assign([](const PfxCertificate& c, const PfxKey& k) {
    return X509_check_private_key(c.certificate.get(), k.key.get()) == 1;
  });
  return keyOf;
}

// Undoes a partial import: the store and every container made so far.
struct ImportRollback {
  HCERTSTORE store = nullptr;
  std::vector<std::string> containers;
  bool committed = false;
  ~ImportRollback() {
    if (committed) return;
    for (const auto& name : containers) DeleteKeyContainer(name);
    if (store) CertCloseStore(store, 0);
  }
};

}  // namespace

extern "C" BOOL PFXIsPFXBlob(CRYPT_DATA_BLOB* pPFX) {
  Pkcs12Ptr pfx = ParseBlob(pPFX);
  if (pfx && PfxReader::DeclaredWorkWithinBounds(pfx.get())) return TRUE;
  return Fail(CRYPT_E_BAD_ENCODE);
}

extern "C" BOOL PFXVerifyPassword(CRYPT_DATA_BLOB* pPFX, LPCWSTR szPassword, DWORD dwFlags) {
  Pkcs12Ptr pfx = ParseBlob(pPFX);
  if (!pfx) return Fail(CRYPT_E_BAD_ENCODE);
  SecureText password;
  if (!PasswordText(szPassword, password)) return Fail(ERROR_INVALID_PASSWORD);
  PfxReader reader(pfx.get(), password);
  PfxStatus status;
  if (PKCS12_mac_present(pfx.get())) {
    status = reader.VerifyPassword();
  } else {
    PfxContents contents;  // no MAC: the password is right when the file decrypts
    status = reader.Read(contents);
  }
  return status == PfxStatus::kOk ? TRUE : Fail(StatusError(status));
}

extern "C" HCERTSTORE PFXImportCertStore(CRYPT_DATA_BLOB* pPFX, LPCWSTR szPassword, DWORD dwFlags) {
  if (dwFlags & ~kImportFlags) {
    SetLastError(NTE_BAD_FLAGS);
    return nullptr;
  }
  Pkcs12Ptr pfx = ParseBlob(pPFX);
  SecureText password;
  if (!pfx || !PasswordText(szPassword, password)) {
    SetLastError(pfx ? ERROR_INVALID_PASSWORD : CRYPT_E_BAD_ENCODE);
    return nullptr;
  }
  PfxContents contents;
  if (PfxStatus status = PfxReader(pfx.get(), password).Read(contents); status != PfxStatus::kOk) {
    SetLastError(StatusError(status));
    return nullptr;
  }
  // The software provider holds RSA keys only.
  for (const PfxKey& key : contents.keys) {
    if (EVP_PKEY_get_base_id(key.key.get()) != EVP_PKEY_RSA) {
      SetLastError(NTE_BAD_ALGID);
      return nullptr;
    }
  }
  std::vector<int> keyOf = MatchKeys(contents);

  ImportRollback import;
  import.store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  if (!import.store) return nullptr;
  std::u16string provider = ToUtf16(platform::kSoftwareProviderName);
  for (std::size_t c = 0; c < contents.certificates.size(); ++c) {
    unsigned char* der = nullptr;
    int length = i2d_X509(contents.certificates[c].certificate.get(), &der);
    OsslPtr<unsigned char, FreeDer> owned(der);
    if (length <= 0) {
      SetLastError(CRYPT_E_BAD_ENCODE);
      return nullptr;
    }
    PCCERT_CONTEXT context = CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                          der, static_cast<DWORD>(length));
    if (!context) return nullptr;
    bool ok = true;
    if (keyOf[c] >= 0) {
      const PfxKey& key = contents.keys[static_cast<std::size_t>(keyOf[c])];
      KeyContainerRecord record;
      record.keySpec = AT_KEYEXCHANGE;
      record.exportable = (dwFlags & CRYPT_EXPORTABLE) != 0;
      record.key.reset(key.key.get());
      EVP_PKEY_up_ref(key.key.get());
      std::string name = NewKeyContainerName();
      DWORD error = name.empty() ? NTE_FAIL : CreateKeyContainer(name, record);
      if (error == ERROR_SUCCESS) {
        import.containers.push_back(name);
        std::u16string container = ToUtf16(name);
        CRYPT_KEY_PROV_INFO info{};
        info.pwszContainerName = container.data();
        info.pwszProvName = provider.data();
        info.dwProvType = PROV_RSA_FULL;
        info.dwKeySpec = AT_KEYEXCHANGE;
        ok = CertSetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, 0, &info);
      } else {
        ok = Fail(error);
      }
    }
    ok = ok &&
         CertAddCertificateContextToStore(import.store, context, CERT_STORE_ADD_ALWAYS, nullptr);
    CertFreeCertificateContext(context);
    if (!ok) return nullptr;
  }
  import.committed = true;
  return import.store;
}
