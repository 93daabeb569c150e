// Storing a certificate on the card with its key: the certificate file under
// DF 3F11, then its record appended to the certificate directory. A failure
// leaves neither a record nor a certificate file behind.
#pragma once

#include <span>

#include "card/crypto_card.h"

// identifierElement: the key's identifier element (tag, length, bytes) from
// its private-key record. certificate: one DER certificate. The PIN must
// have been verified. ERROR_SUCCESS, or the code of what went wrong.
DWORD StoreCertificate(CCryptoCard& card, std::span<const BYTE> identifierElement,
                       std::span<const BYTE> certificate);
