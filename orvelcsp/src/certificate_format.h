// What a certificate becomes on the card: a certificate file under DF 3F11
// and a record in the certificate directory (CDF) that points at it.
//
// Certificate file:   offset 0  uncompressed length, 32-bit little-endian
//                     offset 4  compressed length, 32-bit little-endian
//                     offset 8  the DER certificate as a zlib stream (RFC 1950)
//
// CDF record:         30 len
//                       30 06 14 00 03 02 06 40         common object attributes:
//                                                        empty label, modifiable
//                       30 len 04 len <identifier>      common certificate attributes:
//                                                        the key's identifier element
//                       A1 len                          type attributes
//                         30 len                        path
//                           04 0A "\3F11\XXXX"          path text: DF and file
//                           02 01 00                    index 0
//                           80 len <file length>        length of the certificate file
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/win32.h"

// The DF that holds certificate files, and where their identifiers start.
inline constexpr WORD kCertificateDf = 0x3F11;
inline constexpr WORD kFirstCertificateFile = 0x3F80;
inline constexpr WORD kLastCertificateFile = 0x3FFE;

// The certificate readers of this system take at most this many bytes; a
// larger certificate would stop their enumeration of the directory.
inline constexpr std::size_t kMaxCertificateLength = 2048;

// The length of the encoded certificate that starts at der, from its outer
// header alone (one to three length bytes); nothing when the bytes do not
// open a DER sequence.
std::optional<std::size_t> EncodedCertificateLength(const BYTE* der);

// Header and compressed certificate; nothing when compression fails.
std::optional<std::vector<BYTE>> BuildCertificateFile(std::span<const BYTE> certificate);

// "\3F11\XXXX" for the file identifier.
std::string CertificatePathText(WORD fileId);

// The CDF record for a certificate file of fileLength bytes, identified by
// identifierElement (tag, length and bytes, as the private-key record holds it).
std::vector<BYTE> BuildCertificateRecord(std::span<const BYTE> identifierElement, WORD fileId,
                                         DWORD fileLength);
