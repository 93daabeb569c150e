// The card side of a diverted certificate write: the card library's key
// installation with this module's PIN dialog and notices.
#pragma once

#include "keyprep/key_identifier.h"
#include "keyprep/key_roles.h"
#include "keyprep/private_key_blob.h"
#include "platform/wincrypt.h"

// Installs the key pair and the certificate on the card. Every failure has
// shown its notice; true when the certificate is bound to the new key.
bool InstallOnCard(PCCERT_CONTEXT certificate, const PrivateKeyBlob& blob,
                   const KeyIdentifier& identifier, KeyRoleWord role);
