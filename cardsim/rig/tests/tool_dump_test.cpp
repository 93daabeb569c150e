// The card tool: decoding of directory records and certificate files, the
// dump of a prepared card, making images, and the program's exit status.
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "card_dump.h"
#include "card_records.h"
#include "cardsim/virtual_card.h"
#include "certificate_file.h"
#include "commands.h"
#include "orvel_test/certificate_files.h"
#include "orvel_test/file_text.h"
#include "orvel_test/temp_dir.h"
#include "support/card_records.h"
#include "test_pki.h"
#include "tool_args.h"

namespace orvelcard {
namespace {

namespace fs = std::filesystem;

// The records the card library writes, with the identifier 01..14.
const card_test::KeyId kKeyId = card_test::MakeKeyId(0x01);

Bytes PrivateKeyRecord(std::uint8_t reference) {
  return card_test::PrivateKeyRecord(reference, kKeyId);
}
Bytes PublicKeyRecord(std::uint8_t reference, std::uint16_t role) {
  return card_test::PublicKeyRecord(reference, kKeyId, role);
}

Bytes KeyPart(const EVP_PKEY* key, const char* name, int size) {
  BIGNUM* value = nullptr;
  EXPECT_EQ(EVP_PKEY_get_bn_param(key, name, &value), 1) << name;
  Bytes out(static_cast<std::size_t>(size));
  BN_bn2binpad(value, out.data(), size);
  BN_clear_free(value);
  return out;
}

// A self-signed certificate for key (SHA-256).
Bytes SelfSignedCertificate(EVP_PKEY* key, const std::string& commonName) {
  testpki::CertSpec spec(key);
  spec.digest = EVP_sha256();
  spec.commonName = commonName;
  return testpki::Der(testpki::MakeCert(spec).get());
}

Bytes Apdu(Bytes header, const Bytes& data) {
  header.push_back(static_cast<std::uint8_t>(data.size()));
  header.insert(header.end(), data.begin(), data.end());
  return header;
}

std::uint16_t Sw(const Bytes& answer) {
  return static_cast<std::uint16_t>(answer[answer.size() - 2] << 8 | answer.back());
}

// Writes a key the way the key commands carry it (every part big-endian).
void WriteKey(cardsim::VirtualCard& card, std::uint8_t p1, std::uint8_t reference,
              const EVP_PKEY* key, bool withPrivate, bool spoilPrime2 = false) {
  const Bytes master = {'M', 'a', 's', 't', 'e', 'r', '.', 'F', 'i', 'l', 'e'};
  const Bytes crypto = {'I', 'C', 'C', '.', 'C', 'r', 'y', 'p', 't', 'o'};
  ASSERT_EQ(card.Transmit(Apdu({0x00, 0xA4, 0x04, 0x00}, master))[0], 0x61);
  ASSERT_EQ(card.Transmit(Apdu({0x00, 0xA4, 0x04, 0x00}, crypto))[0], 0x61);
  ASSERT_EQ(Sw(card.Transmit(Apdu({0x00, 0x20, 0x00, 0x00}, {'1', '2', '3', '4'}))), 0x9000);
  Bytes modulus = {0x14, 0x80};
  const Bytes n = KeyPart(key, OSSL_PKEY_PARAM_RSA_N, 128);
  modulus.insert(modulus.end(), n.begin(), n.end());
  ASSERT_EQ(Sw(card.Transmit(Apdu({0x90, 0x50, p1, reference}, modulus))), 0x9000);
  ASSERT_EQ(Sw(card.Transmit(Apdu({0x90, 0x50, p1, reference}, {0x12, 0x03, 0x01, 0x00, 0x01}))),
            0x9000);
  if (!withPrivate) return;
  const std::pair<std::uint8_t, const char*> parts[] = {{0x02, OSSL_PKEY_PARAM_RSA_FACTOR1},
                                                        {0x04, OSSL_PKEY_PARAM_RSA_FACTOR2},
                                                        {0x06, OSSL_PKEY_PARAM_RSA_COEFFICIENT1},
                                                        {0x08, OSSL_PKEY_PARAM_RSA_EXPONENT1},
                                                        {0x0A, OSSL_PKEY_PARAM_RSA_EXPONENT2}};
  for (const auto& [tag, name] : parts) {
    Bytes data = {tag, 0x40};
    Bytes value = KeyPart(key, name, 64);
    if (spoilPrime2 && tag == 0x04) value[63] ^= 0x02;
    data.insert(data.end(), value.begin(), value.end());
    ASSERT_EQ(Sw(card.Transmit(Apdu({0x90, 0x52, p1, reference}, data))), 0x9000);
  }
}

using orvel_test::ReadText;
using orvel_test::TempDir;

struct RunResult {
  int status = -1;
  std::string out, err;
};

RunResult Invoke(const std::vector<std::string>& args,
                 int (*command)(const std::vector<std::string>&, std::ostream&, std::ostream&)) {
  std::ostringstream out, err;
  RunResult result;
  result.status = command(args, out, err);
  result.out = out.str();
  result.err = err.str();
  return result;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(CardRecords, KeyRecordsAsTheCardLibraryWritesThem) {
  const Bytes privateRecord = PrivateKeyRecord(0x21);
  ASSERT_EQ(privateRecord.size(), 85u);
  const auto tlv = ReadTlv(privateRecord, 0);
  ASSERT_TRUE(tlv.has_value());
  const KeyRecord key = DecodeKeyRecord(*tlv);
  EXPECT_TRUE(key.problems.empty());
  EXPECT_EQ(key.label, "");
  EXPECT_EQ(key.objectFlags, 0xC0);
  ASSERT_TRUE(key.identifier.has_value());
  EXPECT_EQ(key.identifier->size(), 20u);
  EXPECT_EQ(key.identifier->front(), 0x01);
  EXPECT_EQ(key.usage, 0x6400);
  EXPECT_EQ(key.native, true);
  EXPECT_EQ(key.accessFlags, 0x98);
  EXPECT_EQ(key.keyReference, 0x21);
  EXPECT_EQ(key.path, "\\3F11\\3F77\\");
  EXPECT_EQ(PathIdentifiers(*key.path), (std::vector<std::uint16_t>{0x3F11, 0x3F77}));

  const Bytes publicRecord = PublicKeyRecord(0x22, 0x2000);
  const KeyRecord pub = DecodeKeyRecord(*ReadTlv(publicRecord, 0));
  EXPECT_EQ(pub.objectFlags, 0x40);
  EXPECT_EQ(pub.usage, 0x2000);
  EXPECT_EQ(pub.accessFlags, 0x48);
  EXPECT_EQ(pub.keyReference, 0x22);
  EXPECT_EQ(pub.path, "\\3F11\\3F78\\");
  EXPECT_EQ(AccessFlagNames(0x98), "sensitive, never extractable, local");
  EXPECT_EQ(UsageNames(0x6400), "decrypt, sign, unwrap");
}

TEST(CardRecords, DirectoryWalkStopsAtTheEndMarkerOrABrokenRecord) {
  Bytes file = PrivateKeyRecord(0x20);
  const Bytes second = PrivateKeyRecord(0x21);
  file.insert(file.end(), second.begin(), second.end());
  file.resize(300, 0x00);
  DirectoryContents contents = WalkDirectory(file);
  ASSERT_EQ(contents.records.size(), 2u);
  EXPECT_EQ(contents.records[1].offset, 85u);
  EXPECT_EQ(contents.end, 170u);
  EXPECT_EQ(contents.stopNote, "byte 00");

  // A record whose length runs past the file ends the walk without reading beyond it.
  Bytes broken = PrivateKeyRecord(0x20);
  broken.push_back(0x30);
  broken.push_back(0x82);
  broken.push_back(0x7F);
  broken.push_back(0xFF);
  contents = WalkDirectory(broken);
  EXPECT_EQ(contents.records.size(), 1u);
  EXPECT_EQ(contents.end, 85u);
  EXPECT_TRUE(Contains(contents.stopNote, "past the end"));

  // A three-byte long-form length is walked.
  Bytes longForm = {0x30, 0x82, 0x00, 0x03, 0x05, 0x01, 0x00, 0xFF};
  contents = WalkDirectory(longForm);
  ASSERT_EQ(contents.records.size(), 1u);
  EXPECT_EQ(contents.records[0].Size(), 7u);
  EXPECT_EQ(contents.stopNote, "byte FF");
}

TEST(CardRecords, MisshapenKeyRecordIsReportedNotTrusted) {
  // Common key attributes cut short: no key reference, no path.
  const Bytes record = {0x30, 0x0C, 0x30, 0x02, 0x14, 0x00, 0x30,
                        0x06, 0x04, 0x01, 0xAA, 0x03, 0x01, 0x00};
  const KeyRecord key = DecodeKeyRecord(*ReadTlv(record, 0));
  EXPECT_EQ(key.identifier, (Bytes{0xAA}));
  EXPECT_FALSE(key.keyReference.has_value());
  EXPECT_FALSE(key.path.has_value());
  EXPECT_GE(key.problems.size(), 2u);
}

TEST(CardRecords, OdfEntriesAndDefaults) {
  const Bytes odf = {0xA0, 0x06, 0x30, 0x04, 0x04, 0x02, 0x60, 0x01, 0xA4, 0x06, 0x30,
                     0x04, 0x04, 0x02, 0x70, 0x04, 0xFF, 0xA1, 0x06, 0x30, 0x04};
  const std::vector<OdfEntry> entries = ParseOdf(odf);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].fileId, 0x7004);
  EXPECT_EQ(DirectoryFile(entries, 0xA4), 0x7004);
  EXPECT_EQ(DirectoryFile(entries, 0xA1), 0x6002);  // after FF: the default
  EXPECT_EQ(DirectoryFile({}, 0xA0), 0x6001);
}

TEST(CertificateFiles, HeaderAndContentsAreCheckedBeforeUse) {
  EVP_PKEY* const key = testpki::Key(1024);
  const Bytes der = SelfSignedCertificate(key, "Orvel Test");
  const Bytes file = orvel_test::CertificateFile(der, 9);
  const auto good = ReadCertificateFile(file);
  ASSERT_TRUE(good.has_value());
  EXPECT_EQ(good->uncompressedLength, der.size());
  EXPECT_EQ(good->certificate, der);
  EXPECT_EQ(good->subject, "CN=Orvel Test");

  EXPECT_FALSE(ReadCertificateFile(Bytes(7, 0)).has_value());
  EXPECT_EQ(ReadCertificateFile(Bytes(64, 0))->problem, "no certificate (empty header)");

  Bytes tooLong = file;
  tooLong[4] = 0xFF;  // compressed length beyond the file
  tooLong[5] = 0xFF;
  EXPECT_FALSE(ReadCertificateFile(tooLong)->certificate.has_value());
  Bytes huge = file;
  huge[3] = 0x7F;  // uncompressed length of about 2 GB: never allocated
  EXPECT_TRUE(Contains(ReadCertificateFile(huge)->problem, "implausibly large"));
  Bytes shortLength = file;
  shortLength[0] = static_cast<std::uint8_t>(shortLength[0] - 1);
  EXPECT_FALSE(ReadCertificateFile(shortLength)->certificate.has_value());
  Bytes garbage = file;
  garbage[12] ^= 0xFF;
  EXPECT_FALSE(ReadCertificateFile(garbage)->certificate.has_value());
}

TEST(ToolArguments, SerialsPortsAndNumbers) {
  EXPECT_EQ(ParseSerial("0123456789ab"),
            (std::array<std::uint8_t, 6>{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB}));
  EXPECT_FALSE(ParseSerial("0123456789A").has_value());
  EXPECT_FALSE(ParseSerial("0123456789AG").has_value());
  const auto withPort = ParseImageArgument("cards/a.json:35964");
  ASSERT_TRUE(withPort.has_value());
  EXPECT_EQ(withPort->path, "cards/a.json");
  EXPECT_EQ(withPort->port, 35964);
  EXPECT_EQ(ParseImageArgument("c:/x.json")->path, "c:/x.json");
  EXPECT_FALSE(ParseImageArgument("c:/x.json")->port.has_value());
  EXPECT_FALSE(ParseImageArgument("a.json:0").has_value());
  EXPECT_FALSE(ParseImageArgument("a.json:65536").has_value());
  EXPECT_FALSE(ParseNumber("12x", 0, 100).has_value());
  EXPECT_FALSE(ParseNumber("101", 0, 100).has_value());
}

TEST(ToolMake, MakesAFreshImageWithTheGivenSizes) {
  TempDir dir;
  const std::string image = (dir.Path() / "card.json").string();
  RunResult made = Invoke({image, "--serial", "A1B2C3D4E5F6", "--pin", "4321", "--prkdf-size",
                           "300", "--cdf-size", "2048"},
                          RunMake);
  ASSERT_EQ(made.status, kExitOk) << made.err;
  const auto card = cardsim::VirtualCard::LoadFile(image);
  EXPECT_EQ(card->Serial(), (std::array<std::uint8_t, 6>{0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6}));
  EXPECT_EQ(card->ReadFile({cardsim::kPkcs15Df, 0x6001})->size(), 300u);
  EXPECT_EQ(card->ReadFile({cardsim::kPkcs15Df, 0x6002})->size(), cardsim::CardSpec{}.pukdfSize);
  EXPECT_EQ(card->ReadFile({cardsim::kPkcs15Df, 0x6004})->size(), 2048u);
  // The PIN given is the card's PIN.
  const Bytes crypto = {'I', 'C', 'C', '.', 'C', 'r', 'y', 'p', 't', 'o'};
  card->Transmit(Apdu({0x00, 0xA4, 0x04, 0x00}, crypto));
  EXPECT_EQ(Sw(card->Transmit(Apdu({0x00, 0x20, 0x00, 0x00}, {'4', '3', '2', '1'}))), 0x9000);

  // No silent overwrite.
  EXPECT_EQ(Invoke({image, "--serial", "000000000000"}, RunMake).status, kExitFailed);
  EXPECT_EQ(cardsim::VirtualCard::LoadFile(image)->Serial()[0], 0xA1);
  EXPECT_EQ(Invoke({image, "--serial", "000000000000", "--force"}, RunMake).status, kExitOk);
  EXPECT_EQ(cardsim::VirtualCard::LoadFile(image)->Serial()[0], 0x00);
}

TEST(ToolMake, RefusesBadArguments) {
  TempDir dir;
  const std::string image = (dir.Path() / "card.json").string();
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {image},
           {"--serial", "0123456789AB"},
           {image, "--serial", "0123"},
           {image, "--serial", "0123456789AB", "--pin", ""},
           {image, "--serial", "0123456789AB", "--prkdf-size", "0"},
           {image, "--serial", "0123456789AB", "--cdf-size", "70000"},
           {image, "--serial", "0123456789AB", "--bogus"},
           {image, "--serial"}}) {
    const RunResult result = Invoke(args, RunMake);
    EXPECT_EQ(result.status, kExitUsage) << ::testing::PrintToString(args);
    EXPECT_FALSE(result.err.empty());
  }
  EXPECT_FALSE(fs::exists(image));
}

TEST(ToolDump, ShowsRecordsKeysAndCertificatesOfAPreparedCard) {
  TempDir dir;
  const fs::path image = dir.Path() / "card.json";
  ASSERT_EQ(Invoke({image.string(), "--serial", "0123456789AB"}, RunMake).status, kExitOk);

  const auto card = cardsim::VirtualCard::LoadFile(image);
  ASSERT_TRUE(card->WriteFile({cardsim::kPkcs15Df, 0x6001}, PrivateKeyRecord(0x21)));
  ASSERT_TRUE(card->WriteFile({cardsim::kPkcs15Df, 0x6002}, PublicKeyRecord(0x21, 0x6400)));
  ASSERT_TRUE(
      card->WriteFile({cardsim::kPkcs15Df, 0x6004},
                      card_test::CertificateRecord(card_test::IdElement(kKeyId), "\\3F11\\1234")));
  EVP_PKEY* const key = testpki::Key(1024);
  const Bytes certificateFile =
      orvel_test::CertificateFile(SelfSignedCertificate(key, "Orvel Test"), 9);
  ASSERT_TRUE(card->CreateFile({cardsim::kCryptoDf}, 0x1234, certificateFile.size() + 16));
  ASSERT_TRUE(card->WriteFile({cardsim::kCryptoDf, 0x1234}, certificateFile));
  WriteKey(*card, 0x40, 0x21, key, true);
  WriteKey(*card, 0x80, 0x21, key, false);
  WriteKey(*card, 0x40, 0x22, key, true, /*spoilPrime2=*/true);
  card->SaveFile(image);

  const RunResult dump = Invoke({image.string()}, RunDump);
  ASSERT_EQ(dump.status, kExitOk) << dump.err;
  const std::string& text = dump.out;
  const std::string expected[] = {
      "Serial: 0123456789AB",
      "PIN tries left: 3",
      "A0 private keys (PrKDF) -> 6001",
      "Private keys, PrKDF (5015/6001), 1024 bytes: 1 record",
      "identifier: 0102030405060708090A0B0C0D0E0F1011121314",
      "usage: 6400 (decrypt, sign, unwrap)",
      "access flags: 98 (sensitive, never extractable, local)",
      "access flags: 48 (extractable, local)",
      "key reference: 21 (33)",
      "path: \"\\3F11\\3F77\\\"  (file 3F11/3F77)",
      "path: \"\\3F11\\3F78\\\"",
      "Certificates, CDF (5015/6004), 1024 bytes: 1 record",
      "path: \"\\3F11\\1234\"  (file 3F11/1234)",
      "reference 21 (33), exchange (40): complete, consistent (p·q = n); "
      "modulus 1024 bits, e = 65537",
      "reference 21 (33), signature (80): incomplete (missing prime1, "
      "prime2, coefficient, exponent1, exponent2)",
      "reference 22 (34), exchange (40): complete, NOT consistent",
      "3F11/1234, " + std::to_string(certificateFile.size() + 16) + " bytes; header: uncompressed ",
      "subject: CN=Orvel Test",
  };
  for (const std::string& line : expected)
    EXPECT_TRUE(Contains(text, line)) << line << "\n" << text;
}

TEST(ToolDump, BrokenContentsAreReportedNotFollowed) {
  TempDir dir;
  const fs::path image = dir.Path() / "card.json";
  ASSERT_EQ(Invoke({image.string(), "--serial", "0123456789AB"}, RunMake).status, kExitOk);
  const auto card = cardsim::VirtualCard::LoadFile(image);
  // A record claiming 64 KiB in a 1 KiB directory, and a certificate file
  // whose header claims more than the file holds.
  ASSERT_TRUE(card->WriteFile({cardsim::kPkcs15Df, 0x6004}, {0x30, 0x82, 0xFF, 0xFF, 0x30}));
  ASSERT_TRUE(card->CreateFile({cardsim::kCryptoDf}, 0x2000, 32));
  ASSERT_TRUE(card->WriteFile({cardsim::kCryptoDf, 0x2000},
                              {0x00, 0x04, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00}));
  card->SaveFile(image);
  const RunResult dump = Invoke({image.string()}, RunDump);
  ASSERT_EQ(dump.status, kExitOk) << dump.err;
  EXPECT_TRUE(Contains(dump.out, "0 records")) << dump.out;
  EXPECT_TRUE(Contains(dump.out, "a record that runs past the end of the file")) << dump.out;
  EXPECT_TRUE(Contains(dump.out, "! the compressed length runs past the end of the file"))
      << dump.out;
}

TEST(ToolDump, BadImagesFailWithAMessage) {
  TempDir dir;
  const fs::path notJson = dir.Path() / "not.json";
  std::ofstream(notJson) << "{ this is not json";
  const fs::path noFiles = dir.Path() / "nofiles.json";
  std::ofstream(noFiles)
      << R"({"serial":"0123456789AB","pin":"1234","pinTriesLeft":3,"pinTriesMax":3})";
  for (const fs::path& path : {notJson, noFiles, dir.Path() / "missing.json"}) {
    const RunResult dump = Invoke({path.string()}, RunDump);
    EXPECT_EQ(dump.status, kExitFailed) << path;
    EXPECT_TRUE(Contains(dump.err, "not a usable card image")) << dump.err;
    EXPECT_TRUE(dump.out.empty()) << dump.out;
  }
  EXPECT_EQ(Invoke({}, RunDump).status, kExitUsage);
}

// The program itself: exit status and output streams.
int RunProgram(const std::string& arguments, const fs::path& out, const fs::path& err) {
  const std::string command =
      std::string(ORVELCARD_PATH) + " " + arguments + " >" + out.string() + " 2>" + err.string();
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(OrvelcardProgram, MakeDumpAndFailures) {
  TempDir dir;
  const fs::path image = dir.Path() / "c.json";
  const fs::path out = dir.Path() / "out";
  const fs::path err = dir.Path() / "err";
  EXPECT_EQ(RunProgram("make " + image.string() + " --serial 00112233AABB --pin 1234", out, err),
            0);
  EXPECT_EQ(RunProgram("dump " + image.string(), out, err), 0);
  EXPECT_TRUE(Contains(ReadText(out), "Serial: 00112233AABB"));

  std::ofstream(dir.Path() / "bad.json") << "[]";
  EXPECT_EQ(RunProgram("dump " + (dir.Path() / "bad.json").string(), out, err), 1);
  EXPECT_TRUE(Contains(ReadText(err), "orvelcard dump: not a usable card image"));
  EXPECT_EQ(RunProgram("frobnicate", out, err), 2);
  EXPECT_EQ(RunProgram("", out, err), 2);
  EXPECT_EQ(RunProgram("serve " + (dir.Path() / "missing.json").string(), out, err), 1);
}

}  // namespace
}  // namespace orvelcard
