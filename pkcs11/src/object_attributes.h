// The PKCS#11 objects of a token, built once from what was read from the card:
// per certificate a certificate object, per certificate with a key on the card
// a public key, per private-key record a private key. Each object holds its
// attribute values encoded as PKCS#11 hands them out.
#pragma once

#include <p11-kit/pkcs11.h>

#include <map>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "token_contents.h"

namespace orvel_p11 {

struct TokenObject {
  CK_OBJECT_CLASS objectClass = CKO_DATA;
  bool isPrivate = false;
  BYTE keyReference = 0;
  bool canSign = false;
  bool canDecrypt = false;
  std::map<CK_ATTRIBUTE_TYPE, Bytes> attributes;
  // Attributes the object has but never reveals.
  std::set<CK_ATTRIBUTE_TYPE> sensitive;

  // Whether every attribute of the template is present with an equal value.
  bool Matches(std::span<const CK_ATTRIBUTE> pattern) const;
  // C_GetAttributeValue for one object, as the standard orders its cases.
  CK_RV GetAttributes(std::span<CK_ATTRIBUTE> query) const;
};

std::vector<TokenObject> BuildObjects(const TokenContents& contents);

// Key length of every key of the card.
inline constexpr CK_ULONG kModulusBits = 1024;

}  // namespace orvel_p11
