// The PC/SC functions a module the platform loads (the store provider, the
// card provider) and the card library linked into it call, bound at run time
// to the PC/SC library of the hosting process: pcsc-lite, or the tests' fake
// library, whichever the program has in its global
// scope; otherwise pcsc-lite, opened by the module (which hands back the
// instance already loaded, if any). The module links no PC/SC library, and
// these forwarders stay private to it.
#include <dlfcn.h>

#include "platform/winscard_ext.h"

namespace {

void* PcscSymbol(const char* name) {
  if (void* symbol = dlsym(RTLD_DEFAULT, name)) return symbol;
  static void* const library = dlopen("libpcsclite.so.1", RTLD_NOW | RTLD_LOCAL);
  return library != nullptr ? dlsym(library, name) : nullptr;
}

template <class Function>
Function* Bind(const char* name) {
  return reinterpret_cast<Function*>(PcscSymbol(name));
}

}  // namespace

// Looks the real function up on first use; without one the resource manager
// counts as absent.
#define STOREPROV_PCSC_FORWARD(name, ...)                  \
  static auto* const target = Bind<decltype(name)>(#name); \
  if (target == nullptr) return SCARD_E_NO_SERVICE;        \
  return target(__VA_ARGS__)

extern "C" {

// The protocol control information of T=0; the resource manager reads its
// contents, not its address.
const SCARD_IO_REQUEST g_rgSCardT0Pci = {SCARD_PROTOCOL_T0, sizeof(SCARD_IO_REQUEST)};

LONG SCardEstablishContext(DWORD dwScope, LPCVOID pvReserved1, LPCVOID pvReserved2,
                           LPSCARDCONTEXT phContext) {
  STOREPROV_PCSC_FORWARD(SCardEstablishContext, dwScope, pvReserved1, pvReserved2, phContext);
}

LONG SCardReleaseContext(SCARDCONTEXT hContext) {
  STOREPROV_PCSC_FORWARD(SCardReleaseContext, hContext);
}

LONG SCardListReaders(SCARDCONTEXT hContext, LPCSTR mszGroups, LPSTR mszReaders,
                      LPDWORD pcchReaders) {
  STOREPROV_PCSC_FORWARD(SCardListReaders, hContext, mszGroups, mszReaders, pcchReaders);
}

LONG SCardListReaderGroups(SCARDCONTEXT hContext, LPSTR mszGroups, LPDWORD pcchGroups) {
  STOREPROV_PCSC_FORWARD(SCardListReaderGroups, hContext, mszGroups, pcchGroups);
}

LONG SCardFreeMemory(SCARDCONTEXT hContext, LPCVOID pvMem) {
  STOREPROV_PCSC_FORWARD(SCardFreeMemory, hContext, pvMem);
}

LONG SCardConnect(SCARDCONTEXT hContext, LPCSTR szReader, DWORD dwShareMode,
                  DWORD dwPreferredProtocols, LPSCARDHANDLE phCard, LPDWORD pdwActiveProtocol) {
  STOREPROV_PCSC_FORWARD(SCardConnect, hContext, szReader, dwShareMode, dwPreferredProtocols,
                         phCard, pdwActiveProtocol);
}

LONG SCardReconnect(SCARDHANDLE hCard, DWORD dwShareMode, DWORD dwPreferredProtocols,
                    DWORD dwInitialization, LPDWORD pdwActiveProtocol) {
  STOREPROV_PCSC_FORWARD(SCardReconnect, hCard, dwShareMode, dwPreferredProtocols, dwInitialization,
                         pdwActiveProtocol);
}

LONG SCardDisconnect(SCARDHANDLE hCard, DWORD dwDisposition) {
  STOREPROV_PCSC_FORWARD(SCardDisconnect, hCard, dwDisposition);
}

LONG SCardStatus(SCARDHANDLE hCard, LPSTR szReaderName, LPDWORD pcchReaderLen, LPDWORD pdwState,
                 LPDWORD pdwProtocol, LPBYTE pbAtr, LPDWORD pcbAtrLen) {
  STOREPROV_PCSC_FORWARD(SCardStatus, hCard, szReaderName, pcchReaderLen, pdwState, pdwProtocol,
                         pbAtr, pcbAtrLen);
}

LONG SCardGetStatusChange(SCARDCONTEXT hContext, DWORD dwTimeout, SCARD_READERSTATE* rgReaderStates,
                          DWORD cReaders) {
  STOREPROV_PCSC_FORWARD(SCardGetStatusChange, hContext, dwTimeout, rgReaderStates, cReaders);
}

LONG SCardBeginTransaction(SCARDHANDLE hCard) {
  STOREPROV_PCSC_FORWARD(SCardBeginTransaction, hCard);
}

LONG SCardEndTransaction(SCARDHANDLE hCard, DWORD dwDisposition) {
  STOREPROV_PCSC_FORWARD(SCardEndTransaction, hCard, dwDisposition);
}

LONG SCardTransmit(SCARDHANDLE hCard, const SCARD_IO_REQUEST* pioSendPci, LPCBYTE pbSendBuffer,
                   DWORD cbSendLength, SCARD_IO_REQUEST* pioRecvPci, LPBYTE pbRecvBuffer,
                   LPDWORD pcbRecvLength) {
  STOREPROV_PCSC_FORWARD(SCardTransmit, hCard, pioSendPci, pbSendBuffer, cbSendLength, pioRecvPci,
                         pbRecvBuffer, pcbRecvLength);
}

}  // extern "C"
