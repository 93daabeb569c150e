// The smart-card common dialog: choosing a reader that holds a card of given
// names and connecting to it.
#pragma once

#include "platform/winscard_ext.h"

#define SC_DLG_MINIMAL_UI 0x01  // show the dialog only when the choice is not obvious
#define SC_DLG_NO_UI 0x02       // never show it
#define SC_DLG_FORCE_UI 0x04    // always show it

typedef SCARDHANDLE (*LPOCNCONNPROCA)(SCARDCONTEXT, LPSTR, LPSTR, PVOID);
typedef BOOL (*LPOCNCHKPROC)(SCARDCONTEXT, SCARDHANDLE, PVOID);
typedef void (*LPOCNDSCPROC)(SCARDCONTEXT, SCARDHANDLE, PVOID);

// dwStructSize must be sizeof(OPENCARDNAMEA) on this platform.
typedef struct {
  DWORD dwStructSize;
  HWND hwndOwner;
  SCARDCONTEXT hSCardContext;
  LPSTR lpstrGroupNames;  // not used: every reader is offered
  DWORD nMaxGroupNames;
  LPSTR lpstrCardNames;  // multi-string of card names from the card database
  DWORD nMaxCardNames;
  LPCGUID rgguidInterfaces;
  DWORD cguidInterfaces;
  LPSTR lpstrRdr;  // out: the chosen reader
  DWORD nMaxRdr;
  LPSTR lpstrCard;  // out: the name under which its card matched
  DWORD nMaxCard;
  LPCSTR lpstrTitle;  // NULL: the dialog's own title
  DWORD dwFlags;
  PVOID pvUserData;
  DWORD dwShareMode;  // 0: choose without connecting
  DWORD dwPreferredProtocols;
  DWORD dwActiveProtocol;      // out
  LPOCNCONNPROCA lpfnConnect;  // callbacks are not supported: must be NULL
  LPOCNCHKPROC lpfnCheck;
  LPOCNDSCPROC lpfnDisconnect;
  SCARDHANDLE hCardHandle;  // out
} OPENCARDNAMEA, *POPENCARDNAMEA, *LPOPENCARDNAMEA;

extern "C" {
// Finds the readers whose card matches one of lpstrCardNames. With
// SC_DLG_MINIMAL_UI and exactly one such reader it is taken without a
// dialog; otherwise a modal dialog titled lpstrTitle lists them and the user
// chooses one. The chosen reader is connected with dwShareMode and
// dwPreferredProtocols (when dwShareMode is not 0) and its names and handle
// are written to the record. SCARD_W_CANCELLED_BY_USER when the user
// cancels; SCARD_E_NO_SMARTCARD with SC_DLG_NO_UI and not exactly one match.
LONG GetOpenCardNameA(LPOPENCARDNAMEA request);
}
