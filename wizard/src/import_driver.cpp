#include "wizard/import_driver.h"
#include "common/non_copyable.h"

#include <span>

#include "card/key_installation.h"
#include "keyprep/card_provider.h"
#include "keyprep/certificate_checks.h"
#include "keyprep/key_export.h"
#include "keyprep/key_identifier.h"
#include "keyprep/provider_values.h"
#include "platform/handle_guards.h"
#include "platform/message_box.h"
#include "resource_ids.h"

namespace {

// An empty PIN is refused, and so is one VERIFY cannot carry.
constexpr KeyInstallationProfile kWizardInstallation = {
    {IDS_NO_CONTEXT_NT, IDS_NO_CONTEXT_OTHER, IDS_NO_CARD, IDS_INVALID_PIN, IDS_KEYS_NOT_WRITTEN,
     IDS_CARD_ERROR, IDS_CARD_FULL, IDS_NOT_ATTACHED},
    1,
    kMaxVerifyPinLength};

// Every failure of the card installation is an error box of the page.
class InstallationUi : public CKeyInstallationUi {
 public:
  explicit InstallationUi(CImportUi& ui) : m_ui(ui) {}

  void ShowMessage(UINT textId) override {
    m_ui.ShowPageMessage(MB_ICONHAND, IDS_CAPTION_ERROR, textId);
  }
  std::optional<CPinText> PromptForPin() override { return m_ui.PromptForPin(); }
  void BeginWaitCursor() override { m_ui.BeginWaitCursor(); }
  void EndWaitCursor() override { m_ui.EndWaitCursor(); }

 private:
  CImportUi& m_ui;
};

// Deletes the software key container that PFX import made for the
// certificate, whatever became of the card installation.
class SourceContainerDeletion : private NonCopyable {
 public:
  explicit SourceContainerDeletion(PCCERT_CONTEXT certificate) : m_certificate(certificate) {}
  ~SourceContainerDeletion() { DeleteSourceKeyContainer(m_certificate); }

 private:
  PCCERT_CONTEXT m_certificate;
};

// When the run over the imported store ends, whatever its outcome, deletes
// every software key container that the PFX import made and that is still
// there: a stopped run never reaches the later certificates, and a key that
// no card took must not stay behind in software. A key of the card's own
// provider is never touched.
class ImportedContainersDeletion : private NonCopyable {
 public:
  explicit ImportedContainersDeletion(HCERTSTORE store) : m_store(store) {}
  ~ImportedContainersDeletion() {
    PCCERT_CONTEXT certificate = nullptr;
    while ((certificate = CertEnumCertificatesInStore(m_store, certificate)) != nullptr) {
      if (!KeyLivesOnCard(certificate)) DeleteSourceKeyContainer(certificate);
    }
  }

 private:
  HCERTSTORE m_store;
};

}  // namespace

ImportOutcome ImportStoreToCard(CRYPT_DATA_BLOB* pfx, LPCWSTR password, CImportUi& ui) {
  const CCertStore store(PFXImportCertStore(pfx, password, CRYPT_EXPORTABLE));
  if (!store) {
    ui.ShowPageMessage(MB_ICONHAND, IDS_CAPTION_ERROR, IDS_PFX_NOT_OPENED);
    return ImportOutcome::Refused;
  }
  // Runs before the store is released.
  const ImportedContainersDeletion deletion(store.Get());
  return ImportStoreCertificates(store.Get(), ui);
}

ImportOutcome ImportStoreCertificates(HCERTSTORE store, CImportUi& ui) {
  int imported = 0;
  PCCERT_CONTEXT current = nullptr;
  while ((current = CertEnumCertificatesInStore(store, current)) != nullptr) {
    if (!HasUsablePrivateKey(current)) continue;
    if (!ImportCertificateToCard(current, ui)) {
      CertFreeCertificateContext(current);
      return ImportOutcome::Stopped;
    }
    ++imported;
  }

  if (imported > 0) {
    ui.ShowPageMessage(MB_ICONASTERISK, IDS_CAPTION_INFORMATION, IDS_IMPORT_DONE);
  } else {
    ui.ShowPageMessage(MB_ICONEXCLAMATION, IDS_CAPTION_WARNING, IDS_NOTHING_IMPORTED);
  }
  return ImportOutcome::Completed;
}

bool HasUsablePrivateKey(PCCERT_CONTEXT certificate) {
  HCRYPTPROV_OR_NCRYPT_KEY_HANDLE handle = 0;
  DWORD keySpec = 0;
  BOOL callerFrees = FALSE;
  if (!CryptAcquireCertificatePrivateKey(certificate, CRYPT_ACQUIRE_CACHE_FLAG, nullptr, &handle,
                                         &keySpec, &callerFrees)) {
    return false;
  }
  CProviderContext provider;
  provider.Adopt(handle, callerFrees != FALSE);
  CKeyHandle key;
  return CryptGetUserKey(provider.Get(), keySpec, key.Receive()) != FALSE;
}

bool ImportCertificateToCard(PCCERT_CONTEXT certificate, CImportUi& ui) {
  if (certificate == nullptr) return false;
  // The key is already on a card: nothing to write, nothing to clean up.
  if (KeyLivesOnCard(certificate)) return true;

  // From here on, every way out deletes the software key container, after
  // the card installation has released the card and the context.
  const SourceContainerDeletion deletion(certificate);
  const auto fail = [&ui](UINT textId) {
    ui.ShowPageMessage(MB_ICONHAND, IDS_CAPTION_ERROR, textId);
    return false;
  };

  if (!CheckCertificateAlgorithms(certificate)) return fail(IDS_ALGORITHM_REFUSED);
  PrivateKeyBlob keyBlob;
  if (!ExportPrivateKeyBlob(certificate, &keyBlob)) return fail(IDS_KEY_NOT_EXPORTED);
  KeyRoleWord roleWord = 0;
  if (!ClassifyKeyUsage(certificate, &roleWord)) return fail(IDS_NOT_SUPPORTED);
  KeyIdentifier keyIdentifier{};
  if (!ComputeKeyIdentifier(keyBlob.Modulus(), keyBlob.BitLength() / 8, &keyIdentifier)) {
    return fail(IDS_NOT_SUPPORTED);
  }

  InstallationUi installationUi(ui);
  return KeyInstallation(
      keyBlob, keyIdentifier, roleWord,
      std::span<const BYTE>(certificate->pbCertEncoded, certificate->cbCertEncoded),
      kWizardInstallation, installationUi);
}
