// The card's own commands of class 90: chip information and key erasure.
#include <algorithm>

#include "card/crypto_card.h"

LONG CCryptoCard::GetChipInfo(ChipInfo* chipInfo) {
  m_lastResult = SCARD_S_SUCCESS;
  if (m_chipInfo[0] == 0) {
    SetHeader(0x90, 0xB8, 0x00, 0x00, 0x12);
    m_sendLength = 5;
    Transmit();
    // Only a complete answer is kept.
    if (StepSucceeded() && m_receiveLength >= kChipInfoSize + 2) {
      std::copy_n(m_response.begin(), kChipInfoSize, m_chipInfo.begin());
    }
  }
  if (chipInfo != nullptr) *chipInfo = m_chipInfo;
  return m_lastResult;
}

LONG CCryptoCard::GetSerialNumber(CardSerial* serial) {
  SetHeader(0x90, 0xB8, 0x00, 0x00, 0x12);
  m_sendLength = 5;
  Transmit();
  if (!StepSucceeded()) return m_lastResult;
  // An answer of other than the 18 bytes does not carry the serial: no
  // container may be named after it.
  if (m_receiveLength != kChipInfoSize + 2) return Refuse(SCARD_F_COMM_ERROR);
  if (serial != nullptr) {
    std::copy_n(m_response.begin() + kCardSerialOffset, kCardSerialSize, serial->begin());
  }
  return m_lastResult;
}

LONG CCryptoCard::EraseKey(BYTE keyReference) {
  SetHeader(0x90, 0x54, 0x40, keyReference, 0x00);
  m_sendLength = 5;
  return Transmit();
}
