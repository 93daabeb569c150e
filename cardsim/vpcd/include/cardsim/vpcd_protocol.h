// The wire protocol between the vpcd reader driver and a virtual card.
//
// The driver listens on one TCP port per reader slot; the card connects as a
// client. Every message in either direction is a 2-byte big-endian length
// followed by that many bytes. From the driver, a message of one byte is a
// control message; anything longer is a command APDU. The card answers the
// "get ATR" control message with the ATR and every APDU with the full
// response (data, SW1, SW2); the other control messages get no answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "cardsim/virtual_card.h"

namespace cardsim::vpcd {

enum class Control : std::uint8_t {
  PowerOff = 0,
  PowerOn = 1,
  Reset = 2,
  GetAtr = 4,
};

// The largest payload a 2-byte length can carry.
inline constexpr std::size_t kMaxPayload = 0xFFFF;

// Length prefix and payload; std::nullopt when the payload is too long.
std::optional<Bytes> EncodeFrame(const Bytes& payload);

// Cuts a byte stream into messages, whatever pieces it arrives in.
class FrameReader {
 public:
  void Feed(const std::uint8_t* data, std::size_t size);
  void Feed(const Bytes& data) { Feed(data.data(), data.size()); }
  // The next complete message, if one has arrived. Empty messages are
  // passed on as empty payloads.
  std::optional<Bytes> Next();
  // Bytes received that do not yet make a whole message.
  std::size_t Pending() const { return m_buffer.size() - m_start; }

 private:
  Bytes m_buffer;
  std::size_t m_start = 0;
};

// What the card sends back for one message from the driver, or std::nullopt
// when the message wants no answer. Power off and reset reset the card.
std::optional<Bytes> AnswerMessage(VirtualCard& card, const Bytes& message);

}  // namespace cardsim::vpcd
