#include "certificate_format.h"

#include <zlib.h>

#include <cstdio>

#include "card/der_element.h"

namespace {

void AppendLength(std::vector<BYTE>& out, std::size_t length) {
  if (length < 0x80) {
    out.push_back(static_cast<BYTE>(length));
    return;
  }
  BYTE bytes[sizeof(std::size_t)];
  std::size_t count = 0;
  for (std::size_t rest = length; rest != 0; rest >>= 8) bytes[count++] = static_cast<BYTE>(rest);
  out.push_back(static_cast<BYTE>(0x80 | count));
  while (count > 0) out.push_back(bytes[--count]);
}

std::vector<BYTE> Element(BYTE tag, std::span<const BYTE> content) {
  std::vector<BYTE> out;
  out.reserve(content.size() + 6);
  out.push_back(tag);
  AppendLength(out, content.size());
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

std::vector<BYTE> Join(std::initializer_list<std::span<const BYTE>> parts) {
  std::vector<BYTE> out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// A non-negative integer's content octets: big-endian, minimal, with a
// leading zero when the high bit would read as a sign.
std::vector<BYTE> IntegerContent(DWORD value) {
  std::vector<BYTE> out;
  do {
    out.insert(out.begin(), static_cast<BYTE>(value & 0xFF));
    value >>= 8;
  } while (value != 0);
  if (out.front() & 0x80) out.insert(out.begin(), 0x00);
  return out;
}

void PutLittleEndian32(BYTE* out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<BYTE>(value >> (8 * i));
}

}  // namespace

std::optional<std::size_t> EncodedCertificateLength(const BYTE* der) {
  if (der == nullptr || der[0] != 0x30) return std::nullopt;
  // No byte past the length bytes the header announces is looked at.
  const std::size_t count = der[1] < 0x80 ? 0 : der[1] & 0x7F;
  if (count > 3) return std::nullopt;
  DWORD contentOffset = 0;
  const auto length = ParseDerHeader(contentOffset, {der, 2 + count});
  if (!length) return std::nullopt;
  return contentOffset + static_cast<std::size_t>(*length);
}

std::optional<std::vector<BYTE>> BuildCertificateFile(std::span<const BYTE> certificate) {
  uLongf compressedLength = compressBound(static_cast<uLong>(certificate.size()));
  std::vector<BYTE> file(8 + compressedLength);
  if (compress2(file.data() + 8, &compressedLength, certificate.data(),
                static_cast<uLong>(certificate.size()), Z_BEST_COMPRESSION) != Z_OK) {
    return std::nullopt;
  }
  file.resize(8 + compressedLength);
  PutLittleEndian32(file.data(), static_cast<std::uint32_t>(certificate.size()));
  PutLittleEndian32(file.data() + 4, static_cast<std::uint32_t>(compressedLength));
  return file;
}

std::string CertificatePathText(WORD fileId) {
  char text[16];
  std::snprintf(text, sizeof text, "\\%04X\\%04X", static_cast<unsigned>(kCertificateDf),
                static_cast<unsigned>(fileId));
  return text;
}

std::vector<BYTE> BuildCertificateRecord(std::span<const BYTE> identifierElement, WORD fileId,
                                         DWORD fileLength) {
  static constexpr BYTE kCommonObjectAttributes[] = {0x30, 0x06, 0x14, 0x00,
                                                     0x03, 0x02, 0x06, 0x40};
  static constexpr BYTE kIndexZero[] = {0x02, 0x01, 0x00};
  const std::string pathText = CertificatePathText(fileId);
  const auto* pathBytes = reinterpret_cast<const BYTE*>(pathText.data());

  const auto commonCertificate = Element(0x30, identifierElement);
  const auto pathTextElement = Element(0x04, {pathBytes, pathText.size()});
  const auto lengthElement = Element(0x80, IntegerContent(fileLength));
  const auto path = Element(0x30, Join({pathTextElement, kIndexZero, lengthElement}));
  const auto typeAttributes = Element(0xA1, path);
  return Element(0x30, Join({kCommonObjectAttributes, commonCertificate, typeAttributes}));
}
