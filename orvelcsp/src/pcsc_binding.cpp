// The PC/SC functions this module calls, bound at run time to the PC/SC
// library of the hosting process.
//
// A provider module is loaded by the platform with dlopen(RTLD_LOCAL) into
// programs that reach PC/SC in different ways: programs linked with
// pcsc-lite (or, in tests, with the in-process fake library) have the SCard*
// symbols in the global scope; a program that loaded pcsc-lite only as the
// dependency of another module keeps them in that module's local scope; a
// program may have no PC/SC at all. The module therefore links against no
// PC/SC library and defines the few functions it uses itself, as hidden
// forwarders: each looks its target up once in the global scope and, when it
// is not there, in "libpcsclite.so.1", opened by the module (dlopen hands back
// the instance already loaded, if any, so the process keeps one resource
// manager client).
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
#define ORVELCSP_FORWARD(name, ...)                                        \
  static auto* const target = Bind<decltype(name)>(#name);                 \
  if (target == nullptr) return SCARD_E_NO_SERVICE;                        \
  return target(__VA_ARGS__)

extern "C" {

// The protocol control information of T=0; the resource manager reads its
// contents, not its address.
const SCARD_IO_REQUEST g_rgSCardT0Pci = {SCARD_PROTOCOL_T0, sizeof(SCARD_IO_REQUEST)};

LONG SCardEstablishContext(DWORD dwScope, LPCVOID pvReserved1, LPCVOID pvReserved2,
                           LPSCARDCONTEXT phContext) {
  ORVELCSP_FORWARD(SCardEstablishContext, dwScope, pvReserved1, pvReserved2, phContext);
}

LONG SCardReleaseContext(SCARDCONTEXT hContext) {
  ORVELCSP_FORWARD(SCardReleaseContext, hContext);
}

LONG SCardListReaders(SCARDCONTEXT hContext, LPCSTR mszGroups, LPSTR mszReaders,
                      LPDWORD pcchReaders) {
  ORVELCSP_FORWARD(SCardListReaders, hContext, mszGroups, mszReaders, pcchReaders);
}

LONG SCardFreeMemory(SCARDCONTEXT hContext, LPCVOID pvMem) {
  ORVELCSP_FORWARD(SCardFreeMemory, hContext, pvMem);
}

LONG SCardConnect(SCARDCONTEXT hContext, LPCSTR szReader, DWORD dwShareMode,
                  DWORD dwPreferredProtocols, LPSCARDHANDLE phCard, LPDWORD pdwActiveProtocol) {
  ORVELCSP_FORWARD(SCardConnect, hContext, szReader, dwShareMode, dwPreferredProtocols, phCard,
                   pdwActiveProtocol);
}

LONG SCardDisconnect(SCARDHANDLE hCard, DWORD dwDisposition) {
  ORVELCSP_FORWARD(SCardDisconnect, hCard, dwDisposition);
}

LONG SCardBeginTransaction(SCARDHANDLE hCard) { ORVELCSP_FORWARD(SCardBeginTransaction, hCard); }

LONG SCardEndTransaction(SCARDHANDLE hCard, DWORD dwDisposition) {
  ORVELCSP_FORWARD(SCardEndTransaction, hCard, dwDisposition);
}

LONG SCardTransmit(SCARDHANDLE hCard, const SCARD_IO_REQUEST* pioSendPci, LPCBYTE pbSendBuffer,
                   DWORD cbSendLength, SCARD_IO_REQUEST* pioRecvPci, LPBYTE pbRecvBuffer,
                   LPDWORD pcbRecvLength) {
  ORVELCSP_FORWARD(SCardTransmit, hCard, pioSendPci, pbSendBuffer, cbSendLength, pioRecvPci,
                   pbRecvBuffer, pcbRecvLength);
}

}  // extern "C"
