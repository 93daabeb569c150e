// The card's own cryptographic provider and what this system asks of it:
// key identifiers (see key_identifier.h) and binding a certificate to the key
// container of a key just written to the card.
#pragma once

#include "platform/wincrypt.h"

// The provider's name, as the platform knows it.
inline constexpr char kCardProviderName[] = "OrvelCSP";
inline constexpr char16_t kCardProviderNameW[] = u"OrvelCSP";

// Opens the key container with the provider, presents the PIN (a
// zero-terminated string), takes the signature key or failing that the
// exchange key, and hands the provider the certificate, which it stores on
// the card with the key. certificate/certificateLength must be exactly one
// encoded certificate. True when every call succeeded; every handle obtained
// is released on every path.
bool AttachCertificateToKey(const char* providerName, const char* containerName,
                            const BYTE* certificate, DWORD certificateLength, const char* pin);

// True when the certificate's key-provider information names the card's
// provider: its key is already on the card.
bool KeyLivesOnCard(PCCERT_CONTEXT certificate);
