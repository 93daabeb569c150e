#include "cardsim/vpcd_protocol.h"

namespace cardsim::vpcd {

std::optional<Bytes> EncodeFrame(const Bytes& payload) {
  if (payload.size() > kMaxPayload) return std::nullopt;
  Bytes frame;
  frame.reserve(payload.size() + 2);
  frame.push_back(static_cast<std::uint8_t>(payload.size() >> 8));
  frame.push_back(static_cast<std::uint8_t>(payload.size() & 0xFF));
  frame.insert(frame.end(), payload.begin(), payload.end());
  return frame;
}

void FrameReader::Feed(const std::uint8_t* data, std::size_t size) {
  // Drop what has been handed out before growing the buffer.
  if (m_start > 0) {
    m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(m_start));
    m_start = 0;
  }
  m_buffer.insert(m_buffer.end(), data, data + size);
}

std::optional<Bytes> FrameReader::Next() {
  if (Pending() < 2) return std::nullopt;
  const std::size_t length =
      (static_cast<std::size_t>(m_buffer[m_start]) << 8) | m_buffer[m_start + 1];
  if (Pending() < 2 + length) return std::nullopt;
  const auto first = m_buffer.begin() + static_cast<std::ptrdiff_t>(m_start + 2);
  Bytes message(first, first + static_cast<std::ptrdiff_t>(length));
  m_start += 2 + length;
  return message;
}

std::optional<Bytes> AnswerMessage(VirtualCard& card, const Bytes& message) {
  if (message.size() == 1) {
    switch (static_cast<Control>(message[0])) {
      case Control::PowerOff:
      case Control::Reset:
        card.Reset();
        return std::nullopt;
      case Control::PowerOn:
        return std::nullopt;
      case Control::GetAtr:
        return VirtualCard::Atr();
    }
    return std::nullopt;  // a control message this card does not know
  }
  if (message.empty()) return std::nullopt;
  return card.Transmit(message);
}

}  // namespace cardsim::vpcd
