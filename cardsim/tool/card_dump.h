// A readable account of what a card holds: serial, PIN counter, object
// directory, key and certificate records, keys, certificate files.
#pragma once

#include <ostream>

#include "cardsim/virtual_card.h"

namespace orvelcard {

void DumpCard(const cardsim::VirtualCard& card, std::ostream& out);

}  // namespace orvelcard
