// The software key of a certificate: exporting it in plain form for the
// card, and deleting its container once the card holds the key.
#pragma once

#include "keyprep/private_key_blob.h"
#include "platform/wincrypt.h"

// Exports the certificate's private key into *blob. True only for a
// PRIVATEKEYBLOB of exactly 596 bytes with a bit length of 1024; on any
// failure the blob is left wiped. A key not marked exportable fails here.
bool ExportPrivateKeyBlob(PCCERT_CONTEXT certificate, PrivateKeyBlob* blob);

// Deletes the key container that holds the certificate's private key, with
// the provider that holds it. False when the key cannot be reached (for
// instance because it is already gone) or the deletion fails.
bool DeleteSourceKeyContainer(PCCERT_CONTEXT certificate);
