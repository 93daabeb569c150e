#include "card_session.h"

#include <cstring>
#include <vector>

CCardSession::~CCardSession() {
  m_card.reset();
  if (m_connected) SCardDisconnect(m_handle, m_disposition);
}

DWORD CCardSession::Open(const CardSerial& serial, std::unique_ptr<CCardSession>* session) {
  auto opened = std::make_unique<CCardSession>();
  const LONG result = opened->m_context.Establish(SCARD_SCOPE_USER);
  if (result != SCARD_S_SUCCESS) return static_cast<DWORD>(result);

  CReaderNames readers(opened->m_context.Get());
  if (readers.List() != SCARD_S_SUCCESS) return NTE_BAD_KEYSET;
  for (const std::string& reader : readers.Names()) {
    SCARDHANDLE handle = 0;
    DWORD protocol = 0;
    if (SCardConnect(opened->m_context.Get(), reader.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0,
                     &handle, &protocol) != SCARD_S_SUCCESS) {
      continue;
    }
    // Nothing here looks at the FCI of the object directory's selections.
    auto card = std::make_unique<CCryptoCard>(handle, CCryptoCard::Fci::NotReturned);
    // The serial is written only from a complete answer: start from a value
    // that cannot match.
    CardSerial found = serial;
    found[0] = static_cast<BYTE>(~found[0]);
    card->GetSerialNumber(&found);
    if (card->StepSucceeded() && found == serial) {
      opened->m_handle = handle;
      opened->m_connected = true;
      opened->m_reader = reader;
      opened->m_card = std::move(card);
      *session = std::move(opened);
      return ERROR_SUCCESS;
    }
    card.reset();
    SCardDisconnect(handle, SCARD_LEAVE_CARD);
  }
  return NTE_BAD_KEYSET;
}
