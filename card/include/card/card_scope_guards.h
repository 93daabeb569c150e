// Scope guards for the resource-manager context and the card handle of one
// card operation: whatever way the operation ends, the card is disconnected
// (powered down) and the context released, in that order when both guards
// live in the same scope (declare the context guard first).
#pragma once

#include "card/card_connection.h"

class CCardContextGuard {
 public:
  CCardContextGuard() = default;
  virtual ~CCardContextGuard() {
    if (m_established) ReleaseCardContext(m_context);
  }
  CCardContextGuard(const CCardContextGuard&) = delete;
  CCardContextGuard& operator=(const CCardContextGuard&) = delete;

  bool Establish() {
    if (!m_established) m_established = EstablishCardContext(&m_context);
    return m_established;
  }
  SCARDCONTEXT Context() const { return m_context; }
  bool Established() const { return m_established; }

 private:
  SCARDCONTEXT m_context = 0;
  bool m_established = false;
};

class CCardHandleGuard {
 public:
  explicit CCardHandleGuard(DWORD disposition = SCARD_UNPOWER_CARD) : m_disposition(disposition) {}
  virtual ~CCardHandleGuard() {
    if (m_connected) DisconnectCard(m_card, m_disposition);
  }
  CCardHandleGuard(const CCardHandleGuard&) = delete;
  CCardHandleGuard& operator=(const CCardHandleGuard&) = delete;

  bool Connect(SCARDCONTEXT context, LPCSTR cardNames) {
    if (!m_connected) m_connected = ConnectToCard(context, cardNames, &m_card);
    return m_connected;
  }
  SCARDHANDLE Card() const { return m_card; }
  bool Connected() const { return m_connected; }

 private:
  SCARDHANDLE m_card = 0;
  DWORD m_disposition;
  bool m_connected = false;
};
