#include "cert_decode.h"

#include "der.h"
#include "openssl_types.h"

#include <openssl/asn1.h>

#include <algorithm>
#include <ctime>

namespace platform::crypt {
namespace {

constexpr long long kFileTimeEpochOffset = 11644473600LL;  // 1601-01-01 to 1970-01-01, seconds

FILETIME ToFileTime(const ASN1_TIME* time) {
  FILETIME out{};
  std::tm tm{};
  if (!time || ASN1_TIME_to_tm(time, &tm) != 1) return out;
  long long seconds = static_cast<long long>(timegm(&tm)) + kFileTimeEpochOffset;
  if (seconds < 0) return out;
  unsigned long long ticks = static_cast<unsigned long long>(seconds) * 10000000ULL;
  out.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFULL);
  out.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return out;
}

CRYPT_DATA_BLOB Blob(const der::Element& e, bool withHeader) {
  const BYTE* data = withHeader ? e.encoded : e.content;
  std::size_t size = withHeader ? e.encodedLength : e.length;
  return {static_cast<DWORD>(size), size ? const_cast<BYTE*>(data) : nullptr};
}

}  // namespace

std::shared_ptr<DecodedCertificate> DecodedCertificate::Decode(const BYTE* der, std::size_t size) {
  if (!der || size == 0) return nullptr;
  // OpenSSL's parser judges validity; the fields are then located in the DER.
  const unsigned char* p = der;
  X509Ptr x509(d2i_X509(nullptr, &p, static_cast<long>(size)));
  if (!x509 || p != der + size) return nullptr;
  std::shared_ptr<DecodedCertificate> cert(new DecodedCertificate());
  cert->m_encoded.assign(der, der + size);
  if (!cert->Parse()) return nullptr;
  cert->m_info.NotBefore = ToFileTime(X509_get0_notBefore(x509.get()));
  cert->m_info.NotAfter = ToFileTime(X509_get0_notAfter(x509.get()));
  return cert;
}

LPSTR DecodedCertificate::Keep(std::string text) {
  m_oids.push_back(std::make_unique<std::string>(std::move(text)));
  return m_oids.back()->data();
}

bool DecodedCertificate::Parse() {
  der::Element certificate, tbs, e;
  if (!der::ReadWhole(m_encoded.data(), m_encoded.size(), certificate) ||
      certificate.tag != der::kSequence)
    return false;
  const BYTE* pos = certificate.content;
  if (!der::Read(pos, certificate.content + certificate.length, tbs) || tbs.tag != der::kSequence)
    return false;
  pos = tbs.content;
  const BYTE* end = tbs.content + tbs.length;
  if (!der::Read(pos, end, e)) return false;

  m_info.dwVersion = CERT_V1;
  if (e.tag == 0xA0) {  // [0] EXPLICIT version
    der::Element version;
    if (!der::ReadWhole(e.content, e.length, version) || version.tag != der::kInteger ||
        version.length != 1)
      return false;
    m_info.dwVersion = version.content[0];
    if (!der::Read(pos, end, e)) return false;
  }
  if (e.tag != der::kInteger || e.length == 0) return false;
  m_serialLittleEndian.assign(e.content, e.content + e.length);
  std::reverse(m_serialLittleEndian.begin(), m_serialLittleEndian.end());
  m_info.SerialNumber = {static_cast<DWORD>(m_serialLittleEndian.size()),
                         m_serialLittleEndian.data()};

  auto algorithm = [this](const der::Element& seq, CRYPT_ALGORITHM_IDENTIFIER& out) {
    der::Element oid;
    const BYTE* q = seq.content;
    const BYTE* qend = seq.content + seq.length;
    if (seq.tag != der::kSequence || !der::Read(q, qend, oid) || oid.tag != der::kObjectId)
      return false;
    std::string text = der::ObjectIdText(oid.content, oid.length);
    if (text.empty()) return false;
    out.pszObjId = Keep(std::move(text));
    out.Parameters = {static_cast<DWORD>(qend - q), q < qend ? const_cast<BYTE*>(q) : nullptr};
    return true;
  };

  der::Element signatureAlg, issuer, validity, subject, spki;
  if (!der::Read(pos, end, signatureAlg) || !algorithm(signatureAlg, m_info.SignatureAlgorithm))
    return false;
  if (!der::Read(pos, end, issuer) || !der::Read(pos, end, validity) ||
      !der::Read(pos, end, subject) || !der::Read(pos, end, spki))
    return false;
  m_info.Issuer = Blob(issuer, true);
  m_info.Subject = Blob(subject, true);

  // SubjectPublicKeyInfo: algorithm and the key bits.
  der::Element spkiAlg, keyBits;
  const BYTE* k = spki.content;
  const BYTE* kend = spki.content + spki.length;
  if (spki.tag != der::kSequence || !der::Read(k, kend, spkiAlg) ||
      !algorithm(spkiAlg, m_info.SubjectPublicKeyInfo.Algorithm) || !der::Read(k, kend, keyBits) ||
      keyBits.tag != der::kBitString || keyBits.length == 0 || keyBits.content[0] > 7)
    return false;
  m_info.SubjectPublicKeyInfo.PublicKey = {
      static_cast<DWORD>(keyBits.length - 1),
      keyBits.length > 1 ? const_cast<BYTE*>(keyBits.content + 1) : nullptr, keyBits.content[0]};

  // Optional unique identifiers and extensions.
  while (pos < end) {
    if (!der::Read(pos, end, e)) return false;
    if (e.tag != 0xA3) continue;
    der::Element list, ext;
    if (!der::ReadWhole(e.content, e.length, list) || list.tag != der::kSequence) return false;
    const BYTE* x = list.content;
    const BYTE* xend = list.content + list.length;
    while (x < xend) {
      if (!der::Read(x, xend, ext) || ext.tag != der::kSequence) return false;
      der::Element oid, field;
      const BYTE* f = ext.content;
      const BYTE* fend = ext.content + ext.length;
      if (!der::Read(f, fend, oid) || oid.tag != der::kObjectId || !der::Read(f, fend, field))
        return false;
      CERT_EXTENSION out{};
      std::string text = der::ObjectIdText(oid.content, oid.length);
      if (text.empty()) return false;
      out.pszObjId = Keep(std::move(text));
      if (field.tag == 0x01) {  // BOOLEAN critical
        out.fCritical = field.length == 1 && field.content[0] != 0;
        if (!der::Read(f, fend, field)) return false;
      }
      if (field.tag != 0x04) return false;  // OCTET STRING holding the value
      out.Value = Blob(field, false);
      m_extensions.push_back(out);
    }
  }
  m_info.cExtension = static_cast<DWORD>(m_extensions.size());
  m_info.rgExtension = m_extensions.empty() ? nullptr : m_extensions.data();
  return true;
}

}  // namespace platform::crypt
