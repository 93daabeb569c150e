// Filling a certificate store with the certificates of the cards in the
// readers, from the per-reader cache whenever the card need not be read.
#pragma once

#include "platform/wincrypt.h"

// 0 only when no resource-manager context could be established; 1 otherwise
// (also with no readers, no cards or no certificates).
BOOL PopulateCardStore(HCERTSTORE store);
