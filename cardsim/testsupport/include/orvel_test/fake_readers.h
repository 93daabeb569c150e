// Readers of the fake resource manager, with fresh virtual cards in them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cardsim/fake_pcsc.h"
#include "cardsim/virtual_card.h"

namespace orvel_test {

// A reader holding a fresh card made from spec.
inline std::shared_ptr<cardsim::VirtualCard> AddReaderWithCard(const std::string& reader,
                                                               const cardsim::CardSpec& spec = {}) {
  fakepcsc::AddReader(reader);
  auto card = cardsim::VirtualCard::MakeFresh(spec);
  fakepcsc::InsertCard(reader, card);
  return card;
}

// Readers "Lector 0" to "Lector count-1"; those numbered in withCard hold a
// fresh card.
inline void AddReaders(int count, const std::vector<int>& withCard) {
  for (int i = 0; i < count; ++i) fakepcsc::AddReader("Lector " + std::to_string(i));
  for (int i : withCard) {
    fakepcsc::InsertCard("Lector " + std::to_string(i), cardsim::VirtualCard::MakeFresh({}));
  }
}

}  // namespace orvel_test
