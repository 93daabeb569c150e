// Whether a certificate may go onto the card, and in which key roles. Each
// check takes the certificate that is about to be installed, shows nothing
// and leaves nothing allocated; the callers choose the message.
#pragma once

#include "keyprep/key_roles.h"
#include "platform/wincrypt.h"

// The encoding passed to every certificate call of the key preparation.
inline constexpr DWORD kPreparationEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// True when the issuer signed with md5RSA or sha1RSA (the whole identifier,
// compared exactly) and the subject key has exactly 1024 bits.
bool CheckCertificateAlgorithms(PCCERT_CONTEXT certificate);

// The first byte of the key-usage bit string into *keyUsage; false when the
// certificate has no key-usage extension or the platform call fails.
bool GetCertificateKeyUsage(PCCERT_CONTEXT certificate, BYTE* keyUsage);

// The role word derived from the key-usage byte: encipherment alone gives
// 0x4400, signing alone 0x2000, both or neither 0x6400 (a certificate without
// the extension counts as neither). Always true.
bool ClassifyKeyUsage(PCCERT_CONTEXT certificate, KeyRoleWord* role);
