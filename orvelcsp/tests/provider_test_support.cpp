#include "provider_test_support.h"

#include <zlib.h>

#include <cstdio>

#include "orvel_test/registration.h"
#include "platform/provider_registry.h"

namespace orvelcsp_test {

std::shared_ptr<cardsim::VirtualCard> MakeCard(const std::array<std::uint8_t, 6>& serial,
                                               cardsim::CardSpec spec) {
  spec.serial = serial;
  spec.pin = kPin;
  return cardsim::VirtualCard::MakeFresh(spec);
}

void WriteKeyRecords(cardsim::VirtualCard& card, const std::vector<KeyOnCard>& keys) {
  Bytes privateRecords;
  Bytes publicRecords;
  for (const KeyOnCard& key : keys) {
    const Bytes priv = card_test::PrivateKeyRecord(key.reference, key.id);
    privateRecords.insert(privateRecords.end(), priv.begin(), priv.end());
    if (key.withPublicRecord) {
      const Bytes pub = card_test::PublicKeyRecord(key.reference, key.id, key.roleWord);
      publicRecords.insert(publicRecords.end(), pub.begin(), pub.end());
    }
  }
  for (auto [fid, records] :
       {std::pair{kPrkdf, privateRecords}, std::pair{kPukdf, publicRecords}}) {
    const auto current = card.ReadFile({kApplicationDf, fid});
    ASSERT_TRUE(current);
    ASSERT_TRUE(
        card.WriteFile({kApplicationDf, fid}, card_test::DirectoryFile(records, current->size())));
  }
}

std::string ContainerName(const std::array<std::uint8_t, 6>& serial, std::uint16_t usage,
                          std::uint8_t reference) {
  char name[64];
  std::snprintf(name, sizeof name, "%02X%02X%02X%02X%02X%02X%04X%02X\\3F11\\3F77\\", serial[0],
                serial[1], serial[2], serial[3], serial[4], serial[5], usage, reference);
  return name;
}

std::string Hex(const Bytes& bytes) {
  std::string text;
  char two[4];
  for (std::uint8_t b : bytes) {
    std::snprintf(two, sizeof two, "%02X", b);
    text += two;
  }
  return text;
}

std::optional<Tlv> ReadTlv(const Bytes& data, std::size_t offset) {
  if (offset + 2 > data.size()) return std::nullopt;
  Tlv tlv;
  tlv.tag = data[offset];
  std::size_t length = data[offset + 1];
  tlv.headerSize = 2;
  if (length & 0x80) {
    const std::size_t count = length & 0x7F;
    if (count == 0 || count > 2 || offset + 2 + count > data.size()) return std::nullopt;
    length = 0;
    for (std::size_t i = 0; i < count; ++i) length = length << 8 | data[offset + 2 + i];
    tlv.headerSize += count;
  }
  if (offset + tlv.headerSize + length > data.size()) return std::nullopt;
  const auto begin = data.begin() + static_cast<std::ptrdiff_t>(offset + tlv.headerSize);
  tlv.content.assign(begin, begin + static_cast<std::ptrdiff_t>(length));
  return tlv;
}

std::vector<CertificateEntry> ReadCertificateDirectory(const cardsim::VirtualCard& card) {
  std::vector<CertificateEntry> entries;
  const auto cdf = card.ReadFile({kApplicationDf, kCdf});
  if (!cdf) {
    ADD_FAILURE() << "no CDF";
    return entries;
  }
  std::size_t offset = 0;
  while (offset < cdf->size() && (*cdf)[offset] == 0x30) {
    const auto record = ReadTlv(*cdf, offset);
    if (!record) {
      ADD_FAILURE() << "record at " << offset << " runs past the file";
      break;
    }
    CertificateEntry entry;
    entry.offset = offset;
    entry.size = record->Size();
    // Common object attributes, common certificate attributes, type attributes.
    const auto objectAttributes = ReadTlv(record->content, 0);
    EXPECT_TRUE(objectAttributes && objectAttributes->tag == 0x30);
    if (!objectAttributes) break;
    const auto certificateAttributes = ReadTlv(record->content, objectAttributes->Size());
    EXPECT_TRUE(certificateAttributes && certificateAttributes->tag == 0x30);
    if (!certificateAttributes) break;
    const auto identifier = ReadTlv(certificateAttributes->content, 0);
    EXPECT_TRUE(identifier && identifier->tag == 0x04);
    if (identifier) {
      const auto& c = certificateAttributes->content;
      entry.identifierElement.assign(c.begin(),
                                     c.begin() + static_cast<std::ptrdiff_t>(identifier->Size()));
    }
    const auto type =
        ReadTlv(record->content, objectAttributes->Size() + certificateAttributes->Size());
    EXPECT_TRUE(type && type->tag == 0xA1);
    if (!type) break;
    const auto path = ReadTlv(type->content, 0);
    EXPECT_TRUE(path && path->tag == 0x30);
    if (!path) break;
    const auto text = ReadTlv(path->content, 0);
    EXPECT_TRUE(text && text->tag == 0x04);
    if (!text) break;
    entry.pathText.assign(text->content.begin(), text->content.end());
    const auto index = ReadTlv(path->content, text->Size());
    EXPECT_TRUE(index && index->tag == 0x02);
    if (!index) break;
    const auto length = ReadTlv(path->content, text->Size() + index->Size());
    EXPECT_TRUE(length && length->tag == 0x80);
    if (length) entry.lengthValue = length->content;
    // "\XXXX" groups, five characters apart.
    for (std::size_t i = 0; i + 5 <= entry.pathText.size(); i += 5) {
      EXPECT_EQ(entry.pathText[i], '\\');
      entry.path.push_back(
          static_cast<std::uint16_t>(std::stoul(entry.pathText.substr(i + 1, 4), nullptr, 16)));
    }
    entries.push_back(entry);
    offset += record->Size();
  }
  return entries;
}

std::optional<Bytes> ReadCertificateFile(const cardsim::VirtualCard& card,
                                         const std::vector<std::uint16_t>& path) {
  const auto file = card.ReadFile(path);
  if (!file || file->size() < 8) {
    ADD_FAILURE() << "no certificate file";
    return std::nullopt;
  }
  const auto le32 = [&](std::size_t at) {
    return static_cast<std::uint32_t>((*file)[at]) |
           static_cast<std::uint32_t>((*file)[at + 1]) << 8 |
           static_cast<std::uint32_t>((*file)[at + 2]) << 16 |
           static_cast<std::uint32_t>((*file)[at + 3]) << 24;
  };
  const std::uint32_t uncompressed = le32(0);
  const std::uint32_t compressed = le32(4);
  EXPECT_EQ(8u + compressed, file->size()) << "the file holds the header and the stream only";
  if (compressed > file->size() - 8 || uncompressed > 65536) {
    ADD_FAILURE() << "lengths " << uncompressed << " / " << compressed;
    return std::nullopt;
  }
  Bytes der(uncompressed);
  uLongf size = der.size();
  if (uncompress(der.data(), &size, file->data() + 8, compressed) != Z_OK || size != der.size()) {
    ADD_FAILURE() << "the stream does not expand to the length in the header";
    return std::nullopt;
  }
  return der;
}

void ProviderTest::SetUp() {
  UserDirTest::SetUp();
  ASSERT_TRUE(orvel_test::RegisterCardProvider());
}

Bytes ProviderTest::CertificateDer(int which) {
  testpki::CertSpec spec(testpki::Key(1024, which));
  spec.keyUsage = 0x80;
  spec.serial = 40 + which;
  return testpki::Der(testpki::MakeCert(spec).get());
}

}  // namespace orvelcsp_test
