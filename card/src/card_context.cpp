// Resource-manager context, reader list, and connecting to one reader.
#include "card/card_connection.h"
#include "platform/handle_guards.h"

bool EstablishCardContext(SCARDCONTEXT* context) {
  if (context == nullptr) return false;
  if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, context) == SCARD_S_SUCCESS) {
    return true;
  }
  return SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, context) == SCARD_S_SUCCESS;
}

bool ReleaseCardContext(SCARDCONTEXT context) {
  return SCardReleaseContext(context) == SCARD_S_SUCCESS;
}

bool ListCardReaders(SCARDCONTEXT context, LPCSTR /*cardName*/, LPSTR* readers) {
  if (readers == nullptr) return false;
  CReaderNames names(context);
  names.List();
  *readers = names.Detach();
  return *readers != nullptr;
}

bool ConnectReader(SCARDCONTEXT context, LPCSTR readerName, SCARDHANDLE* card) {
  if (readerName == nullptr || card == nullptr) return false;
  DWORD protocol = 0;
  // The active protocol is not kept: every command goes out with T=0.
  return SCardConnectA(context, readerName, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0, card,
                       &protocol) == SCARD_S_SUCCESS;
}

bool DisconnectCard(SCARDHANDLE card, DWORD disposition) {
  return SCardDisconnect(card, disposition) == SCARD_S_SUCCESS;
}
