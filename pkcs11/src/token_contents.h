// What the module reads from an Orvel card: its key records, certificates and
// PIN counter, decoded from the PKCS#15 directory files and the certificate
// files. The decoding works on bytes in memory (every length checked against
// what holds it); ReadTokenContents fetches them with the card library, each
// directory file once, in chunks of at most 128 bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "card/crypto_card.h"

namespace orvel_p11 {

using Bytes = std::vector<BYTE>;

// Role bits of the usage word of a public-key record.
inline constexpr WORD kRoleExchange = 0x4000;
inline constexpr WORD kRoleSignature = 0x2000;

// Bounds on card data: a directory file is read no further than the card
// library addresses files, a certificate no larger than the system's readers
// take.
inline constexpr std::size_t kMaxDirectoryBytes = CCryptoCard::kOffsetLimit;
inline constexpr std::size_t kMaxCertificateBytes = 2048;
inline constexpr std::size_t kCertificateFileHeaderBytes = 8;

struct KeyRecordFields {
  Bytes id;  // content of the identifier element
  WORD usage = 0;
  BYTE keyReference = 0;
};

struct CertificateRecordFields {
  Bytes id;
  std::vector<WORD> path;  // from the master file down
};

// One private key of the card, with the roles its public-key record gives.
struct CardKey {
  Bytes id;
  BYTE keyReference = 0;
  WORD roles = 0;  // 0 when the key has no public-key record
};

struct CardCertificate {
  Bytes id;
  Bytes der;
};

// The retry counter as VERIFY without data reports it.
struct PinState {
  bool known = false;
  bool locked = false;  // 6983
  int triesLeft = -1;   // x of 63Cx; -1 when the answer did not say
};

struct TokenContents {
  std::vector<CardKey> keys;
  std::vector<CardCertificate> certificates;
};

// The records of a directory file: elements tagged 30 one after another up to
// the first other byte. *complete (when given) tells whether the end marker
// was seen within data (false: a record runs past its end, or none follows).
std::vector<std::span<const BYTE>> DirectoryRecords(std::span<const BYTE> data,
                                                    bool* complete = nullptr);
// A record of the PrKDF or PuKDF (with its header); nullopt when it does not
// have the shape of the card's key records.
std::optional<KeyRecordFields> DecodeKeyRecord(std::span<const BYTE> record);
std::optional<CertificateRecordFields> DecodeCertificateRecord(std::span<const BYTE> record);
// The DER certificate of a certificate file (8-byte header, zlib stream);
// nullopt when the header is inconsistent, the certificate larger than
// kMaxCertificateBytes or the stream does not expand to exactly the stated
// length. The file may hold more bytes than the header names.
std::optional<Bytes> ExpandCertificateFile(std::span<const BYTE> file);
// How many bytes of a certificate file to read, from its first bytes;
// nullopt when its header is not usable.
std::optional<std::size_t> CertificateFileLength(std::span<const BYTE> head);

// Keys and certificates from the three directory files and the certificate
// files, already read (files[i] belongs to the i-th certificate record; an
// absent file leaves its record out).
TokenContents DecodeTokenContents(std::span<const BYTE> prkdf, std::span<const BYTE> pukdf,
                                  const std::vector<std::optional<Bytes>>& certificateFiles,
                                  const std::vector<CertificateRecordFields>& certificateRecords);

enum class ReadOutcome { Read, CardGone, CardError };

// Reads everything from the card: the three directories (the application
// selected once), the certificate files, and the PIN counter (VERIFY without
// data while ICC.Crypto is selected for the certificates).
ReadOutcome ReadTokenContents(CCryptoCard& card, TokenContents* contents, PinState* pin);

// The PC/SC results that mean the card (or its reader) is gone.
bool CardGone(LONG result);

// The PIN counter from the status word of a VERIFY.
PinState PinStateFromStatus(WORD sw);

}  // namespace orvel_p11
