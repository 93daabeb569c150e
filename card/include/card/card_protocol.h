// The card protocol's vocabulary: the class, instruction and parameter bytes
// of the commands this library sends (ISO 7816-4 and 7816-8, and the card's
// own commands of class 90) and the status words it looks at.
#pragma once

#include "card/card_types.h"

// --- Class bytes -------------------------------------------------------------

inline constexpr BYTE kClaIso = 0x00;
inline constexpr BYTE kClaProprietary = 0x90;

// --- ISO 7816-4 and 7816-8 instructions ------------------------------------

inline constexpr BYTE kInsSelect = 0xA4;
inline constexpr BYTE kInsGetResponse = 0xC0;
inline constexpr BYTE kInsReadBinary = 0xB0;
inline constexpr BYTE kInsUpdateBinary = 0xD6;
inline constexpr BYTE kInsVerify = 0x20;
inline constexpr BYTE kInsManageSecurityEnvironment = 0x22;
inline constexpr BYTE kInsPerformSecurityOperation = 0x2A;

// SELECT: P1 by file identifier or by DF name.
inline constexpr BYTE kSelectByFileId = 0x00;
inline constexpr BYTE kSelectByDfName = 0x04;
// MANAGE SECURITY ENVIRONMENT: P1 SET for computing, P2 the template.
inline constexpr BYTE kMseSetForComputing = 0x41;
inline constexpr BYTE kMseSignatureTemplate = 0xB6;
inline constexpr BYTE kMseDecipherTemplate = 0xB8;
// The data object of a key reference in a security environment.
inline constexpr BYTE kTagKeyReference = 0x84;
// PERFORM SECURITY OPERATION: P1 P2 of COMPUTE DIGITAL SIGNATURE and DECIPHER.
inline constexpr BYTE kPsoDigitalSignature = 0x9E;
inline constexpr BYTE kPsoDataToBeSigned = 0x9A;
inline constexpr BYTE kPsoPlainValue = 0x80;
inline constexpr BYTE kPsoPaddedCryptogram = 0x86;
// The padding indicator that opens a DECIPHER cryptogram: no further
// indication.
inline constexpr BYTE kPaddingIndicatorNone = 0x00;

// --- The card's own instructions (class 90) ---------------------------------

inline constexpr BYTE kInsGetChipInfo = 0xB8;
inline constexpr BYTE kInsWriteKeyPublic = 0x50;
inline constexpr BYTE kInsWriteKeyPrivate = 0x52;
inline constexpr BYTE kInsEraseKey = 0x54;

// Key roles, as P1 of the key commands.
inline constexpr BYTE kKeyP1Exchange = 0x40;
inline constexpr BYTE kKeyP1Signature = 0x80;

// --- Status words -------------------------------------------------------------

inline constexpr WORD kSwSuccess = 0x9000;
inline constexpr WORD kSwSecurityNotSatisfied = 0x6982;  // PIN not verified
inline constexpr WORD kSwPinBlocked = 0x6983;
inline constexpr WORD kSwConditionsNotSatisfied = 0x6985;
inline constexpr WORD kSwWrongData = 0x6A80;
inline constexpr WORD kSwIncorrectP1P2 = 0x6A86;
inline constexpr WORD kSwReferenceNotFound = 0x6A88;
inline constexpr WORD kSwWrongP1P2 = 0x6B00;  // also: offset past the end of the file
// First bytes whose second byte carries a count.
inline constexpr BYTE kSw1ResponsePending = 0x61;  // 61xx: xx bytes wait for GET RESPONSE
inline constexpr BYTE kSw1WrongLength = 0x6C;      // 6Cxx: xx bytes are available
inline constexpr BYTE kSw1VerifyFailed = 0x63;     // 63Cx: x tries left
