// The card takes only 1024-bit RSA keys of certificates signed with md5RSA or
// sha1RSA, in the exchange role, the signature role or both.
#include "keyprep/certificate_checks.h"

#include <cstring>

namespace {

constexpr char kMd5RsaOid[] = "1.2.840.113549.1.1.4";
constexpr char kSha1RsaOid[] = "1.2.840.113549.1.1.5";
constexpr DWORD kCardKeyBits = 1024;

// Key-usage bits that ask for each role.
constexpr BYTE kEncipherBits = CERT_KEY_ENCIPHERMENT_KEY_USAGE | CERT_DATA_ENCIPHERMENT_KEY_USAGE;
constexpr BYTE kSignBits =
    CERT_DIGITAL_SIGNATURE_KEY_USAGE | CERT_KEY_CERT_SIGN_KEY_USAGE | CERT_CRL_SIGN_KEY_USAGE;

}  // namespace

bool CheckCertificateAlgorithms(PCCERT_CONTEXT certificate) {
  if (certificate == nullptr || certificate->pCertInfo == nullptr) return false;
  const char* algorithm = certificate->pCertInfo->SignatureAlgorithm.pszObjId;
  if (algorithm == nullptr) return false;
  // Whole strings: an identifier that only begins like one of these is another algorithm.
  if (std::strcmp(algorithm, kMd5RsaOid) != 0 && std::strcmp(algorithm, kSha1RsaOid) != 0) {
    return false;
  }
  return CertGetPublicKeyLength(kPreparationEncoding,
                                &certificate->pCertInfo->SubjectPublicKeyInfo) == kCardKeyBits;
}

bool GetCertificateKeyUsage(PCCERT_CONTEXT certificate, BYTE* keyUsage) {
  if (certificate == nullptr || keyUsage == nullptr) return false;
  return CertGetIntendedKeyUsage(kPreparationEncoding, certificate->pCertInfo, keyUsage, 1) == TRUE;
}

bool ClassifyKeyUsage(PCCERT_CONTEXT certificate, KeyRoleWord* role) {
  // Without the extension the byte reads as 0: both roles.
  BYTE usage = 0;
  if (!GetCertificateKeyUsage(certificate, &usage)) usage = 0;
  const bool encipher = (usage & kEncipherBits) != 0;
  const bool sign = (usage & kSignBits) != 0;
  KeyRoleWord word = kKeyRoleBoth;
  if (encipher && !sign) word = kKeyRoleExchange;
  if (sign && !encipher) word = kKeyRoleSignature;
  if (role != nullptr) *role = word;
  return true;
}
