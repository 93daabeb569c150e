#include "card_session.h"

#include <cstring>
#include <vector>

namespace {

// The reader list of the resource manager, released with it.
class CReaderList {
 public:
  explicit CReaderList(SCARDCONTEXT context) : m_context(context) {}
  ~CReaderList() {
    if (m_names != nullptr) SCardFreeMemory(m_context, m_names);
  }
  CReaderList(const CReaderList&) = delete;
  CReaderList& operator=(const CReaderList&) = delete;

  // False when there is no reader (or no list).
  bool Fetch() {
    DWORD length = SCARD_AUTOALLOCATE;
    const LONG result =
        SCardListReaders(m_context, nullptr, reinterpret_cast<LPSTR>(&m_names), &length);
    if (result != SCARD_S_SUCCESS) {
      m_names = nullptr;
      return false;
    }
    m_length = length;
    return true;
  }
  // The names of the multi-string, read within the length given.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    if (m_names == nullptr) return names;
    std::size_t pos = 0;
    while (pos < m_length && m_names[pos] != '\0') {
      const std::size_t size = strnlen(m_names + pos, m_length - pos);
      names.emplace_back(m_names + pos, size);
      pos += size + 1;
    }
    return names;
  }

 private:
  SCARDCONTEXT m_context;
  char* m_names = nullptr;
  DWORD m_length = 0;
};

}  // namespace

CCardSession::~CCardSession() {
  m_card.reset();
  if (m_connected) SCardDisconnect(m_handle, m_disposition);
  if (m_hasContext) SCardReleaseContext(m_context);
}

DWORD CCardSession::Open(const CardSerial& serial, std::unique_ptr<CCardSession>* session) {
  auto opened = std::make_unique<CCardSession>();
  LONG result = SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &opened->m_context);
  if (result != SCARD_S_SUCCESS) return static_cast<DWORD>(result);
  opened->m_hasContext = true;

  CReaderList readers(opened->m_context);
  if (!readers.Fetch()) return NTE_BAD_KEYSET;
  for (const std::string& reader : readers.Names()) {
    SCARDHANDLE handle = 0;
    DWORD protocol = 0;
    if (SCardConnect(opened->m_context, reader.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0,
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

CCardTransaction::CCardTransaction(CCryptoCard& card)
    : m_handle(card.CardHandle()), m_result(SCardBeginTransaction(m_handle)) {}

CCardTransaction::~CCardTransaction() {
  if (m_result == SCARD_S_SUCCESS) SCardEndTransaction(m_handle, SCARD_LEAVE_CARD);
}
