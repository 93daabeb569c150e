// The object directory file, the directory walk, the key reference map and
// the lookup of a certificate's private key, on virtual cards prepared with
// directory records.
#include <gtest/gtest.h>

#include "card/crypto_card.h"
#include "fake_card_fixture.h"
#include "support/card_records.h"

namespace card_test {
namespace {

class ObjectDirectory : public FakeCardTest {
 protected:
  void SetUp() override {
    FakeCardTest::SetUp();
    m_card = AddReaderWithCard("Lector 0");
  }

  void WriteFile(std::uint16_t fid, const Bytes& contents) {
    const auto size = m_card->ReadFile({kApplicationDf, fid});
    ASSERT_TRUE(size) << std::hex << fid;
    ASSERT_TRUE(m_card->WriteFile({kApplicationDf, fid}, DirectoryFile(contents, size->size())));
  }

  // The private-key record under 34 with its head 30 53 written as `head`.
  static Bytes KeyRecordWithHead(const Bytes& head) {
    const Bytes record = PrivateKeyRecord(34, MakeKeyId(2));
    return Join({head, Bytes(record.begin() + 2, record.end())});
  }

  std::unique_ptr<CCryptoCard> Open() { return std::make_unique<CCryptoCard>(Connect("Lector 0")); }

  KeyReferenceMap Scan(CCryptoCard& object) {
    KeyReferenceMap map;
    map.fill(0xEE);
    EXPECT_EQ(object.ScanKeyReferences(&map), 1);
    return map;
  }

  static int Marked(const KeyReferenceMap& map) {
    int n = 0;
    for (BYTE b : map) n += b != 0;
    return n;
  }

  // Index (0-based) of the first command that starts with prefix; the
  // number of commands when none does.
  static std::size_t FirstIndex(const std::vector<Bytes>& commands, const Bytes& prefix) {
    for (std::size_t i = 0; i < commands.size(); ++i) {
      if (commands[i].size() >= prefix.size() &&
          std::equal(prefix.begin(), prefix.end(), commands[i].begin())) {
        return i;
      }
    }
    ADD_FAILURE() << "no such command";
    return commands.size();
  }

  std::shared_ptr<cardsim::VirtualCard> m_card;
};

// --- Object directory file ---------------------------------------------------

TEST_F(ObjectDirectory, ZeroFilledOdfKeepsTheDefaults) {
  EXPECT_EQ(Open()->DirectoryFiles(), kDefaultDirectoryFiles);
}

TEST_F(ObjectDirectory, OdfStartingWithFFKeepsAllNineDefaults) {
  WriteFile(kObjectDirectoryFile, {0xFF, 0xA0, 0x06, 0x30, 0x04, 0x04, 0x02, 0x71, 0x01});
  const auto object = Open();
  EXPECT_EQ(object->DirectoryFiles(), kDefaultDirectoryFiles);
  EXPECT_EQ(object->DirectoryFiles()[kPrivateKeyDirectory], 0x6001);
  EXPECT_EQ(object->DirectoryFiles()[kPublicKeyDirectory], 0x6002);
  EXPECT_EQ(object->DirectoryFiles()[kCertificateDirectory], 0x6004);
}

TEST_F(ObjectDirectory, CertificateEntryMovesTheCdfOnly) {
  WriteFile(kObjectDirectoryFile, {0xA4, 0x06, 0x30, 0x04, 0x04, 0x02, 0x70, 0x04});
  StartCounting();
  const auto object = Open();
  DirectoryFileTable expected = kDefaultDirectoryFiles;
  expected[kCertificateDirectory] = 0x7004;
  EXPECT_EQ(object->DirectoryFiles(), expected);
  // Master file, application, ODF, one read of 40 bytes.
  const auto commands = Commands();
  ASSERT_FALSE(commands.empty());
  EXPECT_EQ(commands.back(), (Bytes{0x00, 0xB0, 0x00, 0x00, 0x28}));
}

TEST_F(ObjectDirectory, EntriesOfOtherTagsAreSteppedOver) {
  WriteFile(kObjectDirectoryFile, {0x30, 0x02, 0xA0, 0x00,  // not a path entry
                                   0xA9, 0x06, 0x30, 0x04, 0x04, 0x02, 0x71, 0x09,  // index 9: none
                                   0xA1, 0x06, 0x30, 0x04, 0x04, 0x02, 0x71, 0x02});
  DirectoryFileTable expected = kDefaultDirectoryFiles;
  expected[kPublicKeyDirectory] = 0x7102;
  EXPECT_EQ(Open()->DirectoryFiles(), expected);
}

TEST_F(ObjectDirectory, EntryCutByTheFortyByteLimitIsNotTaken) {
  // A 34-byte filler entry, then a PrKDF entry whose identifier would be at
  // bytes 40 and 41: beyond what is read.
  Bytes odf = {0x10, 0x20};
  odf.resize(34, 0x00);
  odf.insert(odf.end(), {0xA0, 0x06, 0x30, 0x04, 0x04, 0x02, 0x71, 0x11});
  WriteFile(kObjectDirectoryFile, odf);
  EXPECT_EQ(Open()->DirectoryFiles()[kPrivateKeyDirectory], 0x6001);
}

TEST_F(ObjectDirectory, EntryTooShortToHoldAnIdentifierIsNotTaken) {
  WriteFile(kObjectDirectoryFile,
            {0xA1, 0x02, 0x30, 0x00, 0xA4, 0x06, 0x30, 0x04, 0x04, 0x02, 0x70, 0x04});
  const auto object = Open();
  EXPECT_EQ(object->DirectoryFiles()[kPublicKeyDirectory], 0x6002);
  EXPECT_EQ(object->DirectoryFiles()[kCertificateDirectory], 0x7004);
}

TEST_F(ObjectDirectory, UnreadableOdfKeepsTheDefaults) {
  WriteFile(kObjectDirectoryFile, {0xA4, 0x06, 0x30, 0x04, 0x04, 0x02, 0x70, 0x04});
  StartCounting();
  Open();
  const std::size_t read = FirstIndex(Commands(), {0x00, 0xB0}) + 1;
  StartCounting();
  fakepcsc::AnswerStatusAt(read, 0x6982);
  const auto object = Open();
  EXPECT_EQ(object->DirectoryFiles(), kDefaultDirectoryFiles);
  EXPECT_EQ(Commands().size(), read);
}

// --- Key reference map -------------------------------------------------------

TEST_F(ObjectDirectory, EmptyDirectoriesMarkNothing) {
  const auto object = Open();
  EXPECT_EQ(Marked(Scan(*object)), 0);
  KeyReferenceMap* none = nullptr;
  EXPECT_EQ(object->ScanKeyReferences(none), 0);
}

// A private and public local key (0x13), and a certificate record naming it
// (0x17), another key (nothing added) or absent (0: no record).
class LocalKey : public ObjectDirectory,
                 public ::testing::WithParamInterface<std::pair<std::uint8_t, int>> {};
using LocalKeyCase = std::pair<std::uint8_t, int>;

TEST_P(LocalKey, IsMarkedByItsRecordsAndItsCertificate) {
  const auto [certificateId, expected] = GetParam();
  WriteFile(0x6001, PrivateKeyRecord(33, MakeKeyId(0x40)));
  WriteFile(0x6002, PublicKeyRecord(33, MakeKeyId(0x40)));
  if (certificateId) {
    WriteFile(0x6004, CertificateRecord(IdElement(MakeKeyId(certificateId)), "\\3F11\\0101"));
  }
  const auto map = Scan(*Open());
  EXPECT_EQ(map[33], expected);
  EXPECT_EQ(Marked(map), 1);
}
INSTANTIATE_TEST_SUITE_P(Certificates, LocalKey,
                         ::testing::Values(LocalKeyCase{0, 0x13}, LocalKeyCase{0x40, 0x17},
                                           LocalKeyCase{0x41, 0x13}));

TEST_F(ObjectDirectory, SeveralKeysAndCertificatesEachFindTheirOwn) {
  const KeyId a = MakeKeyId(0x10), b = MakeKeyId(0x20), c = MakeKeyId(0x30);
  WriteFile(0x6001,
            Join({PrivateKeyRecord(32, a), PrivateKeyRecord(33, b), PrivateKeyRecord(40, c)}));
  WriteFile(0x6002, Join({PublicKeyRecord(32, a), PublicKeyRecord(40, c)}));
  WriteFile(0x6004, Join({CertificateRecord(IdElement(c), "\\3F11\\0103"),
                          CertificateRecord(IdElement(a), "\\3F11\\0101")}));
  const auto map = Scan(*Open());
  EXPECT_EQ(map[32], 0x17);
  EXPECT_EQ(map[33], 0x11);
  EXPECT_EQ(map[40], 0x17);
  EXPECT_EQ(Marked(map), 3);
}

TEST_F(ObjectDirectory, AccessFlagsWithoutLocalAndAbsentElements) {
  // Public key record: flags 03 02 03 40 (not local).
  Bytes notLocal = PublicKeyRecord(50, MakeKeyId(1));
  notLocal[45] = 0x40;
  // A key record without the native element: 30 len | 30 00 | 30 (04 01 AA,
  // 03 01 00 usage, 03 02 03 08 access flags, 02 01 34).
  const Bytes sparse = {0x30, 0x11, 0x30, 0x00, 0x30, 0x0D, 0x04, 0x01, 0xAA, 0x03,
                        0x01, 0x00, 0x03, 0x02, 0x03, 0x08, 0x02, 0x01, 0x34};
  WriteFile(0x6001, sparse);
  WriteFile(0x6002, notLocal);
  const auto map = Scan(*Open());
  EXPECT_EQ(map[50], 0x02);
  EXPECT_EQ(map[0x34], 0x11);
}

TEST_F(ObjectDirectory, RecordWithThreeByteLengthIsWalked) {
  // The first record in long form 82 00 53; the walk must reach the second.
  WriteFile(0x6001, Join({KeyRecordWithHead({0x30, 0x82, 0x00, 0x53}),
                          PrivateKeyRecord(35, MakeKeyId(3))}));
  const auto map = Scan(*Open());
  EXPECT_EQ(map[34], 0x11);
  EXPECT_EQ(map[35], 0x11);
}

TEST_F(ObjectDirectory, LengthWithMoreBytesThanFetchedEndsTheScan) {
  // 30 83 00 00 53: three length bytes, more than a four-byte fetch holds.
  WriteFile(0x6001, Join({PrivateKeyRecord(36, MakeKeyId(4)),
                          KeyRecordWithHead({0x30, 0x83, 0x00, 0x00, 0x53}),
                          PrivateKeyRecord(35, MakeKeyId(3))}));
  WriteFile(0x6002, PublicKeyRecord(36, MakeKeyId(4)));
  const auto map = Scan(*Open());
  EXPECT_EQ(map[36], 0x11);  // found before; the public keys are not looked at
  EXPECT_EQ(map[35], 0x00);
  EXPECT_EQ(Marked(map), 1);
}

TEST_F(ObjectDirectory, CardErrorPartWayKeepsWhatWasFound) {
  const KeyId id = MakeKeyId(0x40);
  WriteFile(0x6001, PrivateKeyRecord(33, id));
  WriteFile(0x6002, PublicKeyRecord(33, id));
  const auto object = Open();
  StartCounting();
  Scan(*object);
  // The command before the PuKDF selection reads the PrKDF's end marker.
  const std::size_t endMarker = FirstIndex(Commands(), {0x00, 0xA4, 0x00, 0x00, 0x02, 0x60, 0x02});
  StartCounting();
  fakepcsc::FailTransmitAt(endMarker, SCARD_E_COMM_DATA_LOST);
  KeyReferenceMap map;
  CCryptoCard::KeyScanOutcome outcome;
  outcome.readToEnd = true;
  EXPECT_EQ(object->ScanKeyReferences(&map, &outcome), 1);
  EXPECT_EQ(map[33], KeyRefPrivate | KeyRefLocal);
  EXPECT_FALSE(outcome.readToEnd);
  EXPECT_EQ(Commands().size(), endMarker);  // nothing after the failure
}

TEST_F(ObjectDirectory, FullDirectoryFileEndsTheWalkWithoutOverrun) {
  // A PrKDF filled with records to its last byte: the read past its end is refused.
  const auto size = m_card->ReadFile({kApplicationDf, 0x6001})->size();
  Bytes records;
  std::uint8_t ref = 40;
  while (records.size() + 85 <= size) {
    records = Join({records, PrivateKeyRecord(ref, MakeKeyId(ref))});
    ++ref;
  }
  Bytes filler = {0x30, static_cast<std::uint8_t>(size - records.size() - 2)};
  filler.resize(size - records.size(), 0x00);
  ASSERT_LT(filler[1], 0x80);
  WriteFile(0x6001, Join({records, filler}));
  // The scan goes on with the public keys and the certificates.
  WriteFile(0x6002, PublicKeyRecord(32, MakeKeyId(32)));
  WriteFile(0x6004, CertificateRecord(IdElement(MakeKeyId(40)), "\\3F11\\0101"));
  KeyReferenceMap map{};
  CCryptoCard::KeyScanOutcome outcome;
  EXPECT_EQ(Open()->ScanKeyReferences(&map, &outcome), 1);
  EXPECT_EQ(map[40], 0x15);
  EXPECT_EQ(map[32], KeyRefPublic | KeyRefLocal);
  EXPECT_TRUE(outcome.readToEnd);
  EXPECT_FALSE(outcome.keyRecordsFit);
}

// --- Private key by identifier -------------------------------------------------

TEST_F(ObjectDirectory, FindPrivateKeyReturnsTheRecordContent) {
  const KeyId id = MakeKeyId(0x40);
  const Bytes record = PrivateKeyRecord(33, id);
  WriteFile(0x6001, Join({PrivateKeyRecord(32, MakeKeyId(0x10)), record}));
  const auto found = Open()->FindPrivateKeyById(IdElement(id));
  ASSERT_TRUE(found);
  EXPECT_EQ(*found, Bytes(record.begin() + 2, record.end()));
}

TEST_F(ObjectDirectory, FindPrivateKeyComparesTagAndLength) {
  const KeyId id = MakeKeyId(0x40);
  WriteFile(0x6001, PrivateKeyRecord(33, id));
  const auto object = Open();
  Bytes otherLength = IdElement(id);
  otherLength[1] = 0x13;  // the same bytes under another length byte
  EXPECT_FALSE(object->FindPrivateKeyById(otherLength));
  Bytes otherTag = IdElement(id);
  otherTag[0] = 0x05;
  EXPECT_FALSE(object->FindPrivateKeyById(otherTag));
  Bytes longer = IdElement(id);
  longer[1] = 0x15;
  longer.push_back(0x00);
  EXPECT_FALSE(object->FindPrivateKeyById(longer));
  EXPECT_TRUE(object->FindPrivateKeyById(IdElement(id)));
}

TEST_F(ObjectDirectory, FindPrivateKeyStaysWithinRecordAndIdentifier) {
  // A record whose content is shorter than the identifier compared with it.
  const Bytes shortRecord = {0x30, 0x06, 0x30, 0x00, 0x30, 0x02, 0x04, 0x14};
  const KeyId id = MakeKeyId(0x40);
  WriteFile(0x6001, Join({shortRecord, PrivateKeyRecord(33, id)}));
  const auto object = Open();
  const auto found = object->FindPrivateKeyById(IdElement(id));
  ASSERT_TRUE(found);
  // An identifier element claiming more bytes than it has.
  Bytes truncated = {0x04, 0x14, 0x40, 0x41};
  EXPECT_FALSE(object->FindPrivateKeyById(truncated));
  EXPECT_FALSE(object->FindPrivateKeyById(Bytes{0x04}));
}

TEST_F(ObjectDirectory, FindPrivateKeyGivesNoneOnCardError) {
  const KeyId id = MakeKeyId(0x40);
  WriteFile(0x6001, PrivateKeyRecord(33, id));
  const auto object = Open();
  StartCounting();
  ASSERT_TRUE(object->FindPrivateKeyById(IdElement(id)));
  const std::size_t recordHeader = FirstIndex(Commands(), {0x00, 0xB0}) + 1;
  StartCounting();
  fakepcsc::FailTransmitAt(recordHeader, SCARD_W_REMOVED_CARD);
  EXPECT_FALSE(object->FindPrivateKeyById(IdElement(id)));
  EXPECT_EQ(object->LastResult(), SCARD_W_REMOVED_CARD);
}

}  // namespace
}  // namespace card_test
