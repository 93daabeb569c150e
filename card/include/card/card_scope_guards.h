// Scope guards for the resource-manager context, the card handle and a card
// transaction of one card operation: whatever way the operation ends, the
// transaction is ended, the card disconnected (powered down) and the context
// released, in that order when the guards live in the same scope (declare the
// context guard first).
#pragma once

#include "card/card_connection.h"
#include "common/non_copyable.h"
#include "platform/handle_guards.h"

class CCardContextGuard : private NonCopyable {
 public:
  CCardContextGuard() = default;
  virtual ~CCardContextGuard() = default;

  // A context in user scope, or failing that in system scope.
  bool Establish() {
    return m_context.Establish(SCARD_SCOPE_USER) == SCARD_S_SUCCESS ||
           m_context.Establish(SCARD_SCOPE_SYSTEM) == SCARD_S_SUCCESS;
  }
  SCARDCONTEXT Context() const { return m_context.Get(); }
  bool Established() const { return m_context.Established(); }

 private:
  CResourceManagerContext m_context;
};

class CCardHandleGuard : private NonCopyable {
 public:
  explicit CCardHandleGuard(DWORD disposition = SCARD_UNPOWER_CARD) : m_disposition(disposition) {}
  virtual ~CCardHandleGuard() {
    if (m_connected) DisconnectCard(m_card, m_disposition);
  }

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

// A PC/SC card transaction over the guard's life: no other connection's
// commands reach the card in between. Result() is that of
// SCardBeginTransaction; only a transaction begun is ended.
class CCardTransactionGuard : private NonCopyable {
 public:
  explicit CCardTransactionGuard(SCARDHANDLE card)
      : m_card(card), m_result(SCardBeginTransaction(card)) {}
  virtual ~CCardTransactionGuard() {
    if (m_result == SCARD_S_SUCCESS) SCardEndTransaction(m_card, SCARD_LEAVE_CARD);
  }

  LONG Result() const { return m_result; }

 private:
  SCARDHANDLE m_card;
  LONG m_result;
};
