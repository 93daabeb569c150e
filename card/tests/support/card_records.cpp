#include "card_records.h"

namespace card_test {

KeyId MakeKeyId(std::uint8_t first) {
  KeyId id{};
  for (std::size_t i = 0; i < id.size(); ++i) id[i] = static_cast<std::uint8_t>(first + i);
  return id;
}

Bytes IdElement(const KeyId& id) {
  Bytes element = {0x04, 0x14};
  element.insert(element.end(), id.begin(), id.end());
  return element;
}

namespace {

Bytes KeyRecord(std::uint8_t reference, const KeyId& id, bool isPrivate, std::uint16_t roleWord) {
  Bytes r = {0x30, 0x53,              // record, 83 content bytes
             0x30, 0x06, 0x14, 0x00,  // common object attributes: label
             0x03, 0x02, 0x06, 0xC0,  //   flags
             0x30, 0x29};             // common key attributes
  const Bytes idElement = IdElement(id);
  r.insert(r.end(), idElement.begin(), idElement.end());
  if (isPrivate) {
    r.insert(r.end(), {0x03, 0x03, 0x06, 0x64, 0x00});
  } else {
    r.insert(r.end(), {0x03, 0x03, 0x06, static_cast<std::uint8_t>(roleWord >> 8),
                       static_cast<std::uint8_t>(roleWord & 0xFF)});
  }
  r.insert(r.end(), {0x01, 0x01, 0xFF});  // native
  r.insert(r.end(), {0x03, 0x02, 0x03, static_cast<std::uint8_t>(isPrivate ? 0x98 : 0x48)});
  r.insert(r.end(), {0x02, 0x01, reference});               // key reference
  r.insert(r.end(), {0x18, 0x00, 0x80, 0x00});              // dates
  r.insert(r.end(), {0xA0, 0x02, 0x30, 0x00});              // subclass
  r.insert(r.end(), {0xA1, 0x1A, 0x30, 0x15, 0x04, 0x0C});  // type, path
  const char* path = isPrivate ? "\\3F11\\3F77\\" : "\\3F11\\3F78\\";
  for (const char* p = path; *p != '\0'; ++p) r.push_back(static_cast<std::uint8_t>(*p));
  r.push_back(0x00);
  r.insert(r.end(), {0x02, 0x01, 0x00, 0x80, 0x02, 0x04, 0x18, 0x02, 0x01, 0x00});
  if (!isPrivate) r[9] = 0x40;
  return r;
}

}  // namespace

Bytes PrivateKeyRecord(std::uint8_t reference, const KeyId& id) {
  return KeyRecord(reference, id, true, 0);
}

Bytes PublicKeyRecord(std::uint8_t reference, const KeyId& id, std::uint16_t roleWord) {
  return KeyRecord(reference, id, false, roleWord);
}

Bytes CertificateRecord(const Bytes& idElement, const std::string& path) {
  const Bytes commonObject = {0x30, 0x02, 0x0C, 0x00};
  Bytes commonCert = {0x30, static_cast<std::uint8_t>(idElement.size())};
  commonCert.insert(commonCert.end(), idElement.begin(), idElement.end());
  Bytes pathElement = {0x04, static_cast<std::uint8_t>(path.size())};
  pathElement.insert(pathElement.end(), path.begin(), path.end());
  Bytes pathSeq = {0x30, static_cast<std::uint8_t>(pathElement.size() + 7)};
  pathSeq.insert(pathSeq.end(), pathElement.begin(), pathElement.end());
  pathSeq.insert(pathSeq.end(), {0x02, 0x01, 0x00, 0x80, 0x02, 0x03, 0xE8});
  Bytes type = {0xA1, static_cast<std::uint8_t>(pathSeq.size())};
  type.insert(type.end(), pathSeq.begin(), pathSeq.end());
  const Bytes content = Join({commonObject, commonCert, type});
  Bytes record = {0x30, static_cast<std::uint8_t>(content.size())};
  record.insert(record.end(), content.begin(), content.end());
  return record;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

Bytes DirectoryFile(const Bytes& records, std::size_t size) {
  Bytes file = records;
  file.resize(size, 0x00);
  return file;
}

}  // namespace card_test
