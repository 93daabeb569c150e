// The card a whole import is tried on: one reader of the fake resource
// manager holding a fresh card, and the software key containers an import
// leaves in the user's state directory.
#pragma once

#include <filesystem>
#include <memory>
#include <system_error>

#include "cardsim/fake_pcsc.h"
#include "cardsim/virtual_card.h"
#include "orvel_test/fake_readers.h"
#include "platform/user_state.h"

namespace orvel_test {

inline constexpr char kImportReader[] = "Lector Orvel 0";
inline constexpr char kImportPin[] = "1234";

// Empties the fake resource manager and puts a fresh card (serial
// 0A0B0C0D0E0F, PIN kImportPin) into the reader kImportReader.
inline std::shared_ptr<cardsim::VirtualCard> InsertImportCard() {
  fakepcsc::Reset();
  cardsim::CardSpec spec;
  spec.serial = {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F};
  spec.pin = kImportPin;
  return AddReaderWithCard(kImportReader, spec);
}

// The software key containers in the current user's state directory.
inline std::size_t SoftwareKeyContainers() {
  const auto keys = platform::UserStateDir() / "keys";
  std::error_code error;
  if (!std::filesystem::exists(keys, error)) return 0;
  std::size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(keys, error)) {
    if (entry.is_regular_file()) ++count;
  }
  return count;
}

}  // namespace orvel_test
