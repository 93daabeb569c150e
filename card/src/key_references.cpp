// Which key references the card's directories use, and the private-key
// record that belongs to a certificate.
#include <cstring>
#include <new>

#include "card/crypto_card.h"
#include "card/der_element.h"
#include "card/key_record_view.h"
#include "key_directory_records.h"

void CCryptoCard::ScanKeyRecord(const DirectoryRecord& record, BYTE roleFlag,
                                KeyReferenceMap& map) {
  DWORD limit = record.End();
  auto element = ReadElement(record.contentOffset, std::nullopt, limit);
  if (!element) return;
  if (element->Tag() == 0x30) {  // common object attributes: skipped whole
    element = ReadElement(element->End(), std::nullopt, limit);
    if (!element) return;
  }
  if (element->Tag() == 0x30) {  // common key attributes: entered
    limit = element->End();
    element = ReadElement(element->content, std::nullopt, limit);
    if (!element) return;
  }
  // Identifier, usage, native and access flags, each passed over when absent.
  bool local = false;
  const BYTE expected[] = {0x04, 0x03, 0x01, 0x03};
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    if (element->Tag() != expected[i]) continue;
    const ElementHead& head = element->head;
    if (i == 3) {
      // The first flag byte follows the count of unused bits; it is taken only
      // from a short header whose element holds it.
      local = head.fetched == 4 && head.bytes[1] >= 2 && head.bytes[1] < 0x80 &&
              (head.bytes[3] & 0x08) != 0;
    }
    element = ReadElement(element->End(), std::nullopt, limit);
    if (!element) return;
  }
  const ElementHead& head = element->head;
  if (head.Tag() == 0x02 && head.fetched >= 3 && head.bytes[1] >= 1 && head.bytes[1] < 0x80) {
    map[head.bytes[2]] |= static_cast<BYTE>(roleFlag | (local ? KeyRefLocal : 0));
  }
}

std::optional<std::vector<BYTE>> CCryptoCard::ReadCertificateAttributes(DWORD content, DWORD end,
                                                                        FileElement* element) {
  const auto objectAttributes = ReadElement(content, 0x30, end);
  if (!objectAttributes) return std::nullopt;
  const auto certificateAttributes = ReadElement(objectAttributes->End(), 0x30, end);
  if (!certificateAttributes) return std::nullopt;
  std::vector<BYTE> attributes;
  try {
    attributes.resize(certificateAttributes->length);
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  if (!attributes.empty()) {
    WORD got = 0;
    ReadBinary(static_cast<WORD>(certificateAttributes->content),
               static_cast<WORD>(attributes.size()), attributes.data(), &got);
    if (!StepSucceeded() || got != attributes.size()) return std::nullopt;
  }
  if (element != nullptr) *element = *certificateAttributes;
  return attributes;
}

void CCryptoCard::ScanCertificateRecord(const DirectoryRecord& record, KeyReferenceMap& map) {
  // The common certificate attributes begin with the certificate's
  // identifier element.
  const auto attributes = ReadCertificateAttributes(record.contentOffset, record.End());
  if (!attributes) return;
  const auto keyRecord = FindPrivateKeyById(*attributes);
  if (!keyRecord) return;
  const auto key = ParseKeyRecord(*keyRecord);
  if (key && key->allKeyAttributes) map[key->keyReference] |= KeyRefCertified;
}

int CCryptoCard::ScanKeyReferences(KeyReferenceMap* map, KeyScanOutcome* outcome) {
  if (map == nullptr) return 0;
  map->fill(0);
  KeyScanOutcome seen;
  if (outcome != nullptr) *outcome = seen;

  // Walks the key directory just selected; false when the walk did not get
  // to its end.
  const auto walkKeys = [&](BYTE roleFlag) {
    if (!StepSucceeded()) return false;
    const std::optional<DWORD> size = SelectedFileSize();
    DWORD end = 0;
    const WalkEnd walk = WalkDirectory(
        [&](const DirectoryRecord& record) {
          ScanKeyRecord(record, roleFlag, *map);
          return true;
        },
        {}, &end);
    if (walk == WalkEnd::FileEnd) {
      seen.keyRecordsFit = false;
    } else if (walk != WalkEnd::EndMarker) {
      return false;
    } else if (size && (end > *size || *size - end < kKeyRecordBytes)) {
      seen.keyRecordsFit = false;
    }
    return true;
  };

  SelectApplication(m_directoryFiles[kPrivateKeyDirectory]);
  if (!walkKeys(KeyRefPrivate)) return 1;
  // The application is still the current DF.
  SelectFile(m_directoryFiles[kPublicKeyDirectory]);
  if (!walkKeys(KeyRefPublic)) return 1;

  // Looking up a certificate's key selects the private-key directory, so the
  // certificate directory is selected again before each of its records.
  const WORD certificates = m_directoryFiles[kCertificateDirectory];
  WalkOptions reselect;
  reselect.beforeRecord = [&] {
    SelectFile(certificates);
    return StepSucceeded();
  };
  const WalkEnd walk = WalkDirectory(
      [&](const DirectoryRecord& record) {
        ScanCertificateRecord(record, *map);
        return true;
      },
      reselect);
  seen.readToEnd = walk == WalkEnd::EndMarker || walk == WalkEnd::FileEnd;
  if (outcome != nullptr) *outcome = seen;
  return 1;
}

std::optional<std::vector<BYTE>> CCryptoCard::FindPrivateKeyById(
    std::span<const BYTE> identifierElement) {
  // The identifier element is compared whole: tag, one length byte, bytes.
  if (identifierElement.size() < 2) return std::nullopt;
  const std::size_t idLength = identifierElement[1];
  if (idLength >= 0x80 || identifierElement.size() < 2 + idLength) return std::nullopt;

  SelectApplication(m_directoryFiles[kPrivateKeyDirectory]);
  if (!StepSucceeded()) return std::nullopt;

  std::optional<std::vector<BYTE>> found;
  const WalkEnd end = WalkDirectory([&](const DirectoryRecord& record) {
    if (record.contentLength == 0) return true;
    std::vector<BYTE> content;
    try {
      content.resize(record.contentLength);
    } catch (const std::bad_alloc&) {
      return true;  // skipped
    }
    WORD got = 0;
    ReadBinary(static_cast<WORD>(record.contentOffset), static_cast<WORD>(record.contentLength),
               content.data(), &got);
    if (!StepSucceeded() || got != record.contentLength) return true;

    const BYTE* p = content.data();
    const BYTE* const limit = p + content.size();
    if (*p == 0x30) p = SkipDerElement(p, limit);  // common object attributes
    // The common key attributes, with a two-byte header, open with the
    // identifier element.
    if (p == nullptr || static_cast<std::size_t>(limit - p) < 4 + idLength) return true;
    if (p[2] != identifierElement[0] || p[3] != identifierElement[1] ||
        std::memcmp(p + 4, identifierElement.data() + 2, idLength) != 0) {
      return true;
    }
    found = std::move(content);
    return false;
  });
  if (end != WalkEnd::Stopped) return std::nullopt;
  return found;
}
