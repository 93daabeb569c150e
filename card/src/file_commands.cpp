// ISO 7816-4 file commands: SELECT, READ BINARY, UPDATE BINARY.
#include <algorithm>
#include <cstring>

#include "card/crypto_card.h"

LONG CCryptoCard::SelectByName(const BYTE* name, BYTE length, Fci fci) {
  if (length > kMaxCommandData || (name == nullptr && length != 0)) {
    return Refuse(SCARD_E_INVALID_PARAMETER);
  }
  return SendCommand(kClaIso, kInsSelect, kSelectByDfName, static_cast<BYTE>(fci),
                     {{{name, length}}});
}

LONG CCryptoCard::SelectByName(const char* name, Fci fci) {
  if (name == nullptr) return Refuse(SCARD_E_INVALID_PARAMETER);
  const std::size_t length = std::strlen(name);
  if (length > kMaxCommandData) return Refuse(SCARD_E_INVALID_PARAMETER);
  return SelectByName(reinterpret_cast<const BYTE*>(name), static_cast<BYTE>(length), fci);
}

LONG CCryptoCard::SelectFile(WORD fileId, Fci fci) {
  const BYTE id[] = {static_cast<BYTE>(fileId >> 8), static_cast<BYTE>(fileId & 0xFF)};
  return SendCommand(kClaIso, kInsSelect, kSelectByFileId, static_cast<BYTE>(fci), {{id}});
}

LONG CCryptoCard::ReadBinary(WORD offset, WORD length, BYTE* destination, WORD* bytesRead) {
  if (bytesRead != nullptr) *bytesRead = 0;
  if (static_cast<DWORD>(offset) + length > kOffsetLimit) return Refuse(SCARD_E_INVALID_PARAMETER);
  WORD copied = 0;
  WORD remaining = length;
  while (remaining > 0) {
    const WORD chunk = std::min(remaining, kMaxChunk);
    SendCommand(kClaIso, kInsReadBinary, static_cast<BYTE>(offset >> 8),
                static_cast<BYTE>(offset & 0xFF), {}, static_cast<BYTE>(chunk));
    if (!StepSucceeded()) break;
    const DWORD received = m_receiveLength - 2;
    if (received > chunk) {
      // More than was asked for: nothing of it is taken.
      Refuse(SCARD_F_COMM_ERROR);
      break;
    }
    if (received == 0) break;
    const WORD n = static_cast<WORD>(received);
    if (destination != nullptr) std::memcpy(destination + copied, m_response.data(), n);
    offset = static_cast<WORD>(offset + n);
    copied = static_cast<WORD>(copied + n);
    remaining = static_cast<WORD>(remaining - n);
  }
  if (bytesRead != nullptr) *bytesRead = copied;
  return m_lastResult;
}

LONG CCryptoCard::UpdateBinary(WORD offset, WORD length, const BYTE* source) {
  if (static_cast<DWORD>(offset) + length > kOffsetLimit || (source == nullptr && length != 0)) {
    return Refuse(SCARD_E_INVALID_PARAMETER);
  }
  WORD remaining = length;
  while (remaining > 0) {
    const WORD chunk = std::min(remaining, kMaxChunk);
    SendCommand(kClaIso, kInsUpdateBinary, static_cast<BYTE>(offset >> 8),
                static_cast<BYTE>(offset & 0xFF), {{{source, chunk}}});
    offset = static_cast<WORD>(offset + chunk);
    source += chunk;
    remaining = static_cast<WORD>(remaining - chunk);
    if (!StepSucceeded()) break;
  }
  return m_lastResult;
}
