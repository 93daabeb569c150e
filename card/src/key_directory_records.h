// The two PKCS#15 records that describe a key written by this library, as
// they are appended to the private-key and the public-key directory.
#pragma once

#include <array>
#include <span>

#include "card/card_types.h"

inline constexpr std::size_t kKeyRecordBytes = 85;
using KeyRecord = std::array<BYTE, kKeyRecordBytes>;

// Usage decrypt, sign, unwrap; access flags sensitive, never extractable,
// local; key file "\3F11\3F77\".
KeyRecord MakePrivateKeyRecord(BYTE keyReference,
                               std::span<const BYTE, kKeyIdentifierBytes> identifier);
// Usage bits from the role word; access flags extractable, local; key file
// "\3F11\3F78\".
KeyRecord MakePublicKeyRecord(BYTE keyReference,
                              std::span<const BYTE, kKeyIdentifierBytes> identifier, WORD roleWord);
