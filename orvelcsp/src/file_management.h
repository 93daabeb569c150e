// The card's file-management commands, which the card object does not carry:
// CREATE FILE (80 E0 00 00 04 FID SIZE) makes a zero-filled transparent file
// in the current DF and makes it the current file; DELETE FILE
// (80 E4 00 00 02 FID) removes one. Both need the verified PIN. They are sent
// on the card object's connection and answer with a status word only.
#pragma once

#include "card/crypto_card.h"

struct CardAnswer {
  LONG result = SCARD_S_SUCCESS;  // the transport's result
  WORD sw = 0;                    // 0 after a transport failure
  bool Succeeded() const { return result == SCARD_S_SUCCESS && sw == 0x9000; }
};

CardAnswer CreateTransparentFile(CCryptoCard& card, WORD fileId, WORD size);
CardAnswer DeleteFileById(CCryptoCard& card, WORD fileId);
