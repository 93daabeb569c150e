#include "card_certificates.h"

#include <cstdio>
#include <stdexcept>
#include <string>

#include "orvel_test/certificate_files.h"
#include "support/card_records.h"
#include "test_pki.h"

namespace storeprov_test {
namespace {

using card_test::kApplicationDf, card_test::kCryptoDf;

void WriteDirectory(cardsim::VirtualCard& card, std::uint16_t fid, const Bytes& records) {
  const auto current = card.ReadFile({kApplicationDf, fid});
  if (!current ||
      !card.WriteFile({kApplicationDf, fid}, card_test::DirectoryFile(records, current->size()))) {
    throw std::runtime_error("directory file does not take the records");
  }
}

}  // namespace

Bytes TestCertificate(int n) {
  testpki::CertSpec spec(testpki::Key(1024, n % 2));
  spec.serial = 1000 + n;
  spec.commonName = "Tarjeta " + std::to_string(n);
  spec.keyUsage = 0xA0;
  return testpki::Der(testpki::MakeCert(spec).get());
}

std::string SerialText(std::uint8_t serial) {
  char text[16];
  std::snprintf(text, sizeof text, "0A0B0C0D0E%02X", serial);
  return text;
}

std::shared_ptr<cardsim::VirtualCard> CardWithCertificates(
    std::uint8_t serial, const std::vector<CardCertificate>& certificates) {
  cardsim::CardSpec spec;
  spec.serial = {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, serial};
  spec.cdfSize = 2048;
  spec.prkdfSize = 2048;
  auto card = cardsim::VirtualCard::MakeFresh(spec);
  Bytes cdf;
  Bytes prkdf;
  for (std::size_t i = 0; i < certificates.size(); ++i) {
    const CardCertificate& c = certificates[i];
    const auto id = card_test::MakeKeyId(static_cast<std::uint8_t>(0x10 + 8 * i));
    const std::uint16_t fid = static_cast<std::uint16_t>(0x0101 + i);
    const Bytes file = orvel_test::CertificateFile(c.der);
    if (!card->CreateFile({kCryptoDf}, fid, file.size()) ||
        !card->WriteFile({kCryptoDf, fid}, file)) {
      throw std::runtime_error("certificate file");
    }
    char path[16];
    std::snprintf(path, sizeof path, "\\3F11\\%04X", fid);
    cdf = card_test::Join({cdf, card_test::CertificateRecord(card_test::IdElement(id), path)});
    if (c.keyReference) {
      Bytes record = card_test::PrivateKeyRecord(*c.keyReference, id);
      record[37] = static_cast<std::uint8_t>(c.keyUsage >> 8);
      record[38] = static_cast<std::uint8_t>(c.keyUsage);
      prkdf = card_test::Join({prkdf, record});
    }
  }
  WriteDirectory(*card, 0x6004, cdf);
  WriteDirectory(*card, 0x6001, prkdf);
  return card;
}

std::vector<CardCertificate> KeyedCertificates(int count, int firstCertificate) {
  std::vector<CardCertificate> certificates;
  for (int i = 0; i < count; ++i) {
    certificates.push_back(
        {TestCertificate(firstCertificate + i), static_cast<std::uint8_t>(32 + i), 0x6400});
  }
  return certificates;
}

}  // namespace storeprov_test
