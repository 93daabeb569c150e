#include "certificate_file.h"

#include <openssl/bio.h>
#include <openssl/x509.h>
#include <zlib.h>

#include <memory>

namespace orvelcard {
namespace {

std::uint32_t LittleEndian32(const cardsim::Bytes& bytes, std::size_t offset) {
  return static_cast<std::uint32_t>(bytes[offset]) |
         static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[offset + 2]) << 16 |
         static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

struct X509Free {
  void operator()(X509* x) const { X509_free(x); }
};
struct BioFree {
  void operator()(BIO* b) const { BIO_free(b); }
};

std::optional<std::string> SubjectLine(const cardsim::Bytes& der) {
  const unsigned char* cursor = der.data();
  std::unique_ptr<X509, X509Free> certificate(
      d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
  if (!certificate) return std::nullopt;
  std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
  if (!bio) return std::nullopt;
  X509_NAME_print_ex(bio.get(), X509_get_subject_name(certificate.get()), 0,
                     XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
  char* text = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &text);
  return std::string(text, static_cast<std::size_t>(length));
}

}  // namespace

std::optional<CertificateFile> ReadCertificateFile(const cardsim::Bytes& file) {
  if (file.size() < 8) return std::nullopt;
  CertificateFile result;
  result.uncompressedLength = LittleEndian32(file, 0);
  result.compressedLength = LittleEndian32(file, 4);
  if (result.uncompressedLength == 0 && result.compressedLength == 0) {
    result.problem = "no certificate (empty header)";
    return result;
  }
  if (result.compressedLength > file.size() - 8) {
    result.problem = "the compressed length runs past the end of the file";
    return result;
  }
  if (result.uncompressedLength > kMaxCertificateSize) {
    result.problem = "the uncompressed length is implausibly large";
    return result;
  }
  cardsim::Bytes der(result.uncompressedLength);
  uLongf size = der.size();
  const int rv = uncompress(der.data(), &size, file.data() + 8, result.compressedLength);
  if (rv != Z_OK) {
    result.problem = std::string("does not decompress (zlib: ") + zError(rv) + ")";
    return result;
  }
  if (size != der.size()) {
    result.problem = "decompresses to " + std::to_string(size) + " bytes, not the " +
                     std::to_string(der.size()) + " the header gives";
    return result;
  }
  std::optional<std::string> subject = SubjectLine(der);
  if (!subject) {
    result.problem = "the decompressed bytes are not an X.509 certificate";
    return result;
  }
  result.subject = *subject;
  result.certificate = std::move(der);
  return result;
}

}  // namespace orvelcard
