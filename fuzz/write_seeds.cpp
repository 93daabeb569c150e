// Writes the seed inputs of the fuzz targets: cards as the tests build them
// (keys and certificates written as the installation and the card's
// provider write them), with and without transport faults, and PFX files as
// the platform's tests make them. Usage: orvel_fuzz_write_seeds <corpus dir>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "card_harness.h"
#include "support/card_certificates.h"
#include "support/card_records.h"
#include "test_pki.h"

namespace {

using orvel_fuzz::Bytes;
using orvel_fuzz::CardFile;
using orvel_fuzz::CardInput;
using orvel_fuzz::FaultKind;
using orvel_fuzz::FilePlace;

std::filesystem::path g_root;
int g_written = 0;

void Write(const std::string& target, const std::string& name, const Bytes& bytes) {
  const std::filesystem::path dir = g_root / target;
  std::filesystem::create_directories(dir);
  std::ofstream out(dir / ("seed-" + name), std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  ++g_written;
}

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The card's files with the zeros after the last record cut short: the
// files keep room, the seeds stay small.
std::vector<CardFile> Trimmed(std::vector<CardFile> files) {
  for (CardFile& file : files) {
    std::size_t used = file.content.size();
    while (used > 0 && file.content[used - 1] == 0) --used;
    file.content.resize(std::min(file.content.size(), used + 16));
  }
  return files;
}

std::vector<CardFile> CardWith(int keyed, bool unkeyed) {
  auto certificates = storeprov_test::KeyedCertificates(keyed);
  if (unkeyed) certificates.push_back({storeprov_test::TestCertificate(7), std::nullopt});
  return Trimmed(
      orvel_fuzz::FilesOfCard(*storeprov_test::CardWithCertificates(0x5A, certificates)));
}

// Directories written record by record, as in the directory tests.
std::vector<CardFile> DirectoriesOnly() {
  const auto id = card_test::MakeKeyId(0x40);
  const auto other = card_test::MakeKeyId(0x80);
  return {
      {FilePlace::Application, 0x5031, {0xA0, 0x06, 0x30, 0x04, 0x04, 0x02, 0x60, 0x01, 0xA1,
                                        0x06, 0x30, 0x04, 0x04, 0x02, 0x60, 0x02, 0xA4, 0x06,
                                        0x30, 0x04, 0x04, 0x02, 0x60, 0x04, 0xFF}},
      {FilePlace::Application, 0x6001,
       card_test::DirectoryFile(card_test::Join({card_test::PrivateKeyRecord(33, id),
                                                 card_test::PrivateKeyRecord(40, other)}),
                                200)},
      {FilePlace::Application, 0x6002,
       card_test::DirectoryFile(card_test::PublicKeyRecord(33, id), 120)},
      {FilePlace::Application, 0x6004,
       card_test::DirectoryFile(
           card_test::CertificateRecord(card_test::IdElement(id), "\\3F11\\0101"), 80)},
  };
}

std::vector<CardInput> CardInputs() {
  std::vector<CardInput> inputs;
  const std::vector<std::vector<CardFile>> cards = {CardWith(2, true), DirectoriesOnly(),
                                                    CardWith(1, false)};
  for (const auto& files : cards) inputs.push_back({{}, files});
  // The same cards with one fault of each kind, early and later.
  const auto& card = cards[0];
  for (std::uint8_t kind = 1; kind < static_cast<std::uint8_t>(FaultKind::Count); ++kind) {
    for (const std::uint16_t at : {std::uint16_t{2}, std::uint16_t{9}}) {
      orvel_fuzz::TransportFault fault;
      fault.command = at;
      fault.kind = static_cast<FaultKind>(kind);
      fault.statusWord = 0x6A82;
      fault.answer = {0x61, 0x10};
      inputs.push_back({{fault}, card});
    }
  }
  // An ODF naming other directories, and one that names none.
  auto moved = cards[1];
  moved[0].content = {0xA4, 0x06, 0x30, 0x04, 0x04, 0x02, 0x70, 0x04, 0xFF};
  moved.push_back({FilePlace::Application, 0x7004, moved[3].content});
  inputs.push_back({{}, moved});
  auto none = cards[1];
  none[0].content = {0xFF};
  inputs.push_back({{}, none});
  return inputs;
}

void CardSeeds() {
  const auto inputs = CardInputs();
  const auto id = card_test::IdElement(card_test::MakeKeyId(0x40));
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const Bytes card = orvel_fuzz::EncodeCardInput(inputs[i]);
    const std::string n = std::to_string(i);
    Write("fuzz_object_directory", n, card);
    Write("fuzz_whole_card", n, card);
    Write("fuzz_certificate_entry", n, Cat({0x00, 0x08, 127}, card));  // 2048, 128-byte name
    Bytes keyParams = {static_cast<std::uint8_t>(i % 4), 0x22, 0x00, 0x64,
                       static_cast<std::uint8_t>(id.size())};
    keyParams.insert(keyParams.end(), id.begin(), id.end());
    Write("fuzz_key_directory", n, Cat(keyParams, card));
  }
}

void DerSeeds() {
  const auto id = card_test::MakeKeyId(0x10);
  const Bytes privateRecord = card_test::PrivateKeyRecord(33, id);
  const Bytes publicRecord = card_test::PublicKeyRecord(34, id, 0x2000);
  const Bytes certRecord = card_test::CertificateRecord(card_test::IdElement(id), "\\3F11\\0101");
  const auto content = [](const Bytes& record) {
    const std::size_t header = (record[1] & 0x80) != 0 ? 2 + (record[1] & 0x7F) : 2;
    return Bytes(record.begin() + static_cast<long>(header), record.end());
  };
  int n = 0;
  for (std::uint8_t selector : {0, 1}) {
    for (const Bytes& r : {privateRecord, publicRecord, certRecord}) {
      Write("fuzz_der", std::to_string(n++), Cat({selector}, r));
    }
  }
  Write("fuzz_der", std::to_string(n++), Cat({2}, content(privateRecord)));
  Write("fuzz_der", std::to_string(n++), Cat({2}, content(publicRecord)));
  for (const char* path : {"\\3F11\\0101", "\\3F11\\3F77\\", "\\3F00\\3F11\\5015\\4401"}) {
    const std::string text(path);
    Write("fuzz_der", std::to_string(n++), Cat({3}, Bytes(text.begin(), text.end())));
  }
}

void PfxSeeds() {
  const auto password = std::string("secreto");
  const Bytes passwordField =
      Cat({static_cast<std::uint8_t>(password.size())}, Bytes(password.begin(), password.end()));
  auto key = testpki::Key(1024, 0);
  testpki::CertSpec spec(key);
  spec.keyUsage = 0xA0;
  auto certificate = testpki::MakeCert(spec);
  testpki::CertSpec rootSpec(testpki::Key(1024, 1));
  rootSpec.ca = true;
  rootSpec.keyUsage = 0x06;
  auto root = testpki::MakeCert(rootSpec);

  struct Variant {
    const char* name;
    testpki::PfxSpec spec;
  };
  std::vector<Variant> variants = {
      {"legacy", testpki::PfxSpec(key, certificate.get(), {root.get()})},
      {"aes", testpki::PfxSpec(key, certificate.get())},
      {"nomac", testpki::PfxSpec(key, certificate.get())},
      {"certs", testpki::PfxSpec(nullptr, certificate.get(), {root.get()})},
      {"default-iterations", testpki::PfxSpec(key, certificate.get())},
  };
  variants[1].spec.protection = testpki::Protection::kAes256;
  variants[2].spec.macIterations = -1;
  for (std::size_t i = 0; i + 1 < variants.size(); ++i) {
    variants[i].spec.iterations = 1;
    if (variants[i].spec.macIterations > 0) variants[i].spec.macIterations = 1;
  }
  for (auto& v : variants) {
    const Bytes pfx = testpki::MakePfx(v.spec);
    Write("fuzz_pfx", std::string(v.name) + "-direct", Cat(Cat({0x00}, passwordField), pfx));
    Write("fuzz_pfx", std::string(v.name) + "-driver", Cat(Cat({0x02}, passwordField), pfx));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus directory>\n", argv[0]);
    return 2;
  }
  g_root = argv[1];
  orvel_fuzz::PrepareProcess();
  CardSeeds();
  DerSeeds();
  PfxSeeds();
  std::printf("%d seeds written under %s\n", g_written, g_root.c_str());
  return 0;
}
