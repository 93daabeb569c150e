// CertGetPublicKeyLength and CertGetIntendedKeyUsage: both work on the
// decoded structures alone, as callers may hand in structures of their own.
#include "der.h"
#include "openssl_types.h"
#include "platform/copy_out.h"
#include "platform/wincrypt.h"

#include <algorithm>
#include <cstring>
#include <vector>

using namespace platform::crypt;

extern "C" DWORD CertGetPublicKeyLength(DWORD dwCertEncodingType,
                                        PCERT_PUBLIC_KEY_INFO pPublicKey) {
  if (GET_CERT_ENCODING_TYPE(dwCertEncodingType) != X509_ASN_ENCODING || !pPublicKey ||
      !pPublicKey->Algorithm.pszObjId || pPublicKey->PublicKey.cUnusedBits > 7 ||
      (pPublicKey->PublicKey.cbData && !pPublicKey->PublicKey.pbData) ||
      (pPublicKey->Algorithm.Parameters.cbData && !pPublicKey->Algorithm.Parameters.pbData)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // Rebuild the SubjectPublicKeyInfo and let OpenSSL parse the key in it.
  std::vector<unsigned char> oid = der::ObjectIdContent(pPublicKey->Algorithm.pszObjId);
  if (oid.empty()) {
    SetLastError(CRYPT_E_ASN1_BADTAG);
    return 0;
  }
  std::vector<unsigned char> algorithm, bits, spki;
  der::Append(algorithm, der::kObjectId, oid);
  const CRYPT_OBJID_BLOB& params = pPublicKey->Algorithm.Parameters;
  if (params.cbData)
    algorithm.insert(algorithm.end(), params.pbData, params.pbData + params.cbData);
  bits.push_back(static_cast<unsigned char>(pPublicKey->PublicKey.cUnusedBits));
  if (pPublicKey->PublicKey.cbData)
    bits.insert(bits.end(), pPublicKey->PublicKey.pbData,
                pPublicKey->PublicKey.pbData + pPublicKey->PublicKey.cbData);
  std::vector<unsigned char> body;
  der::Append(body, der::kSequence, algorithm);
  der::Append(body, der::kBitString, bits);
  der::Append(spki, der::kSequence, body);

  const unsigned char* p = spki.data();
  EvpPkeyPtr key(d2i_PUBKEY(nullptr, &p, static_cast<long>(spki.size())));
  if (!key || p != spki.data() + spki.size()) {
    SetLastError(CRYPT_E_ASN1_BADTAG);
    return 0;
  }
  int bitsOfKey = EVP_PKEY_get_bits(key.get());
  return bitsOfKey > 0 ? static_cast<DWORD>(bitsOfKey) : 0;
}

extern "C" BOOL CertGetIntendedKeyUsage(DWORD dwCertEncodingType, PCERT_INFO pCertInfo,
                                        BYTE* pbKeyUsage, DWORD cbKeyUsage) {
  if (pbKeyUsage && cbKeyUsage) std::memset(pbKeyUsage, 0, cbKeyUsage);
  if (GET_CERT_ENCODING_TYPE(dwCertEncodingType) != X509_ASN_ENCODING || !pCertInfo ||
      (cbKeyUsage && !pbKeyUsage))
    return Fail(ERROR_INVALID_PARAMETER);
  for (DWORD i = 0; pCertInfo->rgExtension && i < pCertInfo->cExtension; ++i) {
    const CERT_EXTENSION& ext = pCertInfo->rgExtension[i];
    if (!ext.pszObjId || std::strcmp(ext.pszObjId, szOID_KEY_USAGE) != 0) continue;
    der::Element bitString;
    if (!der::ReadWhole(ext.Value.pbData, ext.Value.cbData, bitString) ||
        bitString.tag != der::kBitString || bitString.length == 0 || bitString.content[0] > 7)
      return Fail(CRYPT_E_ASN1_BADTAG);
    std::size_t count = std::min<std::size_t>(bitString.length - 1, cbKeyUsage);
    if (count) std::memcpy(pbKeyUsage, bitString.content + 1, count);
    return TRUE;
  }
  SetLastError(ERROR_SUCCESS);
  return FALSE;
}
