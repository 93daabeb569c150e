#include "cardsim/pcsc_session.h"

#include <algorithm>
#include <cstdio>

namespace cardsim {

PcscError::PcscError(const std::string& call, LONG result)
    : std::runtime_error(call + " failed: " + pcsc_stringify_error(result)), m_result(result) {}

PcscContext::PcscContext() {
  const LONG rv = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &m_context);
  if (rv != SCARD_S_SUCCESS) throw PcscError("SCardEstablishContext", rv);
}

PcscContext::~PcscContext() { SCardReleaseContext(m_context); }

std::vector<std::string> PcscContext::ListReaders() const {
  std::vector<std::string> names;
  DWORD size = 0;
  LONG rv = SCardListReaders(m_context, nullptr, nullptr, &size);
  if (rv == SCARD_E_NO_READERS_AVAILABLE) return names;
  if (rv != SCARD_S_SUCCESS) throw PcscError("SCardListReaders", rv);
  std::string multi(size, '\0');
  rv = SCardListReaders(m_context, nullptr, multi.data(), &size);
  if (rv == SCARD_E_NO_READERS_AVAILABLE) return names;
  if (rv != SCARD_S_SUCCESS) throw PcscError("SCardListReaders", rv);
  multi.resize(std::min<std::size_t>(size, multi.size()));
  for (std::size_t pos = 0; pos < multi.size() && multi[pos] != '\0';) {
    const std::size_t end = multi.find('\0', pos);
    names.push_back(multi.substr(pos, end - pos));
    if (end == std::string::npos) break;
    pos = end + 1;
  }
  return names;
}

DWORD PcscContext::ReaderState(const std::string& reader, Bytes* atr) const {
  SCARD_READERSTATE state{};
  state.szReader = reader.c_str();
  state.dwCurrentState = SCARD_STATE_UNAWARE;
  const LONG rv = SCardGetStatusChange(m_context, 0, &state, 1);
  if (rv != SCARD_S_SUCCESS) throw PcscError("SCardGetStatusChange", rv);
  if (atr) atr->assign(state.rgbAtr, state.rgbAtr + std::min<DWORD>(state.cbAtr, MAX_ATR_SIZE));
  return state.dwEventState;
}

PcscCard::PcscCard(const PcscContext& context, const std::string& reader) {
  const LONG rv = SCardConnect(context.Get(), reader.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0,
                               &m_card, &m_protocol);
  if (rv != SCARD_S_SUCCESS) throw PcscError("SCardConnect", rv);
}

PcscCard::~PcscCard() { SCardDisconnect(m_card, SCARD_LEAVE_CARD); }

Bytes PcscCard::Transmit(const Bytes& apdu) const {
  Bytes answer(258);
  DWORD length = answer.size();
  const LONG rv = SCardTransmit(m_card, SCARD_PCI_T0, apdu.data(), apdu.size(), nullptr,
                                answer.data(), &length);
  if (rv != SCARD_S_SUCCESS) throw PcscError("SCardTransmit", rv);
  answer.resize(std::min<std::size_t>(length, answer.size()));
  return answer;
}

Bytes PcscCard::Atr() const {
  DWORD readerLength = 0;
  DWORD state = 0;
  DWORD protocol = 0;
  Bytes atr(MAX_ATR_SIZE);
  DWORD atrLength = atr.size();
  const LONG rv =
      SCardStatus(m_card, nullptr, &readerLength, &state, &protocol, atr.data(), &atrLength);
  if (rv != SCARD_S_SUCCESS) throw PcscError("SCardStatus", rv);
  atr.resize(std::min<std::size_t>(atrLength, atr.size()));
  return atr;
}

std::uint16_t StatusWord(const Bytes& answer) {
  if (answer.size() < 2) return 0;
  return static_cast<std::uint16_t>(answer[answer.size() - 2] << 8 | answer[answer.size() - 1]);
}

std::string HexBytes(const Bytes& bytes, const char* separator) {
  std::string text;
  char digits[3];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) text += separator;
    std::snprintf(digits, sizeof digits, "%02X", bytes[i]);
    text += digits;
  }
  return text;
}

}  // namespace cardsim
