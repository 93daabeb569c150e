// A DER certificate taken apart into the platform's CERT_INFO. The blobs of
// the CERT_INFO point into the object's own copy of the encoding, so the
// object is immutable once decoded and shared by every context made from it.
#pragma once

#include "platform/wincrypt.h"

#include <memory>
#include <string>
#include <vector>

namespace platform::crypt {

class DecodedCertificate {
 public:
  // Null when the bytes are not exactly one X.509 certificate.
  static std::shared_ptr<DecodedCertificate> Decode(const BYTE* der, std::size_t size);

  BYTE* Encoded() { return m_encoded.data(); }
  DWORD EncodedSize() const { return static_cast<DWORD>(m_encoded.size()); }
  CERT_INFO* Info() { return &m_info; }

 private:
  DecodedCertificate() = default;
  bool Parse();
  LPSTR Keep(std::string text);

  std::vector<BYTE> m_encoded;
  std::vector<BYTE> m_serialLittleEndian;
  std::vector<std::unique_ptr<std::string>> m_oids;
  std::vector<CERT_EXTENSION> m_extensions;
  CERT_INFO m_info{};
};

}  // namespace platform::crypt
