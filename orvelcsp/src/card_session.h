// The card a key container lives on: a resource-manager context and a shared
// T=0 connection to the reader whose card has the container's serial, with
// the card object over it. Everything is given back when the session goes.
#pragma once

#include <memory>
#include <string>

#include "card/card_types.h"
#include "card/crypto_card.h"
#include "common/non_copyable.h"
#include "platform/handle_guards.h"
#include "platform/wincrypt.h"

class CCardSession : private NonCopyable {
 public:
  CCardSession() = default;
  ~CCardSession();

  // Looks through every reader for a card whose chip information carries
  // serial. ERROR_SUCCESS with *session set; NTE_BAD_KEYSET when no reader
  // holds such a card; the resource manager's code when it cannot be reached.
  static DWORD Open(const CardSerial& serial, std::unique_ptr<CCardSession>* session);

  CCryptoCard& Card() { return *m_card; }
  const std::string& ReaderName() const { return m_reader; }

  // The card has been given the PIN in this session: it is reset when the
  // session ends, so that the verified state does not outlive it.
  void NoteVerifiedPin() { m_disposition = SCARD_RESET_CARD; }

 private:
  CResourceManagerContext m_context;
  SCARDHANDLE m_handle = 0;
  bool m_connected = false;
  DWORD m_disposition = SCARD_LEAVE_CARD;
  std::string m_reader;
  std::unique_ptr<CCryptoCard> m_card;
};
