// Construction and the T=0 transport of CCryptoCard.
#include "card/crypto_card.h"

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

void CCryptoCard::SetHeader(BYTE cla, BYTE ins, BYTE p1, BYTE p2, BYTE p3) {
  m_command[0] = cla;
  m_command[1] = ins;
  m_command[2] = p1;
  m_command[3] = p2;
  m_command[4] = p3;
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
  if (m_lastResult == SCARD_S_SUCCESS && m_receiveLength == 2 && m_response[0] == 0x61) {
    // The answer waits on the card: fetch it, once.
    SetHeader(0x00, 0xC0, 0x00, 0x00, m_response[1]);
    m_sendLength = 5;
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
