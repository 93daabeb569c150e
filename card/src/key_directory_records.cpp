#include "key_directory_records.h"

#include <algorithm>

namespace {

// The private-key record with every variable byte zero.
constexpr KeyRecord kPrivateKeyTemplate = {
    0x30, 0x53,                                      // record, 83 content bytes
    0x30, 0x06,                                      // common object attributes
    0x14, 0x00,                                      //   label, empty
    0x03, 0x02, 0x06, 0xC0,                          //   flags: private, modifiable
    0x30, 0x29,                                      // common key attributes
    0x04, 0x14,                                      //   identifier, 20 bytes
    0,    0,    0,    0,    0,    0,    0, 0, 0, 0,  //
    0,    0,    0,    0,    0,    0,    0, 0, 0, 0,  //
    0x03, 0x03, 0x06, 0x64, 0x00,                    //   usage: decrypt, sign, unwrap
    0x01, 0x01, 0xFF,                                //   native
    0x03, 0x02, 0x03, 0x98,                          //   access flags
    0x02, 0x01, 0x00,                                //   key reference
    0x18, 0x00,                                      //   start date, empty
    0x80, 0x00,                                      //   end date, empty
    0xA0, 0x02, 0x30, 0x00,                          // subclass attributes
    0xA1, 0x1A,                                      // type attributes
    0x30, 0x15,                                      //   path
    0x04, 0x0C,                                      //     path text
    0x5C, 0x33, 0x46, 0x31, 0x31, 0x5C,              //     "\3F11\3F77\" and a NUL
    0x33, 0x46, 0x37, 0x37, 0x5C, 0x00,              //
    0x02, 0x01, 0x00,                                //     index
    0x80, 0x02, 0x04, 0x18,                          //     length 1048
    0x02, 0x01, 0x00,                                //   modulus length
};

constexpr std::size_t kIdentifierOffset = 14;
constexpr std::size_t kReferenceOffset = 48;
// Where the public-key record differs.
constexpr std::size_t kObjectFlagsOffset = 9;
constexpr std::size_t kUsageOffset = 37;
constexpr std::size_t kAccessFlagsOffset = 45;
constexpr std::size_t kKeyFileDigitOffset = 72;  // "\3F11\3F7?\"

KeyRecord MakeRecord(BYTE keyReference, std::span<const BYTE, kKeyIdentifierBytes> identifier) {
  KeyRecord record = kPrivateKeyTemplate;
  std::copy(identifier.begin(), identifier.end(), record.begin() + kIdentifierOffset);
  record[kReferenceOffset] = keyReference;
  return record;
}

}  // namespace

KeyRecord MakePrivateKeyRecord(BYTE keyReference,
                               std::span<const BYTE, kKeyIdentifierBytes> identifier) {
  return MakeRecord(keyReference, identifier);
}

KeyRecord MakePublicKeyRecord(BYTE keyReference,
                              std::span<const BYTE, kKeyIdentifierBytes> identifier,
                              WORD roleWord) {
  KeyRecord record = MakeRecord(keyReference, identifier);
  record[kObjectFlagsOffset] = 0x40;  // modifiable only
  record[kUsageOffset] = static_cast<BYTE>(roleWord >> 8);
  record[kUsageOffset + 1] = static_cast<BYTE>(roleWord & 0xFF);
  record[kAccessFlagsOffset] = 0x48;  // extractable, local
  record[kKeyFileDigitOffset] = '8';
  return record;
}
