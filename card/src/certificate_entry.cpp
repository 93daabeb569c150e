// Reading the card's certificates back, one certificate directory record at
// a time: the certificate file it names, expanded, and the key container of
// the private key that carries the same identifier.
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <new>

#include "card/certificate_path.h"
#include "card/container_name.h"
#include "card/crypto_card.h"
#include "card/der_element.h"
#include "card/key_record_view.h"

namespace {

// Uncompressed length, then compressed length, each 32-bit little-endian.
constexpr WORD kCertificateFileHeaderBytes = 8;

DWORD LittleEndian32(const BYTE* p) {
  return static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8 | static_cast<DWORD>(p[2]) << 16 |
         static_cast<DWORD>(p[3]) << 24;
}

}  // namespace

std::optional<DWORD> CCryptoCard::SelectedFileSize() const {
  // The file control information: 6F len, then among others 80 len size.
  if (!StepSucceeded() || m_receiveLength <= 2) return std::nullopt;
  const BYTE* const answerEnd = m_response.data() + (m_receiveLength - 2);
  if (m_response[0] != 0x6F) return std::nullopt;
  const auto fci = EnterDerElement(m_response.data(), answerEnd);
  if (!fci) return std::nullopt;
  for (const BYTE* p = fci->content; p < fci->end;) {
    const auto item = EnterDerElement(p, fci->end);
    if (!item) break;
    if (*p == 0x80 && item->Size() >= 1 && item->Size() <= 4) {
      DWORD size = 0;
      for (const BYTE* b = item->content; b < item->end; ++b) size = size << 8 | *b;
      return size;
    }
    p = item->end;
  }
  return std::nullopt;
}

int CCryptoCard::ReadCertificateFile(std::span<const WORD> path, BYTE* certificate,
                                     DWORD* certificateLength) {
  SelectByName(kMasterFileName);
  if (!StepSucceeded()) return -1;
  for (WORD id : path) {
    SelectFile(id);
    if (!StepSucceeded()) return -1;
  }
  const std::optional<DWORD> fileSize = SelectedFileSize();

  std::array<BYTE, kCertificateFileHeaderBytes> header{};
  WORD got = 0;
  ReadBinary(0, kCertificateFileHeaderBytes, header.data(), &got);
  if (!StepSucceeded() || got != header.size()) return -1;
  const DWORD uncompressedLength = LittleEndian32(&header[0]);
  const DWORD compressedLength = LittleEndian32(&header[4]);

  // Nothing is allocated or read for a certificate the caller cannot take.
  if (certificate == nullptr || certificateLength == nullptr ||
      *certificateLength < uncompressedLength) {
    return 0;
  }
  // No more than the file holds after its header...
  DWORD room = kOffsetLimit - kCertificateFileHeaderBytes;
  if (fileSize) {
    room = std::min<DWORD>(room, *fileSize > kCertificateFileHeaderBytes
                                     ? *fileSize - kCertificateFileHeaderBytes
                                     : 0);
  }
  if (compressedLength > room) return -1;
  // ...and no more than any zlib stream of the stated length can take.
  if (compressedLength > compressBound(uncompressedLength)) return 0;

  std::vector<BYTE> compressed;
  try {
    compressed.resize(compressedLength);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  ReadBinary(kCertificateFileHeaderBytes, static_cast<WORD>(compressedLength), compressed.data(),
             &got);
  if (!StepSucceeded() || got != compressedLength) return -1;

  uLongf expanded = uncompressedLength;
  if (uncompress(certificate, &expanded, compressed.data(), compressedLength) != Z_OK) return 0;
  *certificateLength = static_cast<DWORD>(expanded);
  return 1;
}

void CCryptoCard::NameCertificateKey(std::span<const BYTE> certificateAttributes,
                                     std::span<char> containerName, WORD* usage) {
  if (!containerName.empty()) containerName[0] = '\0';
  if (usage != nullptr) *usage = 0;
  // The attributes open with the certificate's identifier element; an empty
  // identifier names no key.
  if (certificateAttributes.size() < 2 || certificateAttributes[1] == 0) return;

  const auto keyRecord = FindPrivateKeyById(certificateAttributes);
  if (!keyRecord) return;
  ChipInfo chipInfo{};
  GetChipInfo(&chipInfo);
  if (!StepSucceeded()) return;
  const auto key = ParseKeyRecord(*keyRecord);
  if (!key || !key->allKeyAttributes) return;
  const WORD usageWord = key->UsageWord();
  // The key file path, up to a NUL.
  const auto pathEnd = std::find(key->path.begin(), key->path.end(), BYTE{0});
  const auto pathLength = static_cast<std::size_t>(pathEnd - key->path.begin());
  // A name that does not fit whole is no name: cut short it would name
  // another container.
  if (kContainerNamePrefixLength + pathLength + 1 > containerName.size()) return;

  const BYTE* serial = &chipInfo[kCardSerialOffset];
  std::snprintf(containerName.data(), kContainerNamePrefixLength + 1,
                "%02X%02X%02X%02X%02X%02X%02X%02X%02X", serial[0], serial[1], serial[2], serial[3],
                serial[4], serial[5], usageWord >> 8, usageWord & 0xFF, key->keyReference);
  // A record without a key file path gives an empty span, whose data may be
  // null: nothing to copy then.
  if (pathLength > 0) {
    std::memcpy(containerName.data() + kContainerNamePrefixLength, key->path.data(), pathLength);
  }
  containerName[kContainerNamePrefixLength + pathLength] = '\0';
  if (usage != nullptr) *usage = usageWord;
}

int CCryptoCard::ReadCertificateEntry(DWORD* cursor, BYTE* certificate, DWORD* certificateLength,
                                      std::span<char> containerName, WORD* usage) {
  if (cursor == nullptr) return 0;
  SelectApplication(m_directoryFiles[kCertificateDirectory]);
  if (!StepSucceeded()) return 0;

  // The record; the cursor moves past it whatever follows.
  const auto record = ReadElement(*cursor, 0x30, kOffsetLimit);
  if (!record) return 0;
  *cursor = record->End();

  const DWORD end = record->End();
  FileElement certificateAttributes;
  const auto attributes = ReadCertificateAttributes(record->content, end, &certificateAttributes);
  if (!attributes) return 0;

  const auto typeAttributes = ReadElement(certificateAttributes.End(), 0xA1, end);
  if (!typeAttributes) return 0;
  const auto pathElement = ReadElement(typeAttributes->content, 0x30, typeAttributes->End());
  if (!pathElement) return 0;
  const auto pathText = ReadElement(pathElement->content, 0x04, pathElement->End());
  if (!pathText) return 0;
  // A text longer than any path of ten identifiers names no file that is
  // followed; it is not read.
  std::optional<std::vector<WORD>> path;
  if (pathText->length <= kMaxPathTextBytes) {
    std::array<BYTE, kMaxPathTextBytes> text{};
    WORD got = 0;
    ReadBinary(static_cast<WORD>(pathText->content), static_cast<WORD>(pathText->length),
               text.data(), &got);
    if (!StepSucceeded() || got != pathText->length) return 0;
    path = ParseCertificatePath({text.data(), got});
  }
  const auto index = ReadElement(pathText->End(), 0x02, pathElement->End());
  if (!index) return 0;
  if (!ReadElement(index->End(), 0x80, pathElement->End())) return 0;

  // A file that cannot be reached or read leaves the certificate as it was;
  // the key is still named.
  if (path && ReadCertificateFile(*path, certificate, certificateLength) == 0) return 0;

  NameCertificateKey(*attributes, containerName, usage);
  return 1;
}
