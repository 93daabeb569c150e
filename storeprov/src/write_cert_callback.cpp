// The store's write callback: a certificate that a program adds to the
// personal store with an exportable private key is, with the user's
// consent, installed on the card instead, and its software key deleted.
#include <cstring>
#include <memory>

#include "card_installation.h"
#include "entry_guard.h"
#include "entry_points.h"
#include "keyprep/card_provider.h"
#include "keyprep/certificate_checks.h"
#include "keyprep/key_export.h"
#include "keyprep/key_identifier.h"
#include "keyprep/provider_values.h"
#include "messages.h"
#include "platform/message_box.h"

namespace {

// The disposition the platform adds with when a certificate is imported
// into the personal store (add, replacing and inheriting properties).
constexpr DWORD kImportWriteFlags = 0x50001;

constexpr UINT kErrorCaptionId = 3;
constexpr UINT kNoPrivateKeyId = 6;
constexpr UINT kUnsupportedAlgorithmsId = 7;
constexpr UINT kUnsupportedCertificateId = 10;
constexpr UINT kQuestionTextId = 16;
constexpr UINT kQuestionCaptionId = 18;

// True when the certificate's key-provider information names the card's
// provider: its key is already on the card.
bool KeyIsOnCard(PCCERT_CONTEXT certificate) {
  std::unique_ptr<BYTE[]> buffer;
  DWORD length = 0;
  if (!GetCertificateProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, &buffer, &length)) {
    return false;
  }
  const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.get());
  if (length < sizeof(CRYPT_KEY_PROV_INFO) || info->pwszProvName == nullptr) return false;
  return std::u16string_view(info->pwszProvName) == std::u16string_view(kCardProviderNameW);
}

void Error(UINT textId) { ShowMessage(nullptr, MB_OK | MB_ICONHAND, kErrorCaptionId, textId); }

bool UserWantsCardImport() {
  return ShowMessage(nullptr, MB_YESNO | MB_ICONQUESTION, kQuestionCaptionId, kQuestionTextId) ==
         IDYES;
}

BOOL WriteCert(PCCERT_CONTEXT pCertContext, DWORD dwFlags) {
  if (pCertContext == nullptr) return FALSE;
  if (KeyIsOnCard(pCertContext)) return TRUE;

  if (!CheckCertificateAlgorithms(pCertContext)) {
    Error(kUnsupportedAlgorithmsId);
    return FALSE;
  }
  KeyRoleWord role = 0;
  ClassifyKeyUsage(pCertContext, &role);
  BYTE usage = 0;
  if (!GetCertificateKeyUsage(pCertContext, &usage)) {
    Error(kUnsupportedCertificateId);
    return FALSE;
  }

  PrivateKeyBlob blob;
  if (!ExportPrivateKeyBlob(pCertContext, &blob)) {
    if (dwFlags != kImportWriteFlags) return FALSE;
    // A certification authority's certificate without its key is stored as
    // usual: left to the personal store's next store, which keeps it. This
    // store would hold it only in memory, and lose it when it closes.
    if ((usage & CERT_KEY_CERT_SIGN_KEY_USAGE) != 0) return FALSE;
    if (UserWantsCardImport()) ShowNotice(kNoPrivateKeyId);
    return FALSE;
  }
  if (!UserWantsCardImport()) return FALSE;

  KeyIdentifier identifier{};
  if (!ComputeKeyIdentifier(blob.Modulus(), blob.BitLength() / 8, &identifier)) {
    ShowNotice(kUnsupportedCertificateId);
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
