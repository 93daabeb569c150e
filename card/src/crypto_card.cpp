// Construction and the T=0 transport of CCryptoCard.
#include "card/crypto_card.h"

#include <algorithm>

#include "common/reverse_bytes.h"
#include "common/secure_wipe.h"

CCryptoCard::CCryptoCard(SCARDHANDLE card, Fci directorySelection) : m_card(card) {
  ReadObjectDirectory(directorySelection);
  m_chipInfo.fill(0);
}

CCryptoCard::~CCryptoCard() {
  // Nothing of a PIN or key may outlive the object.
  SecureWipe(m_command.data(), m_command.size());
  m_card = 0;
}

bool CCryptoCard::BuildCommand(BYTE cla, BYTE ins, BYTE p1, BYTE p2,
                               std::initializer_list<DataPart> data, BYTE le) {
  std::size_t length = 0;
  for (const DataPart& part : data) length += part.bytes.size();
  if (length > kMaxCommandData) return false;
  m_command[0] = cla;
  m_command[1] = ins;
  m_command[2] = p1;
  m_command[3] = p2;
  m_command[4] = length != 0 ? static_cast<BYTE>(length) : le;
  BYTE* out = &m_command[5];
  for (const DataPart& part : data) {
    if (part.reversed) {
      ReverseBytes(out, part.bytes.data(), part.bytes.size());
    } else {
      std::copy(part.bytes.begin(), part.bytes.end(), out);
    }
    out += part.bytes.size();
  }
  m_sendLength = static_cast<DWORD>(5 + length);
  return true;
}

LONG CCryptoCard::SendCommand(BYTE cla, BYTE ins, BYTE p1, BYTE p2,
                              std::initializer_list<DataPart> data, BYTE le) {
  if (!BuildCommand(cla, ins, p1, p2, data, le)) return Refuse(SCARD_E_INVALID_PARAMETER);
  return Transmit();
}

LONG CCryptoCard::Refuse(LONG code) {
  m_lastResult = code;
  m_sw1 = 0;
  m_sw2 = 0;
  m_sw = 0;
  return code;
}

LONG CCryptoCard::Transmit() {
  m_receiveLength = kBufferSize;
  m_lastResult = SCardTransmit(m_card, SCARD_PCI_T0, m_command.data(), m_sendLength, nullptr,
                               m_response.data(), &m_receiveLength);
  if (m_lastResult == SCARD_S_SUCCESS && m_receiveLength == 2 &&
      m_response[0] == kSw1ResponsePending) {
    // The answer waits on the card: fetch it, once.
    BuildCommand(kClaIso, kInsGetResponse, 0x00, 0x00, {}, m_response[1]);
    m_receiveLength = kBufferSize;
    m_lastResult = SCardTransmit(m_card, SCARD_PCI_T0, m_command.data(), m_sendLength, nullptr,
                                 m_response.data(), &m_receiveLength);
  }
  if (m_lastResult == SCARD_S_SUCCESS && m_receiveLength > kBufferSize) {
    // The transport claims more than the buffer holds.
    m_receiveLength = 0;
    m_lastResult = SCARD_E_INSUFFICIENT_BUFFER;
  }
  m_sw1 = 0;
  m_sw2 = 0;
  m_sw = 0;
  if (m_lastResult == SCARD_S_SUCCESS && m_receiveLength >= 2) {
    m_sw1 = m_response[m_receiveLength - 2];
    m_sw2 = m_response[m_receiveLength - 1];
    m_sw = static_cast<WORD>(m_sw1 << 8 | m_sw2);
  }
  return m_lastResult;
}
