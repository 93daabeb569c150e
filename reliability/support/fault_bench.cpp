#include "fault_bench.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/sha.h>

#include <algorithm>
#include <array>
#include <sstream>

#include "card/card_scope_guards.h"
#include "card/card_types.h"
#include "card/crypto_card.h"
#include "cardsim/fake_pcsc.h"
#include "orvel_test/certificate_files.h"
#include "orvel_test/registration.h"
#include "platform/card_database.h"
#include "platform/handle_guards.h"
#include "platform/provider_registry.h"
#include "platform/wincrypt.h"
#include "support/card_records.h"
#include "test_pki.h"

namespace reliability {
namespace {

constexpr std::size_t kKeyRecordSize = 85;
constexpr std::size_t kKeyReferenceOffset = 48;

struct Material {
  Bytes pfx;
  Bytes certificate;
  Bytes modulus;
  Bytes identifier;
};

const Material& TheMaterial() {
  static const Material material = [] {
    Material m;
    EVP_PKEY* key = testpki::Key(1024, 7);
    testpki::CertSpec spec(key);
    spec.keyUsage = 0xA0;  // both roles
    spec.serial = 7001;
    spec.commonName = "Titular de prueba";
    const testpki::X509Ptr x509 = testpki::MakeCert(spec);
    m.certificate = testpki::Der(x509.get());
    testpki::PfxSpec pfxSpec(key, x509.get());
    pfxSpec.password = kPfxPassword;
    m.pfx = testpki::MakePfx(pfxSpec);
    BIGNUM* n = nullptr;
    EVP_PKEY_get_bn_param(key, "n", &n);
    m.modulus.resize(128);
    BN_bn2binpad(n, m.modulus.data(), static_cast<int>(m.modulus.size()));
    BN_free(n);
    m.identifier.resize(SHA_DIGEST_LENGTH);
    SHA1(m.modulus.data(), m.modulus.size(), m.identifier.data());
    return m;
  }();
  return material;
}

card_test::KeyId BenchKeyId() {
  card_test::KeyId id{};
  std::copy_n(TheMaterial().identifier.begin(), id.size(), id.begin());
  return id;
}

// The references of the key records of a directory file, each record checked
// byte for byte against the record this system writes for that reference.
std::vector<std::uint8_t> KeyRecords(const Bytes& file, bool publicRecords,
                                     std::vector<std::string>& problems) {
  std::vector<std::uint8_t> references;
  std::size_t at = 0;
  while (at < file.size() && file[at] == 0x30) {
    if (at + kKeyRecordSize > file.size()) {
      problems.push_back("record cut by the end of the file");
      break;
    }
    const Bytes record(file.begin() + static_cast<std::ptrdiff_t>(at),
                       file.begin() + static_cast<std::ptrdiff_t>(at + kKeyRecordSize));
    const std::uint8_t reference = record[kKeyReferenceOffset];
    const Bytes expected = publicRecords
                               ? card_test::PublicKeyRecord(reference, BenchKeyId(), kRoleWord)
                               : card_test::PrivateKeyRecord(reference, BenchKeyId());
    if (record != expected) {
      problems.push_back(std::string(publicRecords ? "public" : "private") +
                         "-key record at offset " + std::to_string(at) + " is not as written");
    }
    references.push_back(reference);
    at += kKeyRecordSize;
  }
  return references;
}

bool HoldsTheKeyInBothRoles(const cardsim::VirtualCard& card, std::uint8_t reference) {
  for (cardsim::KeyRole role : {cardsim::KeyRole::Exchange, cardsim::KeyRole::Signature}) {
    const auto key = card.Key(reference, role);
    if (!key || !key->Consistent() || key->modulus != TheMaterial().modulus) return false;
  }
  return true;
}

using orvel_test::ReadCardCertificates;
using orvel_test::ReadEntry;

// What each fault is called and how the fake library injects it, in the
// order of CardFault.
struct FaultInjection {
  const char* name;
  void (*inject)(std::size_t command);
};
constexpr FaultInjection kFaultInjections[] = {
    {"transport", [](std::size_t n) { fakepcsc::FailTransmitAt(n, SCARD_E_NOT_TRANSACTED); }},
    {"removed", fakepcsc::RemoveCardAt},
    {"reset", fakepcsc::ResetCardAt},
    {"sw6A80", [](std::size_t n) { fakepcsc::AnswerStatusAt(n, 0x6A80); }},
};
static_assert(std::size(kFaultInjections) == std::size(kAllFaults));

const FaultInjection& InjectionOf(CardFault fault) {
  return kFaultInjections[static_cast<std::size_t>(fault)];
}

}  // namespace

const char* FaultName(CardFault fault) { return InjectionOf(fault).name; }

void InjectFault(std::size_t command, CardFault fault) { InjectionOf(fault).inject(command); }

CFaultBench::CFaultBench() {
  EXPECT_TRUE(orvel_test::RegisterCardProvider());
  EXPECT_TRUE(orvel_test::RegisterCardType());
  m_card = orvel_test::InsertImportCard();
  TheMaterial();
}

CFaultBench::~CFaultBench() { fakepcsc::Reset(); }

const Bytes& CFaultBench::Pfx() { return TheMaterial().pfx; }

void CFaultBench::ReinsertCardIfRemoved() {
  using orvel_test::kImportReader;
  if (fakepcsc::CardIn(kImportReader) == nullptr) fakepcsc::InsertCard(kImportReader, m_card);
}

CardContents InspectCard(const cardsim::VirtualCard& card) {
  CardContents contents;
  contents.keyParts = card.Keys().size();
  // The directory files at their default identifiers, as a fresh card has them.
  const auto directory = [&card](std::size_t which) {
    return card.ReadFile({cardsim::kPkcs15Df, kDefaultDirectoryFiles[which]}).value_or(Bytes{});
  };
  contents.privateRecords =
      KeyRecords(directory(kPrivateKeyDirectory), false, contents.recordProblems);
  contents.publicRecords =
      KeyRecords(directory(kPublicKeyDirectory), true, contents.recordProblems);
  const Bytes cdf = directory(kCertificateDirectory);
  contents.cdfEmpty = cdf.empty() || cdf[0] != 0x30;
  for (std::uint16_t fid : card.ListFiles({cardsim::kCryptoDf})) {
    if (fid != cardsim::kPrivateKeyFile && fid != cardsim::kPublicKeyFile) {
      contents.certificateFiles.push_back(fid);
    }
  }
  return contents;
}

const char* LeftStateName(LeftState state) {
  switch (state) {
    case LeftState::NothingNew:
      return "nothing new";
    case LeftState::KeyWithoutCertificate:
      return "key and records without certificate";
    case LeftState::Installed:
      return "installed";
    case LeftState::Unreachable:
      return "key that no private-key record names";
    case LeftState::Broken:
      return "broken";
  }
  return "?";
}

LeftState ClassifyCard(const cardsim::VirtualCard& card, std::string* why) {
  const CardContents contents = InspectCard(card);
  std::ostringstream out;
  out << contents.keyParts << " key parts, PrKDF records " << contents.privateRecords.size()
      << ", PuKDF records " << contents.publicRecords.size() << ", CDF "
      << (contents.cdfEmpty ? "empty" : "not empty");
  for (const std::string& problem : contents.recordProblems) out << "; " << problem;
  *why = out.str();
  if (!contents.recordProblems.empty()) return LeftState::Broken;

  if (contents.keyParts == 0 && contents.privateRecords.empty() && contents.publicRecords.empty() &&
      contents.cdfEmpty) {
    return LeftState::NothingNew;
  }
  const std::vector<std::uint8_t> one = {kFirstReference};
  if (contents.privateRecords.empty() && contents.cdfEmpty &&
      (contents.publicRecords.empty() || contents.publicRecords == one)) {
    const auto keys = card.Keys();
    if (std::all_of(keys.begin(), keys.end(),
                    [](const auto& key) { return key.first.first == kFirstReference; })) {
      return LeftState::Unreachable;
    }
  }
  if (contents.keyParts != 2 || !HoldsTheKeyInBothRoles(card, kFirstReference) ||
      contents.privateRecords != one || contents.publicRecords != one) {
    return LeftState::Broken;
  }
  if (contents.cdfEmpty) return LeftState::KeyWithoutCertificate;
  const std::vector<ReadEntry> entries = ReadCardCertificates();
  if (entries.size() == 1 && entries[0].certificate == TheMaterial().certificate) {
    return LeftState::Installed;
  }
  *why += "; a certificate record whose certificate cannot be read";
  return LeftState::Broken;
}

void ExpectCertificateInstalled(const cardsim::VirtualCard& card, bool unreachableLeftover) {
  const CardContents contents = InspectCard(card);
  EXPECT_TRUE(contents.recordProblems.empty()) << contents.recordProblems.front();
  const auto named = [&](std::uint8_t reference) {
    return std::find(contents.privateRecords.begin(), contents.privateRecords.end(), reference) !=
           contents.privateRecords.end();
  };
  // Every key a private-key record names is there, with its public record.
  for (std::uint8_t reference : contents.privateRecords) {
    EXPECT_TRUE(HoldsTheKeyInBothRoles(card, reference)) << "PrKDF names " << int(reference);
    EXPECT_NE(std::find(contents.publicRecords.begin(), contents.publicRecords.end(), reference),
              contents.publicRecords.end())
        << "no public-key record for " << int(reference);
  }
  for (std::uint8_t reference : contents.publicRecords) {
    EXPECT_TRUE(named(reference) || unreachableLeftover) << "PuKDF alone names " << int(reference);
  }
  for (const auto& [where, key] : card.Keys()) {
    EXPECT_TRUE(named(where.first) || unreachableLeftover) << "key " << int(where.first);
  }

  const std::vector<ReadEntry> entries = ReadCardCertificates();
  ASSERT_FALSE(entries.empty()) << "no certificate record";
  const ReadEntry& entry = entries.back();
  EXPECT_EQ(entry.certificate, TheMaterial().certificate);
  ASSERT_EQ(entry.containerName.size(), 29u) << entry.containerName;
  EXPECT_EQ(entry.containerName.substr(0, 16), "0A0B0C0D0E0F6400");
  EXPECT_EQ(entry.usage, kRoleWord);
  const auto reference =
      static_cast<std::uint8_t>(std::stoul(entry.containerName.substr(16, 2), nullptr, 16));
  EXPECT_TRUE(HoldsTheKeyInBothRoles(card, reference)) << entry.containerName;

  // The container the store would name opens with the card's provider, with
  // the key in both roles.
  CProviderContext provider;
  ASSERT_TRUE(CryptAcquireContextA(provider.Receive(), entry.containerName.c_str(), "OrvelCSP",
                                   PROV_RSA_FULL, 0))
      << entry.containerName;
  for (DWORD keySpec : {DWORD{AT_KEYEXCHANGE}, DWORD{AT_SIGNATURE}}) {
    CKeyHandle key;
    EXPECT_TRUE(CryptGetUserKey(provider.Get(), keySpec, key.Receive()))
        << entry.containerName << " " << keySpec;
  }
}

}  // namespace reliability
