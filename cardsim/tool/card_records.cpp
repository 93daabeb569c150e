#include "card_records.h"

#include <charconv>
#include <cstdio>

namespace orvelcard {
namespace {

std::string Text(ByteView bytes) {
  std::string text;
  for (std::uint8_t b : bytes) {
    if (b == 0) break;
    text += static_cast<char>(b);
  }
  return text;
}

// First flag byte of a BIT STRING (its first content byte counts unused bits).
std::optional<std::uint8_t> FirstFlagByte(const Tlv& bits) {
  if (bits.content.size() < 2) return std::nullopt;
  return bits.content[1];
}

std::string Names(std::uint32_t bits,
                  std::initializer_list<std::pair<std::uint32_t, const char*>> names) {
  std::string text;
  for (const auto& [bit, name] : names) {
    if (!(bits & bit)) continue;
    if (!text.empty()) text += ", ";
    text += name;
  }
  return text.empty() ? "none" : text;
}

// The common object attributes: a label (UTF8String or T61String) and flags.
void DecodeCommonObject(const Tlv& element, std::optional<std::string>& label,
                        std::optional<std::uint8_t>* flags) {
  for (const Tlv& child : ReadChildren(element.content)) {
    if ((child.tag == 0x0C || child.tag == 0x14) && !label) label = Text(child.content);
    if (child.tag == 0x03 && flags && !*flags) *flags = FirstFlagByte(child);
  }
}

// The elements of a record and its common object attributes, the first of
// them (their label, and their flags when asked for); *next is the index of
// the element after them.
std::vector<Tlv> RecordParts(const Tlv& record, std::optional<std::string>& label,
                             std::optional<std::uint8_t>* flags, std::vector<std::string>& problems,
                             std::size_t* next) {
  bool complete = true;
  std::vector<Tlv> parts = ReadChildren(record.content, &complete);
  if (!complete) problems.push_back("the record's contents do not parse");
  *next = 0;
  if (!parts.empty() && parts[0].tag == 0x30) {
    DecodeCommonObject(parts[0], label, flags);
    *next = 1;
  } else {
    problems.push_back("no common object attributes");
  }
  return parts;
}

// Type attributes A1 { 30 { 04 path text, ... } }.
std::optional<std::string> DecodePath(const Tlv& typeAttributes,
                                      std::vector<std::string>& problems) {
  const std::vector<Tlv> inside = ReadChildren(typeAttributes.content);
  if (inside.empty() || inside[0].tag != 0x30) {
    problems.push_back("type attributes hold no path");
    return std::nullopt;
  }
  const std::vector<Tlv> path = ReadChildren(inside[0].content);
  if (path.empty() || path[0].tag != 0x04) {
    problems.push_back("path without path text");
    return std::nullopt;
  }
  return Text(path[0].content);
}

}  // namespace

std::vector<OdfEntry> ParseOdf(ByteView odf) {
  std::vector<OdfEntry> entries;
  std::size_t offset = 0;
  while (offset < odf.size() && odf[offset] != 0xFF && odf[offset] != 0x00) {
    const std::optional<Tlv> entry = ReadTlv(odf, offset);
    if (!entry) break;
    OdfEntry parsed;
    parsed.tag = entry->tag;
    parsed.raw.assign(odf.begin() + static_cast<std::ptrdiff_t>(offset),
                      odf.begin() + static_cast<std::ptrdiff_t>(offset + entry->Size()));
    // tag len 30 len 04 02 hi lo
    const std::vector<Tlv> path = ReadChildren(entry->content);
    if (!path.empty() && path[0].tag == 0x30) {
      const std::vector<Tlv> inner = ReadChildren(path[0].content);
      if (!inner.empty() && inner[0].tag == 0x04 && inner[0].content.size() == 2)
        parsed.fileId = static_cast<std::uint16_t>(inner[0].content[0] << 8 | inner[0].content[1]);
    }
    entries.push_back(std::move(parsed));
    offset += entry->Size();
  }
  return entries;
}

std::uint16_t DirectoryFile(const std::vector<OdfEntry>& odf, std::uint8_t tag) {
  for (const OdfEntry& entry : odf)
    if (entry.tag == tag && entry.fileId) return *entry.fileId;
  switch (tag) {
    case 0xA0:
      return 0x6001;
    case 0xA1:
    case 0xA2:
      return 0x6002;
    case 0xA4:
    case 0xA5:
    case 0xA6:
      return 0x6004;
    case 0xA7:
      return 0x6005;
    case 0xA8:
      return 0x6000;
    default:
      return 0xFFFF;
  }
}

std::string OdfTagName(std::uint8_t tag) {
  switch (tag) {
    case 0xA0:
      return "private keys (PrKDF)";
    case 0xA1:
      return "public keys (PuKDF)";
    case 0xA2:
      return "trusted public keys";
    case 0xA3:
      return "secret keys";
    case 0xA4:
      return "certificates (CDF)";
    case 0xA5:
      return "trusted certificates";
    case 0xA6:
      return "useful certificates";
    case 0xA7:
      return "data objects (DODF)";
    case 0xA8:
      return "authentication objects (AODF)";
    default:
      return "unknown";
  }
}

DirectoryContents WalkDirectory(ByteView file) {
  DirectoryContents contents;
  std::size_t offset = 0;
  char note[96];
  for (;;) {
    if (offset >= file.size()) {
      contents.stopNote = "end of file";
      break;
    }
    if (file[offset] != 0x30) {
      std::snprintf(note, sizeof note, "byte %02X", file[offset]);
      contents.stopNote = note;
      break;
    }
    const std::optional<Tlv> record = ReadTlv(file, offset);
    if (!record) {
      contents.stopNote = "a record that runs past the end of the file";
      break;
    }
    contents.records.push_back(*record);
    offset += record->Size();
  }
  contents.end = offset;
  return contents;
}

KeyRecord DecodeKeyRecord(const Tlv& record) {
  KeyRecord key;
  std::size_t i = 0;
  const std::vector<Tlv> parts = RecordParts(record, key.label, &key.objectFlags, key.problems, &i);
  if (i < parts.size() && parts[i].tag == 0x30) {
    for (const Tlv& element : ReadChildren(parts[i].content)) {
      switch (element.tag) {
        case 0x04:
          if (!key.identifier)
            key.identifier = Bytes(element.content.begin(), element.content.end());
          break;
        case 0x03:
          // The first BIT STRING is the usage, the second the access flags.
          if (!key.usage) {
            const ByteView c = element.content;
            key.usage = static_cast<std::uint16_t>((c.size() > 1 ? c[1] << 8 : 0) |
                                                   (c.size() > 2 ? c[2] : 0));
          } else if (!key.accessFlags) {
            key.accessFlags = FirstFlagByte(element).value_or(0);
          }
          break;
        case 0x01:
          if (!element.content.empty()) key.native = element.content[0] != 0;
          break;
        case 0x02:
          if (!key.keyReference && element.content.size() == 1)
            key.keyReference = element.content[0];
          break;
        default:
          break;
      }
    }
    ++i;
  } else {
    key.problems.push_back("no common key attributes");
  }
  for (; i < parts.size(); ++i)
    if (parts[i].tag == 0xA1) key.path = DecodePath(parts[i], key.problems);
  if (!key.identifier) key.problems.push_back("no identifier");
  if (!key.keyReference) key.problems.push_back("no key reference");
  if (!key.path) key.problems.push_back("no key file path");
  return key;
}

CertificateRecord DecodeCertificateRecord(const Tlv& record) {
  CertificateRecord certificate;
  std::size_t i = 0;
  const std::vector<Tlv> parts =
      RecordParts(record, certificate.label, nullptr, certificate.problems, &i);
  if (i < parts.size() && parts[i].tag == 0x30) {
    const std::vector<Tlv> attributes = ReadChildren(parts[i].content);
    if (!attributes.empty() && attributes[0].tag == 0x04)
      certificate.identifier = Bytes(attributes[0].content.begin(), attributes[0].content.end());
    else
      certificate.problems.push_back("no identifier");
    ++i;
  } else {
    certificate.problems.push_back("no common certificate attributes");
  }
  if (i < parts.size() && parts[i].tag == 0xA1)
    certificate.path = DecodePath(parts[i], certificate.problems);
  else
    certificate.problems.push_back("no type attributes");
  return certificate;
}

std::vector<std::uint16_t> PathIdentifiers(const std::string& text) {
  std::vector<std::uint16_t> ids;
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (text[pos] != '\\') return {};
    if (pos + 1 == text.size()) break;  // a closing backslash
    if (pos + 5 > text.size()) return {};
    std::uint16_t id = 0;
    const char* const digits = text.data() + pos + 1;
    const auto [end, error] = std::from_chars(digits, digits + 4, id, 16);
    if (error != std::errc() || end != digits + 4) return {};
    ids.push_back(id);
    pos += 5;
  }
  return ids;
}

std::string ObjectFlagNames(std::uint8_t flags) {
  return Names(flags, {{0x80, "private"}, {0x40, "modifiable"}});
}

std::string AccessFlagNames(std::uint8_t flags) {
  return Names(flags, {{0x80, "sensitive"},
                       {0x40, "extractable"},
                       {0x20, "always sensitive"},
                       {0x10, "never extractable"},
                       {0x08, "local"}});
}

std::string UsageNames(std::uint16_t usage) {
  return Names(usage, {{0x8000, "encrypt"},
                       {0x4000, "decrypt"},
                       {0x2000, "sign"},
                       {0x1000, "sign with recovery"},
                       {0x0800, "wrap"},
                       {0x0400, "unwrap"},
                       {0x0200, "verify"},
                       {0x0100, "verify with recovery"},
                       {0x0080, "derive"},
                       {0x0040, "non-repudiation"}});
}

}  // namespace orvelcard
