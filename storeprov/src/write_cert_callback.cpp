// The store's write callback: a certificate that a program adds to the
// personal store with an exportable private key is, with the user's
// consent, installed on the card instead, and its software key deleted.
#include "card_installation.h"
#include "entry_guard.h"
#include "keyprep/card_provider.h"
#include "keyprep/certificate_checks.h"
#include "keyprep/key_export.h"
#include "keyprep/key_identifier.h"
#include "keyprep/provider_values.h"
#include "platform/message_box.h"
#include "storeprov/entry_points.h"
#include "storeprov/messages.h"
#include "storeprov_resources.h"

namespace {

// The disposition the platform adds with when a certificate is imported
// into the personal store (add, replacing and inheriting properties).
constexpr DWORD kImportWriteFlags = 0x50001;

void Error(UINT textId) { ShowMessage(nullptr, MB_OK | MB_ICONHAND, IDS_CAPTION_ERROR, textId); }

bool UserWantsCardImport() {
  return ShowMessage(nullptr, MB_YESNO | MB_ICONQUESTION, IDS_CAPTION_WARNING,
                     IDS_CARD_IMPORT_QUESTION) == IDYES;
}

BOOL WriteCert(PCCERT_CONTEXT pCertContext, DWORD dwFlags) {
  if (pCertContext == nullptr) return FALSE;
  if (KeyLivesOnCard(pCertContext)) return TRUE;

  if (!CheckCertificateAlgorithms(pCertContext)) {
    Error(IDS_ALGORITHM_REFUSED);
    return FALSE;
  }
  KeyRoleWord role = 0;
  ClassifyKeyUsage(pCertContext, &role);
  BYTE usage = 0;
  if (!GetCertificateKeyUsage(pCertContext, &usage)) {
    Error(IDS_NOT_SUPPORTED);
    return FALSE;
  }

  PrivateKeyBlob blob;
  if (!ExportPrivateKeyBlob(pCertContext, &blob)) {
    if (dwFlags != kImportWriteFlags) return FALSE;
    // A certification authority's certificate without its key is stored as
    // usual: left to the personal store's next store, which keeps it. This
    // store would hold it only in memory, and lose it when it closes.
    if ((usage & CERT_KEY_CERT_SIGN_KEY_USAGE) != 0) return FALSE;
    if (UserWantsCardImport()) ShowNotice(IDS_KEY_NOT_EXPORTED);
    return FALSE;
  }
  if (!UserWantsCardImport()) return FALSE;

  KeyIdentifier identifier{};
  if (!ComputeKeyIdentifier(blob.Modulus(), blob.BitLength() / 8, &identifier)) {
    ShowNotice(IDS_NOT_SUPPORTED);
    return FALSE;
  }

  if (!InstallOnCard(pCertContext, blob, identifier, role)) return FALSE;
  // The card holds the key now; the software copy goes.
  DeleteSourceKeyContainer(pCertContext);
  return TRUE;
}

}  // namespace

extern "C" BOOL CertStoreProvWriteCertCallback(HCERTSTOREPROV hStoreProv,
                                               PCCERT_CONTEXT pCertContext, DWORD dwFlags) {
  // A failure anywhere, the card's installation included, refuses the write;
  // the card, its context and the key material are released on the way out.
  return GuardedEntry<BOOL>(FALSE, [&] { return WriteCert(pCertContext, dwFlags); });
}
