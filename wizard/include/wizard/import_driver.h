// The card import driver: opens a PFX into a temporary store and carries
// every certificate that has a usable private key onto the card, one card
// installation per certificate, with the wizard's messages and summary.
#pragma once

#include "platform/wincrypt.h"
#include "wizard/import_ui.h"

enum class ImportOutcome {
  Refused,    // the PFX could not be opened into a store; the wizard stays
  Stopped,    // a certificate failed; the wizard closes without a summary
  Completed,  // the summary was shown; the wizard closes
};

// pfx: the whole file; password: the converted password. Both stay the
// caller's.
ImportOutcome ImportStoreToCard(CRYPT_DATA_BLOB* pfx, LPCWSTR password, CImportUi& ui);

// The run over the store once opened: every certificate with a usable
// private key in the store's order, then the summary. Stopped or Completed.
ImportOutcome ImportStoreCertificates(HCERTSTORE store, CImportUi& ui);

// Whether the certificate's private key can be reached.
bool HasUsablePrivateKey(PCCERT_CONTEXT certificate);

// True when the certificate is on the card, or its key already lives in the
// card's provider; false after a failure that has been shown to the user.
bool ImportCertificateToCard(PCCERT_CONTEXT certificate, CImportUi& ui);
