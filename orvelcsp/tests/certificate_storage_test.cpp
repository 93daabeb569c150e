// KP_CERTIFICATE: the certificate lands on the card as the certificate reader
// expects it, or, when something fails, nothing lands at all.
#include <algorithm>
#include <set>
#include <utility>

#include "card/crypto_card.h"
#include "fake_reader_test.h"
#include "keyprep/card_provider.h"

namespace orvelcsp_test {
namespace {

const KeyId kFirstId = card_test::MakeKeyId(0x40);
const KeyId kSecondId = card_test::MakeKeyId(0x80);

class CertificateStorage : public FakeReaderTest {
 protected:
  std::shared_ptr<cardsim::VirtualCard> PreparedCard(cardsim::CardSpec spec = {}) {
    auto card = MakeCard(kSerial, spec);
    WriteKeyRecords(*card, {{.reference = 0x20, .id = kFirstId, .roleWord = 0x2000},
                            {.reference = 0x21, .id = kSecondId, .roleWord = 0x4400}});
    AddReaderWithCard("Lector", card);
    return card;
  }
  static bool Attach(std::uint16_t usage, std::uint8_t reference, const Bytes& der,
                     const char* pin = kPin) {
    const std::string name = ContainerName(kSerial, usage, reference);
    return AttachCertificateToKey(kCardProviderName, name.c_str(), der.data(),
                                  static_cast<DWORD>(der.size()), pin);
  }
  // The signature key of container 2000/20 through the provider, the PIN
  // given first when withPin.
  static void OpenSignatureKey(CProviderContext* provider, CKeyHandle* key, bool withPin = true) {
    ASSERT_TRUE(CryptAcquireContextA(provider->Receive(),
                                     ContainerName(kSerial, 0x2000, 0x20).c_str(), "OrvelCSP",
                                     PROV_RSA_FULL, 0));
    if (withPin) {
      ASSERT_TRUE(
          CryptSetProvParam(provider->Get(), PP_ADMIN_PIN, reinterpret_cast<const BYTE*>(kPin), 0));
    }
    ASSERT_TRUE(CryptGetUserKey(provider->Get(), AT_SIGNATURE, key->Receive()));
  }
  // The error with which KP_CERTIFICATE of a certificate fails on that key;
  // the key and its context are released (and must release) after.
  static DWORD CertificateRefusal(bool withPin) {
    CProviderContext provider;
    CKeyHandle key;
    OpenSignatureKey(&provider, &key, withPin);
    const Bytes der = CertificateDer();
    SetLastError(0);
    EXPECT_FALSE(CryptSetKeyParam(key.Get(), KP_CERTIFICATE, der.data(), 0));
    const DWORD error = GetLastError();
    EXPECT_TRUE(key.Reset());
    EXPECT_TRUE(provider.Release());
    return error;
  }
  static std::vector<std::uint16_t> CertificateDfFiles(const cardsim::VirtualCard& card) {
    return card.ListFiles({0x3F11});
  }
  static Bytes Cdf(const cardsim::VirtualCard& card) {
    return *card.ReadFile({kApplicationDf, kCdf});
  }
};

// The record the reader expects for the first certificate file.
Bytes ExpectedRecord(const KeyId& id, const std::string& path, std::uint16_t fileLength) {
  Bytes record = {0x30, 0x37,                                      // record, 55 content bytes
                  0x30, 0x06, 0x14, 0x00, 0x03, 0x02, 0x06, 0x40,  // label, flags
                  0x30, 0x16, 0x04, 0x14};                         // identifier element
  record.insert(record.end(), id.begin(), id.end());
  record.insert(record.end(), {0xA1, 0x15, 0x30, 0x13, 0x04, 0x0A});  // type, path, text
  record.insert(record.end(), path.begin(), path.end());
  record.insert(record.end(),
                {0x02, 0x01, 0x00, 0x80, 0x02, static_cast<std::uint8_t>(fileLength >> 8),
                 static_cast<std::uint8_t>(fileLength & 0xFF)});
  return record;
}

TEST_F(CertificateStorage, CertificateIsStoredAndReadBack) {
  auto card = PreparedCard();
  const Bytes der = CertificateDer();
  ASSERT_TRUE(Attach(0x2000, 0x20, der));
  // The context is gone, and with it the verified PIN.
  EXPECT_FALSE(card->PinVerified());

  const auto entries = ReadCertificateDirectory(*card);
  ASSERT_EQ(entries.size(), 1u);
  const CertificateEntry& entry = entries[0];
  EXPECT_EQ(entry.offset, 0u);
  EXPECT_EQ(entry.identifierElement, card_test::IdElement(kFirstId));
  EXPECT_EQ(entry.pathText, "\\3F11\\3F80");
  ASSERT_EQ(entry.path, (std::vector<std::uint16_t>{0x3F11, 0x3F80}));

  const auto certificate = ReadCertificateFile(*card, entry.path);
  ASSERT_TRUE(certificate);
  EXPECT_EQ(*certificate, der);

  // The whole record, byte for byte, and a zero after it ends the directory.
  const auto file = card->ReadFile(entry.path);
  const Bytes cdf = Cdf(*card);
  const Bytes expected =
      ExpectedRecord(kFirstId, "\\3F11\\3F80", static_cast<std::uint16_t>(file->size()));
  ASSERT_GE(cdf.size(), expected.size() + 1);
  EXPECT_EQ(Hex(Bytes(cdf.begin(), cdf.begin() + static_cast<std::ptrdiff_t>(expected.size()))),
            Hex(expected));
  EXPECT_EQ(cdf[expected.size()], 0x00);
  EXPECT_EQ(CertificateDfFiles(*card), (std::vector<std::uint16_t>{0x3F77, 0x3F78, 0x3F80}));
}

TEST_F(CertificateStorage, CardLibraryFindsTheKeyOfTheStoredCertificate) {
  auto card = PreparedCard();
  ASSERT_TRUE(Attach(0x2000, 0x20, CertificateDer()));

  CResourceManagerContext context;
  ASSERT_EQ(context.Establish(SCARD_SCOPE_USER), SCARD_S_SUCCESS);
  SCARDHANDLE handle = 0;
  DWORD protocol = 0;
  ASSERT_EQ(SCardConnect(context.Get(), "Lector", SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0, &handle,
                         &protocol),
            SCARD_S_SUCCESS);
  {
    CCryptoCard reader(handle);
    KeyReferenceMap map{};
    ASSERT_EQ(reader.ScanKeyReferences(&map), 1);
    EXPECT_EQ(map[0x20], KeyRefPrivate | KeyRefPublic | KeyRefCertified | KeyRefLocal);
    EXPECT_EQ(map[0x21], KeyRefPrivate | KeyRefPublic | KeyRefLocal);
    const auto entries = ReadCertificateDirectory(*card);
    ASSERT_EQ(entries.size(), 1u);
    const auto keyRecord = reader.FindPrivateKeyById(entries[0].identifierElement);
    ASSERT_TRUE(keyRecord);
    const Bytes written = card_test::PrivateKeyRecord(0x20, kFirstId);
    EXPECT_EQ(*keyRecord, Bytes(written.begin() + 2, written.end()));  // its content
  }
  SCardDisconnect(handle, SCARD_LEAVE_CARD);
}

TEST_F(CertificateStorage, AttachmentTakesAtMostThirtyCommandsAndReadsEachFileOnce) {
  PreparedCard();
  fakepcsc::ClearTrace();
  ASSERT_TRUE(Attach(0x4400, 0x21, CertificateDer()));
  const auto trace = fakepcsc::Trace();
  EXPECT_LE(trace.size(), 30u);
  // No part of a file is read twice, and a SELECT is answered with FCI only
  // where the size is used: the CDF's, to place the record.
  std::uint16_t selected = 0;
  std::set<std::pair<std::uint16_t, std::uint16_t>> reads;
  int withFci = 0;
  for (const auto& entry : trace) {
    const Bytes& c = entry.command;
    ASSERT_GE(c.size(), 5u);
    if (c[1] == 0xA4) {
      selected = c[2] == 0x00 ? static_cast<std::uint16_t>(c[5] << 8 | c[6]) : 0;
      if (c[3] != 0x0C) {
        ++withFci;
        EXPECT_EQ(selected, kCdf) << Hex(c);
      }
    }
    if (c[1] == 0xB0) {
      EXPECT_TRUE(reads.insert({selected, static_cast<std::uint16_t>(c[2] << 8 | c[3])}).second)
          << Hex(c);
    }
  }
  EXPECT_EQ(withFci, 1);
}

TEST_F(CertificateStorage, ExchangeOnlyKeyTakesTheCertificateToo) {
  auto card = PreparedCard();
  const Bytes first = CertificateDer(0);
  const Bytes second = CertificateDer(1);
  ASSERT_TRUE(Attach(0x2000, 0x20, first));
  // The exchange-only key is reached after the signature key is refused.
  ASSERT_TRUE(Attach(0x4400, 0x21, second));

  const auto entries = ReadCertificateDirectory(*card);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].offset, entries[0].size);
  EXPECT_EQ(entries[1].identifierElement, card_test::IdElement(kSecondId));
  EXPECT_EQ(entries[1].pathText, "\\3F11\\3F81");
  EXPECT_EQ(ReadCertificateFile(*card, entries[0].path), first);
  EXPECT_EQ(ReadCertificateFile(*card, entries[1].path), second);
}

TEST_F(CertificateStorage, RecordsAndFilesAlreadyThereAreKept) {
  auto card = PreparedCard();
  // Another certificate record, and a file that takes the first identifier.
  const Bytes existing =
      card_test::CertificateRecord(card_test::IdElement(kSecondId), "\\3F11\\0101");
  ASSERT_TRUE(card->WriteFile({kApplicationDf, kCdf}, card_test::DirectoryFile(existing, 1024)));
  ASSERT_TRUE(card->CreateFile({0x3F11}, 0x3F80, 16));

  const Bytes der = CertificateDer();
  ASSERT_TRUE(Attach(0x6400, 0x20, der));
  const Bytes cdf = Cdf(*card);
  EXPECT_TRUE(std::equal(existing.begin(), existing.end(), cdf.begin()));
  const auto entries = ReadCertificateDirectory(*card);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].offset, existing.size());
  EXPECT_EQ(entries[1].pathText, "\\3F11\\3F81");
  EXPECT_EQ(ReadCertificateFile(*card, entries[1].path), der);
}

TEST_F(CertificateStorage, WithoutThePinNothingIsWritten) {
  auto card = PreparedCard();
  const Bytes cdfBefore = Cdf(*card);
  EXPECT_EQ(CertificateRefusal(false), static_cast<DWORD>(SCARD_W_SECURITY_VIOLATION));
  EXPECT_EQ(Cdf(*card), cdfBefore);
  EXPECT_EQ(CertificateDfFiles(*card), (std::vector<std::uint16_t>{0x3F77, 0x3F78}));

  // A wrong PIN stops the attachment before the key is asked for.
  EXPECT_FALSE(Attach(0x2000, 0x20, CertificateDer(), "4321"));
  EXPECT_EQ(Cdf(*card), cdfBefore);
}

TEST_F(CertificateStorage, NoRoomInTheDirectoryOrForTheFile) {
  cardsim::CardSpec smallDirectory;
  smallDirectory.cdfSize = 40;  // less than one record
  auto card = PreparedCard(smallDirectory);
  EXPECT_EQ(CertificateRefusal(true), static_cast<DWORD>(SCARD_E_WRITE_TOO_MANY));
  EXPECT_EQ(Cdf(*card), Bytes(40, 0x00));
  EXPECT_EQ(CertificateDfFiles(*card), (std::vector<std::uint16_t>{0x3F77, 0x3F78}));

  fakepcsc::Reset();
  cardsim::CardSpec smallSpace;
  smallSpace.certificateSpace = 100;  // less than the certificate file
  auto second = PreparedCard(smallSpace);
  EXPECT_FALSE(Attach(0x2000, 0x20, CertificateDer()));
  EXPECT_EQ(Cdf(*second), Bytes(1024, 0x00));
  EXPECT_EQ(CertificateDfFiles(*second), (std::vector<std::uint16_t>{0x3F77, 0x3F78}));
}

TEST_F(CertificateStorage, BytesThatAreNoCertificateAreRefused) {
  auto card = PreparedCard();
  CProviderContext provider;
  CKeyHandle key;
  ASSERT_NO_FATAL_FAILURE(OpenSignatureKey(&provider, &key));
  // A header announcing more than the certificate readers take: refused from
  // the header alone, the bytes behind it are never read.
  const BYTE oversized[] = {0x30, 0x82, 0x10, 0x00};
  const BYTE junk[] = {0x30, 0x03, 0x02, 0x01, 0x00};
  const BYTE notSequence[] = {0x04, 0x02, 0x00, 0x00};
  for (const BYTE* data : {oversized, junk, notSequence}) {
    SetLastError(0);
    EXPECT_FALSE(CryptSetKeyParam(key.Get(), KP_CERTIFICATE, data, 0));
    EXPECT_EQ(GetLastError(), NTE_BAD_DATA);
  }
  EXPECT_FALSE(CryptSetKeyParam(key.Get(), KP_CERTIFICATE, nullptr, 0));
  EXPECT_FALSE(CryptSetKeyParam(key.Get(), KP_CERTIFICATE + 1, junk, 0));
  EXPECT_TRUE(key.Reset());
  EXPECT_TRUE(provider.Release());
  EXPECT_EQ(Cdf(*card), Bytes(1024, 0x00));
  EXPECT_EQ(CertificateDfFiles(*card), (std::vector<std::uint16_t>{0x3F77, 0x3F78}));
}

// Which command of the storing sequence is refused by the card.
enum class Refused { CreateFile, SecondFileChunk, RecordTail, RecordHead };

class RefusedCommand : public CertificateStorage, public ::testing::WithParamInterface<Refused> {};

// The position (1-based) of the command in the trace of a whole attachment.
std::size_t PositionOf(const std::vector<fakepcsc::TraceEntry>& trace, Refused which) {
  std::size_t create = 0;
  std::size_t tail = 0;
  std::size_t head = 0;
  for (std::size_t i = 0; i < trace.size(); ++i) {
    const Bytes& c = trace[i].command;
    if (c.size() >= 2 && c[0] == 0x80 && c[1] == 0xE0 && create == 0) create = i + 1;
    if (c.size() >= 5 && c[0] == 0x00 && c[1] == 0xD6 && c[2] == 0x00 && c[3] == 0x01) tail = i + 1;
    if (c.size() == 6 && c[0] == 0x00 && c[1] == 0xD6 && c[2] == 0x00 && c[3] == 0x00 &&
        c[4] == 0x01) {
      head = i + 1;
    }
  }
  EXPECT_NE(create, 0u);
  EXPECT_NE(tail, 0u);
  EXPECT_EQ(head, tail + 1);
  switch (which) {
    case Refused::CreateFile:
      return create;
    case Refused::SecondFileChunk:
      return create + 2;
    case Refused::RecordTail:
      return tail;
    case Refused::RecordHead:
      return head;
  }
  return 0;
}

TEST_P(RefusedCommand, NothingIsLeftBehind) {
  const Bytes der = CertificateDer();
  ASSERT_GT(der.size(), 400u);  // the file takes more than one UPDATE BINARY

  // A whole attachment on a card like the one below shows where each command is.
  {
    PreparedCard();
    fakepcsc::ClearFaults();
    fakepcsc::ClearTrace();
    ASSERT_TRUE(Attach(0x2000, 0x20, der));
  }
  const std::size_t position = PositionOf(fakepcsc::Trace(), GetParam());
  const Bytes command = fakepcsc::Trace()[position - 1].command;
  fakepcsc::Reset();

  auto card = PreparedCard();
  fakepcsc::ClearFaults();
  fakepcsc::ClearTrace();
  fakepcsc::AnswerStatusAt(position, 0x6581);  // memory failure
  EXPECT_FALSE(Attach(0x2000, 0x20, der));
  ASSERT_GE(fakepcsc::Trace().size(), position);
  EXPECT_EQ(fakepcsc::Trace()[position - 1].command, command);

  EXPECT_TRUE(ReadCertificateDirectory(*card).empty());
  EXPECT_NE(Cdf(*card)[0], 0x30);
  EXPECT_EQ(CertificateDfFiles(*card), (std::vector<std::uint16_t>{0x3F77, 0x3F78}));

  // The card takes the certificate once the fault is gone.
  fakepcsc::ClearFaults();
  ASSERT_TRUE(Attach(0x2000, 0x20, der));
  const auto entries = ReadCertificateDirectory(*card);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(ReadCertificateFile(*card, entries[0].path), der);
}

INSTANTIATE_TEST_SUITE_P(EachWrite, RefusedCommand,
                         ::testing::Values(Refused::CreateFile, Refused::SecondFileChunk,
                                           Refused::RecordTail, Refused::RecordHead));

}  // namespace
}  // namespace orvelcsp_test
