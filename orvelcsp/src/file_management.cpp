#include "file_management.h"

#include <array>

namespace {

template <std::size_t N>
CardAnswer Send(CCryptoCard& card, const std::array<BYTE, N>& command) {
  std::array<BYTE, 258> answer{};
  DWORD received = answer.size();
  CardAnswer result;
  result.result =
      SCardTransmit(card.CardHandle(), SCARD_PCI_T0, command.data(),
                    static_cast<DWORD>(command.size()), nullptr, answer.data(), &received);
  if (result.result == SCARD_S_SUCCESS && received >= 2 && received <= answer.size()) {
    result.sw = static_cast<WORD>(answer[received - 2] << 8 | answer[received - 1]);
  }
  return result;
}

BYTE High(WORD value) { return static_cast<BYTE>(value >> 8); }
BYTE Low(WORD value) { return static_cast<BYTE>(value & 0xFF); }

}  // namespace

CardAnswer CreateTransparentFile(CCryptoCard& card, WORD fileId, WORD size) {
  const std::array<BYTE, 9> command = {0x80,         0xE0,        0x00,       0x00,     0x04,
                                       High(fileId), Low(fileId), High(size), Low(size)};
  return Send(card, command);
}

CardAnswer DeleteFileById(CCryptoCard& card, WORD fileId) {
  const std::array<BYTE, 7> command = {0x80, 0xE4, 0x00, 0x00, 0x02, High(fileId), Low(fileId)};
  return Send(card, command);
}
