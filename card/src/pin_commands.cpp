// PIN verification.
#include <cstring>

#include "card/crypto_card.h"
#include "common/secure_wipe.h"

LONG CCryptoCard::Verify(const char* pin) {
  if (pin == nullptr) return Refuse(SCARD_E_INVALID_PARAMETER);
  const std::size_t length = std::strlen(pin);
  if (length > kMaxCommandData) return Refuse(SCARD_E_INVALID_PARAMETER);
  SendCommand(kClaIso, kInsVerify, 0x00, 0x00, {{{reinterpret_cast<const BYTE*>(pin), length}}});
  SecureWipe(m_command.data(), m_command.size());
  return m_lastResult;
}

LONG CCryptoCard::VerifyPin(const char* pin) {
  if (SelectByName(kMasterFileName) != SCARD_S_SUCCESS) return m_lastResult;
  if (m_sw != kSwSuccess) return Refuse(SCARD_E_FILE_NOT_FOUND);
  if (SelectByName(kCryptoDfName) != SCARD_S_SUCCESS) return m_lastResult;
  if (m_sw != kSwSuccess) return Refuse(SCARD_E_FILE_NOT_FOUND);
  if (Verify(pin) != SCARD_S_SUCCESS) return m_lastResult;
  if (m_sw != kSwSuccess) m_lastResult = SCARD_E_INVALID_PARAMETER;
  return m_lastResult;
}
