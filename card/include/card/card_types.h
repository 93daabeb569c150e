// Values read from and names used on the Orvel card.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/win32.h"

// The 18 data bytes of GET CHIP INFO; the whole value identifies a card.
inline constexpr std::size_t kChipInfoSize = 18;
using ChipInfo = std::array<BYTE, kChipInfoSize>;

// Bytes 10 to 15 of ChipInfo.
inline constexpr std::size_t kCardSerialOffset = 10;
inline constexpr std::size_t kCardSerialSize = 6;
using CardSerial = std::array<BYTE, kCardSerialSize>;

// Key material as the key commands carry it: a 1024-bit RSA key.
inline constexpr std::size_t kModulusBytes = 128;
inline constexpr std::size_t kPrimeBytes = 64;  // each of the five CRT parts
// The identifier of a key in its directory records: SHA-1 of the modulus.
inline constexpr std::size_t kKeyIdentifierBytes = 20;

// Key references from here up may be given to a new key; those below are
// never taken.
inline constexpr unsigned kFirstInstallableKeyReference = 32;

// One flag byte per key reference; 0 means the reference is free.
using KeyReferenceMap = std::array<BYTE, 256>;
inline constexpr BYTE KeyRefPrivate = 0x01;    // a private-key record uses it
inline constexpr BYTE KeyRefPublic = 0x02;     // a public-key record uses it
inline constexpr BYTE KeyRefCertified = 0x04;  // a certificate's identifier names its private key
inline constexpr BYTE KeyRefLocal = 0x10;      // a key record has the access flag "local"

// Directory files of the PKCS#15 application, indexed by the low nibble of
// their tag in the object directory file.
inline constexpr std::size_t kDirectoryFileCount = 9;
using DirectoryFileTable = std::array<WORD, kDirectoryFileCount>;
inline constexpr std::size_t kPrivateKeyDirectory = 0;   // PrKDF, tag A0
inline constexpr std::size_t kPublicKeyDirectory = 1;    // PuKDF, tag A1
inline constexpr std::size_t kCertificateDirectory = 4;  // CDF, tag A4
inline constexpr DirectoryFileTable kDefaultDirectoryFiles = {
    0x6001,  // A0 private keys
    0x6002,  // A1 public keys
    0x6002,  // A2 trusted public keys
    0xFFFF,  // A3 secret keys: none
    0x6004,  // A4 certificates
    0x6004,  // A5 trusted certificates
    0x6004,  // A6 useful certificates
    0x6005,  // A7 data objects
    0x6000,  // A8 authentication objects
};

// The object directory file, inside the application.
inline constexpr WORD kObjectDirectoryFile = 0x5031;

// DF names, sent without terminator.
inline constexpr char kMasterFileName[] = "Master.File";
inline constexpr char kCryptoDfName[] = "ICC.Crypto";
// A0 00 00 00 followed by "cPKCS-15".
inline constexpr std::array<BYTE, 12> kPkcs15ApplicationId = {0xA0, 0x00, 0x00, 0x00, 0x63, 0x50,
                                                              0x4B, 0x43, 0x53, 0x2D, 0x31, 0x35};
