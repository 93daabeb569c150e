// ANSI names over pcsc-lite, whose strings are narrow already.
#include "platform/winscard_ext.h"

extern "C" {

LONG SCardListReadersA(SCARDCONTEXT hContext, LPCSTR mszGroups, LPSTR mszReaders,
                       LPDWORD pcchReaders) {
  return SCardListReaders(hContext, mszGroups, mszReaders, pcchReaders);
}

LONG SCardConnectA(SCARDCONTEXT hContext, LPCSTR szReader, DWORD dwShareMode,
                   DWORD dwPreferredProtocols, LPSCARDHANDLE phCard, LPDWORD pdwActiveProtocol) {
  return SCardConnect(hContext, szReader, dwShareMode, dwPreferredProtocols, phCard,
                      pdwActiveProtocol);
}

LONG SCardGetStatusChangeA(SCARDCONTEXT hContext, DWORD dwTimeout,
                           LPSCARD_READERSTATEA rgReaderStates, DWORD cReaders) {
  return SCardGetStatusChange(hContext, dwTimeout, rgReaderStates, cReaders);
}

}  // extern "C"
