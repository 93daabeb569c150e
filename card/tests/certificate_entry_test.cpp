// Reading certificates back from virtual cards prepared with certificate
// directory records, certificate files and key records; and the path texts
// of certificate records.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "card/certificate_path.h"
#include "card/crypto_card.h"
#include "fake_card_fixture.h"
#include "orvel_test/certificate_files.h"
#include "support/card_records.h"

namespace card_test {
namespace {

// Bytes that do not compress: a fixed pseudo-random sequence.
Bytes Noise(std::size_t size, std::uint32_t seed) {
  Bytes out(size);
  for (auto& b : out) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(seed >> 16);
  }
  return out;
}

using orvel_test::CertificateFile;
using orvel_test::LittleEndian32;

// A DER element: tag, short or 81/82 length, content.
Bytes Tlv(std::uint8_t tag, const Bytes& content) {
  Bytes out = {tag};
  const std::size_t n = content.size();
  if (n < 0x80) {
    out.push_back(static_cast<std::uint8_t>(n));
  } else if (n < 0x100) {
    out.insert(out.end(), {0x81, static_cast<std::uint8_t>(n)});
  } else {
    out.insert(out.end(), {0x82, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)});
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

// A private-key record as written by the installation, with another key
// file path text.
Bytes PrivateKeyRecordWithPath(std::uint8_t reference, const KeyId& id, const std::string& path) {
  const Bytes standard = PrivateKeyRecord(reference, id);
  // Common object, common key and subclass attributes stay as they are.
  const Bytes head(standard.begin() + 2, standard.begin() + 57);
  const Bytes pathSequence = Join(
      {Tlv(0x04, Bytes(path.begin(), path.end())), {0x02, 0x01, 0x00, 0x80, 0x02, 0x04, 0x18}});
  const Bytes type = Tlv(0xA1, Join({Tlv(0x30, pathSequence), {0x02, 0x01, 0x00}}));
  return Tlv(0x30, Join({head, type}));
}

class CertificateEntries : public FakeCardTest {
 protected:
  void SetUp() override {
    FakeCardTest::SetUp();
    m_card = AddReaderWithCard("Lector 0", {{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB}});
  }

  void PutDirectory(std::uint16_t fid, const Bytes& records) {
    const auto current = m_card->ReadFile({kApplicationDf, fid});
    ASSERT_TRUE(current);
    ASSERT_TRUE(m_card->WriteFile({kApplicationDf, fid}, DirectoryFile(records, current->size())));
  }
  void PutFile(std::uint16_t fid, const Bytes& contents, std::size_t size = 0) {
    ASSERT_TRUE(m_card->CreateFile({kCryptoDf}, fid, size != 0 ? size : contents.size()));
    ASSERT_TRUE(m_card->WriteFile({kCryptoDf, fid}, contents));
  }
  // A certificate record naming file fid of DF 3F11, and the key record
  // with the same identifier under reference 0x21.
  void PutCertificateWithKey(std::uint16_t fid, const Bytes& fileContents) {
    const KeyId id = MakeKeyId(0x30);
    PutDirectory(kCdf, CertificateRecord(IdElement(id), PathOf(fid)));
    PutDirectory(kPrkdf, PrivateKeyRecord(0x21, id));
    PutFile(fid, fileContents);
  }
  static std::string PathOf(std::uint16_t fid) {
    char text[16];
    std::snprintf(text, sizeof text, "\\3F11\\%04X", fid);
    return text;
  }

  // One call, with the buffers of the store provider: 2048 bytes, a
  // 128-byte name.
  int Read() {
    return m_object->ReadCertificateEntry(&m_cursor, m_buffer.data(), &m_length, m_name, &m_usage);
  }
  void Open() {
    m_object = std::make_unique<CCryptoCard>(Connect("Lector 0"));
    StartCounting();
  }
  Bytes Certificate() const { return Bytes(m_buffer.begin(), m_buffer.begin() + m_length); }

  // READ BINARY commands at offset 8 or beyond of the certificate file: the
  // commands after the header read up to the next SELECT.
  std::vector<Bytes> DataReads() {
    const auto commands = Commands();
    const Bytes headerRead = {0x00, 0xB0, 0x00, 0x00, 0x08};
    auto it = std::find(commands.begin(), commands.end(), headerRead);
    std::vector<Bytes> reads;
    if (it == commands.end()) return reads;
    for (++it; it != commands.end() && (*it)[1] != 0xA4; ++it) {
      if ((*it)[1] == 0xB0) reads.push_back(*it);
    }
    return reads;
  }

  std::shared_ptr<cardsim::VirtualCard> m_card;
  std::unique_ptr<CCryptoCard> m_object;
  DWORD m_cursor = 0;
  std::array<BYTE, 2048> m_buffer{};
  DWORD m_length = 2048;
  char m_name[128] = {};
  WORD m_usage = 0xFFFF;
};

// --- Enumeration -------------------------------------------------------------

TEST_F(CertificateEntries, DirectoryStartingWith00OrFFHoldsNothing) {
  for (std::uint8_t first : {0x00, 0xFF}) {
    PutDirectory(kCdf, {first, 0x30, 0x00});
    Open();
    m_cursor = 0;
    EXPECT_EQ(Read(), 0) << int(first);
  }
}

TEST_F(CertificateEntries, NoCursorReadsNothing) {
  Open();
  EXPECT_EQ(m_object->ReadCertificateEntry(nullptr, m_buffer.data(), &m_length, m_name, &m_usage),
            0);
  EXPECT_EQ(fakepcsc::TransmitCount(), 0u);
}

TEST_F(CertificateEntries, TwoRecordsGiveOneOneZeroWithTheCursorAtEachRecord) {
  const Bytes first = Noise(300, 1);
  const Bytes second = Noise(700, 2);
  const Bytes recordA = CertificateRecord(IdElement(MakeKeyId(0x01)), PathOf(0x3F80));
  const Bytes recordB = CertificateRecord(IdElement(MakeKeyId(0x02)), PathOf(0x3F81));
  PutDirectory(kCdf, Join({recordA, recordB}));
  PutFile(0x3F80, CertificateFile(first));
  PutFile(0x3F81, CertificateFile(second));
  Open();

  EXPECT_EQ(Read(), 1);
  EXPECT_EQ(m_cursor, recordA.size());
  EXPECT_EQ(Certificate(), first);
  m_length = 2048;
  EXPECT_EQ(Read(), 1);
  EXPECT_EQ(m_cursor, recordA.size() + recordB.size());
  EXPECT_EQ(Certificate(), second);
  m_length = 2048;
  EXPECT_EQ(Read(), 0);
}

TEST_F(CertificateEntries, CompressedThousandBytesAreReadInEightChunks) {
  // 1500 bytes whose stream is exactly 1000 long: noise, then zeros.
  Bytes certificate;
  for (std::size_t noise = 900; noise < 1100 && certificate.empty(); ++noise) {
    Bytes candidate = Noise(noise, 7);
    candidate.resize(1500, 0x00);
    if (CertificateFile(candidate).size() == 1008) certificate = candidate;
  }
  ASSERT_FALSE(certificate.empty());
  PutCertificateWithKey(0x3F80, CertificateFile(certificate));
  Open();

  EXPECT_EQ(Read(), 1);
  EXPECT_EQ(m_length, 1500u);
  EXPECT_EQ(Certificate(), certificate);
  const auto reads = DataReads();
  ASSERT_EQ(reads.size(), 8u);
  for (std::size_t i = 0; i < 8; ++i) {
    const unsigned offset = 8 + 128 * static_cast<unsigned>(i);
    EXPECT_EQ(reads[i], (Bytes{0x00, 0xB0, static_cast<std::uint8_t>(offset >> 8),
                               static_cast<std::uint8_t>(offset),
                               i < 7 ? std::uint8_t{0x80} : std::uint8_t{0x68}}));
  }
}

TEST_F(CertificateEntries, CertificateLargerThanTheBufferEndsTheEnumeration) {
  PutCertificateWithKey(0x3F80, CertificateFile(Noise(3000, 3)));
  Open();
  m_buffer.fill(0xEE);
  EXPECT_EQ(Read(), 0);
  EXPECT_EQ(m_length, 2048u);
  EXPECT_EQ(m_buffer[0], 0xEE);
  EXPECT_TRUE(DataReads().empty()) << "nothing is fetched for a certificate that cannot be taken";
}

TEST_F(CertificateEntries, NoBufferEndsTheEnumeration) {
  PutCertificateWithKey(0x3F80, CertificateFile(Noise(100, 3)));
  Open();
  EXPECT_EQ(m_object->ReadCertificateEntry(&m_cursor, nullptr, &m_length, m_name, &m_usage), 0);
}

TEST_F(CertificateEntries, StreamThatDoesNotExpandEndsTheEnumeration) {
  Bytes file = CertificateFile(Noise(500, 4));
  file[12] ^= 0xFF;
  file[20] ^= 0xFF;
  PutCertificateWithKey(0x3F80, file);
  Open();
  EXPECT_EQ(Read(), 0);
}

// --- Naming ---------------------------------------------------------------------

TEST_F(CertificateEntries, KeyWrittenUnderReference21IsNamedFromItsRecord) {
  const Bytes certificate = Noise(800, 5);
  PutCertificateWithKey(0x3F80, CertificateFile(certificate));
  Open();
  ASSERT_EQ(Read(), 1);
  EXPECT_EQ(Certificate(), certificate);
  EXPECT_STREQ(m_name, "0123456789AB640021\\3F11\\3F77\\");
  EXPECT_EQ(m_usage, 0x6400);
}

TEST_F(CertificateEntries, EmptyIdentifierGivesTheCertificateWithoutName) {
  const Bytes certificate = Noise(400, 6);
  PutDirectory(kCdf, CertificateRecord({0x04, 0x00}, PathOf(0x3F80)));
  PutDirectory(kPrkdf, PrivateKeyRecord(0x21, MakeKeyId(0x30)));
  PutFile(0x3F80, CertificateFile(certificate));
  Open();
  std::memset(m_name, 'X', sizeof m_name);
  ASSERT_EQ(Read(), 1);
  EXPECT_EQ(Certificate(), certificate);
  EXPECT_STREQ(m_name, "");
  EXPECT_EQ(m_usage, 0);
}

TEST_F(CertificateEntries, UnreachableFileLeavesTheBufferButNamesTheKey) {
  const KeyId id = MakeKeyId(0x30);
  PutDirectory(kCdf, CertificateRecord(IdElement(id), PathOf(0x3F99)));
  PutDirectory(kPrkdf, PrivateKeyRecord(0x21, id));
  Open();
  m_buffer.fill(0xEE);
  m_length = 1234;
  ASSERT_EQ(Read(), 1);
  EXPECT_EQ(m_length, 1234u);
  EXPECT_EQ(m_buffer[0], 0xEE);
  EXPECT_STREQ(m_name, "0123456789AB640021\\3F11\\3F77\\");
}

TEST_F(CertificateEntries, KeyPathThatDoesNotFitTheNameGivesNoName) {
  const KeyId id = MakeKeyId(0x30);
  // 18 characters, the path and a terminator in 128 bytes: 109 fit.
  for (std::size_t length : {109u, 110u, 200u}) {
    std::string path = "\\3F11\\3F77\\";
    path.resize(length, 'A');
    PutDirectory(kCdf, CertificateRecord(IdElement(id), PathOf(0x3F80)));
    PutDirectory(kPrkdf, PrivateKeyRecordWithPath(0x21, id, path));
    if (length == 109u) PutFile(0x3F80, CertificateFile(Noise(100, 8)));
    Open();
    m_cursor = 0;
    m_length = 2048;
    m_usage = 0xFFFF;
    std::memset(m_name, 'X', sizeof m_name);
    ASSERT_EQ(Read(), 1) << length;
    if (length == 109u) {
      EXPECT_EQ(std::strlen(m_name), 127u);
      EXPECT_EQ(std::string(m_name + 18), path);
      EXPECT_EQ(m_usage, 0x6400);
    } else {
      EXPECT_STREQ(m_name, "") << length;
      EXPECT_EQ(m_usage, 0) << length;
    }
  }
}

TEST_F(CertificateEntries, KeyRecordWithoutPathIsNamedBySerialUsageAndReference) {
  // The record ends after the subclass attributes: no type attributes, so
  // no key file path to append to the name.
  const KeyId id = MakeKeyId(0x30);
  const Bytes standard = PrivateKeyRecord(0x21, id);
  PutDirectory(kCdf, CertificateRecord(IdElement(id), PathOf(0x3F80)));
  PutDirectory(kPrkdf, Tlv(0x30, Bytes(standard.begin() + 2, standard.begin() + 57)));
  PutFile(0x3F80, CertificateFile(Noise(100, 9)));
  Open();
  std::memset(m_name, 'X', sizeof m_name);
  ASSERT_EQ(Read(), 1);
  EXPECT_STREQ(m_name, "0123456789AB640021");
  EXPECT_EQ(m_usage, 0x6400);
}

// --- Lengths from the card -------------------------------------------------------

TEST_F(CertificateEntries, CompressedLengthBeyondTheFileIsNotReadOrAllocated) {
  for (std::uint32_t claimed : {0xFFFFFFF0u, 0x00010000u, 93u}) {
    // A 100-byte file: 92 bytes of room after the header.
    Bytes file = Join({LittleEndian32(1500), LittleEndian32(claimed)});
    file.resize(100, 0x00);
    m_card = cardsim::VirtualCard::MakeFresh({{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB}});
    fakepcsc::InsertCard("Lector 0", m_card);
    PutCertificateWithKey(0x3F80, file);
    Open();
    m_cursor = 0;
    m_length = 2048;
    m_buffer.fill(0xEE);
    ASSERT_EQ(Read(), 1) << claimed;
    EXPECT_EQ(m_length, 2048u);
    EXPECT_EQ(m_buffer[0], 0xEE);
    EXPECT_TRUE(DataReads().empty()) << claimed;
    EXPECT_STREQ(m_name, "0123456789AB640021\\3F11\\3F77\\");
  }
}

TEST_F(CertificateEntries, CompressedLengthNoStreamOfThatSizeHasIsRefused) {
  // 10 bytes expanded never take 500 compressed.
  Bytes file = Join({LittleEndian32(10), LittleEndian32(500)});
  file.resize(600, 0x00);
  PutCertificateWithKey(0x3F80, file);
  Open();
  EXPECT_EQ(Read(), 0);
  EXPECT_TRUE(DataReads().empty());
}

TEST_F(CertificateEntries, RecordWithoutTypeAttributesEndsTheEnumerationPastIt) {
  const Bytes broken = {0x30, 0x0A, 0x30, 0x02, 0x0C, 0x00, 0x30, 0x04, 0x04, 0x02, 0x01, 0x02};
  PutDirectory(kCdf, broken);
  Open();
  EXPECT_EQ(Read(), 0);
  EXPECT_EQ(m_cursor, broken.size());
}

TEST_F(CertificateEntries, RecordLongerThanTheFileCanAddressEndsTheEnumeration) {
  PutDirectory(kCdf, {0x30, 0x82, 0xFF, 0xF0, 0x30, 0x00});
  Open();
  EXPECT_EQ(Read(), 0);
  EXPECT_EQ(m_cursor, 0u);
}

// --- Paths -----------------------------------------------------------------------

TEST_F(CertificateEntries, ClosingBackslashAddsNoIdentifier) {
  const KeyId id = MakeKeyId(0x30);
  const Bytes certificate = Noise(200, 9);
  PutDirectory(kCdf, CertificateRecord(IdElement(id), "\\3F11\\3F80\\"));
  PutFile(0x3F80, CertificateFile(certificate));
  Open();
  ASSERT_EQ(Read(), 1);
  EXPECT_EQ(Certificate(), certificate);
  for (const Bytes& c : Commands()) {
    EXPECT_NE(c, (Bytes{0x00, 0xA4, 0x00, 0x00, 0x02, 0x00, 0x00}));
  }
}

TEST_F(CertificateEntries, PathsThatCannotBeFollowedGiveNoCertificate) {
  std::string eleven;
  for (int i = 0; i < 11; ++i) eleven += "\\3F11";
  const std::string overlong = "\\3F11\\3F80" + std::string(60, '\\');
  for (const std::string& path : {eleven, overlong}) {
    const KeyId id = MakeKeyId(0x30);
    PutDirectory(kCdf, CertificateRecord(IdElement(id), path));
    PutDirectory(kPrkdf, PrivateKeyRecord(0x21, id));
    Open();
    m_cursor = 0;
    m_length = 77;
    ASSERT_EQ(Read(), 1) << path;
    EXPECT_EQ(m_length, 77u);
    EXPECT_STREQ(m_name, "0123456789AB640021\\3F11\\3F77\\");
    for (const Bytes& c : Commands()) {
      EXPECT_NE(c, (Bytes{0x00, 0xA4, 0x00, 0x00, 0x02, 0x3F, 0x11})) << path;
    }
  }
}

std::optional<std::vector<WORD>> Parse(const std::string& text) {
  return ParseCertificatePath({reinterpret_cast<const BYTE*>(text.data()), text.size()});
}

TEST(CertificatePath, GroupsOfFourHexDigits) {
  EXPECT_EQ(Parse("\\3F11\\0101"), (std::vector<WORD>{0x3F11, 0x0101}));
  EXPECT_EQ(Parse("\\3f11\\abcd"), (std::vector<WORD>{0x3F11, 0xABCD}));
  EXPECT_EQ(Parse("\\3F11\\3F77\\"), (std::vector<WORD>{0x3F11, 0x3F77}));
  EXPECT_EQ(Parse(std::string("\\3F11\\3F80\0\\1234", 16)), (std::vector<WORD>{0x3F11, 0x3F80}));
  // A group is read up to the first character that is not a digit.
  EXPECT_EQ(Parse("\\3F1"), (std::vector<WORD>{0x3F1}));
}

TEST(CertificatePath, TenIdentifiersAtMost) {
  std::string ten;
  for (int i = 0; i < 10; ++i) ten += "\\3F11";
  ASSERT_TRUE(Parse(ten));
  EXPECT_EQ(Parse(ten)->size(), 10u);
  EXPECT_FALSE(Parse(ten + "\\3F11"));
  EXPECT_TRUE(Parse(ten + "\\"));
}

TEST(CertificatePath, WhatIsNotAPathIsRefused) {
  EXPECT_FALSE(Parse(""));
  EXPECT_FALSE(Parse("\\"));
  EXPECT_FALSE(Parse(std::string("\0\\3F11", 6)));
  EXPECT_FALSE(Parse("3F11"));
  EXPECT_FALSE(Parse("\\3F11X0101"));
  EXPECT_FALSE(Parse("\\3F\\0101"));
  EXPECT_FALSE(Parse("\\3F11\\\\"));
}

TEST(CertificatePath, NeverReadsPastTheText) {
  // The text is "\3F" alone; the digits after it belong to something else.
  const char memory[] = "\\3F11";
  const auto path = ParseCertificatePath({reinterpret_cast<const BYTE*>(memory), 3});
  EXPECT_EQ(path, (std::vector<WORD>{0x3F}));
}

}  // namespace
}  // namespace card_test
