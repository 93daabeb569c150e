// The PKCS#15 structures of a card image, decoded for people to read: the
// object directory (ODF) and the records of the key and certificate
// directories.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cardsim/virtual_card.h"
#include "der.h"

namespace orvelcard {

using cardsim::Bytes;

struct OdfEntry {
  std::uint8_t tag = 0;
  std::optional<std::uint16_t> fileId;  // when the entry holds a path to a file
  Bytes raw;                            // the whole entry
};

// The ODF's entries up to the first FF or 00 byte, or the first entry that
// does not fit.
std::vector<OdfEntry> ParseOdf(ByteView odf);

// The directory file the ODF names under `tag` (A0 PrKDF, A1 PuKDF, A4 CDF),
// or the card's default identifier when the ODF does not name it.
std::uint16_t DirectoryFile(const std::vector<OdfEntry>& odf, std::uint8_t tag);

// What the ODF tags stand for ("private keys (PrKDF)", ...).
std::string OdfTagName(std::uint8_t tag);

// Records of a directory file: elements tagged 30 one after another; the
// first other byte ends the directory.
struct DirectoryContents {
  std::vector<Tlv> records;
  std::size_t end = 0;   // offset where the walk stopped
  std::string stopNote;  // why it stopped there, for the reader
};
DirectoryContents WalkDirectory(ByteView file);

struct KeyRecord {
  std::optional<std::string> label;
  std::optional<std::uint8_t> objectFlags;  // first flag byte
  std::optional<Bytes> identifier;
  std::optional<std::uint16_t> usage;  // the two usage bytes, high byte first
  std::optional<bool> native;
  std::optional<std::uint8_t> accessFlags;  // first flag byte
  std::optional<std::uint8_t> keyReference;
  std::optional<std::string> path;    // path text, up to a NUL byte
  std::vector<std::string> problems;  // what did not have the expected shape
};
KeyRecord DecodeKeyRecord(const Tlv& record);

struct CertificateRecord {
  std::optional<std::string> label;
  std::optional<Bytes> identifier;
  std::optional<std::string> path;
  std::vector<std::string> problems;
};
CertificateRecord DecodeCertificateRecord(const Tlv& record);

// The file identifiers of a path text such as "\3F11\3F77\": four
// hexadecimal digits after each backslash. Empty when the text is not such a path.
std::vector<std::uint16_t> PathIdentifiers(const std::string& text);

// Names of the bits set in PKCS#15 flag bytes, e.g. "sensitive, local".
std::string ObjectFlagNames(std::uint8_t flags);
std::string AccessFlagNames(std::uint8_t flags);
std::string UsageNames(std::uint16_t usage);

}  // namespace orvelcard
