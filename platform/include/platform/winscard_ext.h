// The smart-card resource manager as this platform offers it: pcsc-lite's
// SCard* functions used as they are, plus the ANSI-named entry points and the
// card database that pcsc-lite lacks.
//
// pcsc-lite's SCARD_READERSTATE is laid out differently from other
// platforms' (pointer-sized DWORDs, a 33-byte ATR): size arrays with sizeof.
#pragma once

#include <winscard.h>

#include "platform/win32.h"

typedef SCARD_READERSTATE SCARD_READERSTATEA;
typedef SCARD_READERSTATE* PSCARD_READERSTATEA;
typedef SCARD_READERSTATE* LPSCARD_READERSTATEA;

extern "C" {

// ANSI names of pcsc-lite's functions (pcsc-lite's strings are already
// narrow); they behave exactly as the pcsc-lite function they forward to.
LONG SCardListReadersA(SCARDCONTEXT hContext, LPCSTR mszGroups, LPSTR mszReaders,
                       LPDWORD pcchReaders);
LONG SCardConnectA(SCARDCONTEXT hContext, LPCSTR szReader, DWORD dwShareMode,
                   DWORD dwPreferredProtocols, LPSCARDHANDLE phCard, LPDWORD pdwActiveProtocol);
LONG SCardGetStatusChangeA(SCARDCONTEXT hContext, DWORD dwTimeout,
                           LPSCARD_READERSTATEA rgReaderStates, DWORD cReaders);

// Card database: a card name stands for an ATR and a mask of the same
// length. A card matches a name when its ATR has that length and
// (ATR & mask) == (registered ATR & mask), byte for byte. The database is
// per user. pbAtrMask may be NULL (every bit counts). Introducing a name
// that exists replaces its ATR and mask. The provider and interface GUIDs
// are accepted and not kept.
LONG SCardIntroduceCardTypeA(SCARDCONTEXT hContext, LPCSTR szCardName, LPCGUID pguidPrimaryProvider,
                             LPCGUID rgguidInterfaces, DWORD dwInterfaceCount, LPCBYTE pbAtr,
                             LPCBYTE pbAtrMask, DWORD cbAtrLen);
LONG SCardForgetCardTypeA(SCARDCONTEXT hContext, LPCSTR szCardName);

// For each reader state: reads the reader's current state and ATR (as
// SCardGetStatusChangeA does, without waiting) into dwEventState, cbAtr and
// rgbAtr, and adds SCARD_STATE_ATRMATCH when the reader holds a card that
// matches one of the names of the multi-string mszCards. SCARD_STATE_CHANGED
// is set when the state differs from dwCurrentState. SCARD_E_UNKNOWN_CARD
// when a name is not in the card database.
LONG SCardLocateCardsA(SCARDCONTEXT hContext, LPCSTR mszCards, LPSCARD_READERSTATEA rgReaderStates,
                       DWORD cReaders);

}  // extern "C"
