#include "card_dump.h"

#include <cstdio>
#include <string>

#include "card_records.h"
#include "cardsim/pcsc_session.h"
#include "certificate_file.h"

namespace orvelcard {
namespace {

using cardsim::HexBytes;

std::string Hex16(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", value);
  return text;
}

std::string Hex8(std::uint8_t value) {
  char text[4];
  std::snprintf(text, sizeof text, "%02X", value);
  return text;
}

std::string Quoted(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", u);
      quoted += escaped;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

std::string PathNote(const std::string& text) {
  const std::vector<std::uint16_t> ids = PathIdentifiers(text);
  if (ids.empty()) return "";
  std::string note = "  (file";
  for (std::size_t i = 0; i < ids.size(); ++i) note += (i ? "/" : " ") + Hex16(ids[i]);
  return note + ")";
}

void PrintProblems(const std::vector<std::string>& problems, std::ostream& out) {
  for (const std::string& problem : problems) out << "      ! " << problem << "\n";
}

void PrintKeyRecord(const KeyRecord& key, std::ostream& out) {
  if (key.label) out << "      label: " << Quoted(*key.label) << "\n";
  if (key.objectFlags)
    out << "      object flags: " << Hex8(*key.objectFlags) << " ("
        << ObjectFlagNames(*key.objectFlags) << ")\n";
  if (key.identifier)
    out << "      identifier: " << HexBytes(*key.identifier, "") << " (" << key.identifier->size()
        << " bytes)\n";
  if (key.usage)
    out << "      usage: " << Hex16(*key.usage) << " (" << UsageNames(*key.usage) << ")\n";
  if (key.native) out << "      native: " << (*key.native ? "yes" : "no") << "\n";
  if (key.accessFlags)
    out << "      access flags: " << Hex8(*key.accessFlags) << " ("
        << AccessFlagNames(*key.accessFlags) << ")\n";
  if (key.keyReference)
    out << "      key reference: " << Hex8(*key.keyReference) << " (" << int(*key.keyReference)
        << ")\n";
  if (key.path) out << "      path: " << Quoted(*key.path) << PathNote(*key.path) << "\n";
  PrintProblems(key.problems, out);
}

void PrintCertificateRecord(const CertificateRecord& certificate, std::ostream& out) {
  if (certificate.label) out << "      label: " << Quoted(*certificate.label) << "\n";
  if (certificate.identifier)
    out << "      identifier: " << HexBytes(*certificate.identifier, "") << " ("
        << certificate.identifier->size() << " bytes)\n";
  if (certificate.path)
    out << "      path: " << Quoted(*certificate.path) << PathNote(*certificate.path) << "\n";
  PrintProblems(certificate.problems, out);
}

enum class RecordKind { Key, Certificate };

void PrintDirectory(const cardsim::VirtualCard& card, const char* title, std::uint16_t fileId,
                    RecordKind kind, std::ostream& out) {
  out << "\n" << title << " (" << Hex16(cardsim::kPkcs15Df) << "/" << Hex16(fileId) << ")";
  const std::optional<cardsim::Bytes> file = card.ReadFile({cardsim::kPkcs15Df, fileId});
  if (!file) {
    out << ": no such file\n";
    return;
  }
  const DirectoryContents contents = WalkDirectory(*file);
  out << ", " << file->size() << " bytes: " << contents.records.size()
      << (contents.records.size() == 1 ? " record\n" : " records\n");
  for (std::size_t i = 0; i < contents.records.size(); ++i) {
    const Tlv& record = contents.records[i];
    out << "  record " << i + 1 << " at offset " << Hex16(static_cast<std::uint16_t>(record.offset))
        << ", " << record.Size() << " bytes\n";
    if (kind == RecordKind::Key)
      PrintKeyRecord(DecodeKeyRecord(record), out);
    else
      PrintCertificateRecord(DecodeCertificateRecord(record), out);
  }
  out << "  end of directory at offset " << Hex16(static_cast<std::uint16_t>(contents.end)) << " ("
      << contents.stopNote << "), " << file->size() - contents.end << " bytes free\n";
}

std::size_t SignificantBits(const cardsim::Bytes& number) {
  for (std::size_t i = 0; i < number.size(); ++i) {
    if (number[i] == 0) continue;
    std::size_t bits = (number.size() - i - 1) * 8;
    for (std::uint8_t b = number[i]; b; b >>= 1) ++bits;
    return bits;
  }
  return 0;
}

void PrintKeys(const cardsim::VirtualCard& card, std::ostream& out) {
  const auto keys = card.Keys();
  out << "\nKeys: " << keys.size() << (keys.size() == 1 ? " key\n" : " keys\n");
  for (const auto& [id, key] : keys) {
    const auto [reference, role] = id;
    out << "  reference " << Hex8(reference) << " (" << int(reference) << "), "
        << (role == cardsim::KeyRole::Exchange ? "exchange (40)" : "signature (80)") << ": ";
    if (key.Complete()) {
      out << "complete, "
          << (key.Consistent() ? "consistent (p·q = n)" : "NOT consistent (p·q ≠ n)");
    } else {
      std::string missing;
      const std::pair<const char*, const cardsim::Bytes*> parts[] = {
          {"modulus", &key.modulus},         {"exponent", &key.exponent},
          {"prime1", &key.prime1},           {"prime2", &key.prime2},
          {"coefficient", &key.coefficient}, {"exponent1", &key.exponent1},
          {"exponent2", &key.exponent2}};
      for (const auto& [name, part] : parts)
        if (part->empty()) missing += std::string(missing.empty() ? "" : ", ") + name;
      out << "incomplete (missing " << missing << ")";
    }
    if (!key.modulus.empty()) out << "; modulus " << SignificantBits(key.modulus) << " bits";
    if (!key.exponent.empty() && key.exponent.size() <= 4) {
      // Carried least significant byte first.
      std::uint32_t e = 0;
      for (std::size_t i = key.exponent.size(); i-- > 0;) e = e << 8 | key.exponent[i];
      out << ", e = " << e;
    }
    out << "\n";
  }
}

void PrintCertificateFiles(const cardsim::VirtualCard& card, std::ostream& out) {
  std::vector<std::uint16_t> files;
  for (std::uint16_t id : card.ListFiles({cardsim::kCryptoDf}))
    if (id != cardsim::kPrivateKeyFile && id != cardsim::kPublicKeyFile) files.push_back(id);
  out << "\nCertificate files under " << Hex16(cardsim::kCryptoDf) << ": " << files.size() << "\n";
  for (std::uint16_t id : files) {
    out << "  " << Hex16(cardsim::kCryptoDf) << "/" << Hex16(id);
    const std::optional<cardsim::Bytes> file = card.ReadFile({cardsim::kCryptoDf, id});
    if (!file) {
      out << ": not a transparent file\n";
      continue;
    }
    out << ", " << file->size() << " bytes";
    const std::optional<CertificateFile> certificate = ReadCertificateFile(*file);
    if (!certificate) {
      out << ": too short for a certificate header\n";
      continue;
    }
    out << "; header: uncompressed " << certificate->uncompressedLength << ", compressed "
        << certificate->compressedLength << "\n";
    if (certificate->certificate)
      out << "      subject: " << certificate->subject << "\n";
    else
      out << "      ! " << certificate->problem << "\n";
  }
}

}  // namespace

void DumpCard(const cardsim::VirtualCard& card, std::ostream& out) {
  const auto serial = card.Serial();
  out << "Serial: " << HexBytes(cardsim::Bytes(serial.begin(), serial.end()), "") << "\n";
  out << "PIN tries left: " << card.PinTriesLeft() << "\n";
  out << "Chip information: " << HexBytes(card.ChipInfo()) << "\n";

  const std::optional<cardsim::Bytes> odfFile = card.ReadFile({cardsim::kPkcs15Df, cardsim::kOdf});
  std::vector<OdfEntry> odf;
  out << "\nODF (" << Hex16(cardsim::kPkcs15Df) << "/" << Hex16(cardsim::kOdf) << ")";
  if (!odfFile) {
    out << ": no such file; the default directory files are assumed\n";
  } else {
    odf = ParseOdf(*odfFile);
    out << ": " << odf.size() << (odf.size() == 1 ? " entry\n" : " entries\n");
    for (const OdfEntry& entry : odf) {
      out << "  " << Hex8(entry.tag) << " " << OdfTagName(entry.tag);
      if (entry.fileId)
        out << " -> " << Hex16(*entry.fileId) << "\n";
      else
        out << ": " << HexBytes(entry.raw) << "\n";
    }
  }

  PrintDirectory(card, "Private keys, PrKDF", DirectoryFile(odf, 0xA0), RecordKind::Key, out);
  PrintDirectory(card, "Public keys, PuKDF", DirectoryFile(odf, 0xA1), RecordKind::Key, out);
  PrintDirectory(card, "Certificates, CDF", DirectoryFile(odf, 0xA4), RecordKind::Certificate, out);
  PrintKeys(card, out);
  PrintCertificateFiles(card, out);
}

}  // namespace orvelcard
