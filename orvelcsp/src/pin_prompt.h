// Asking the user for the card's PIN, in the provider's own small dialog.
//
// The provider module links no user interface: it is loaded into every kind
// of program (the platform tool, the store provider's hosts, services). The
// dialog lives in a module of its own, liborvelcsp_pin.so beside this one,
// which links the platform's user interface (Qt). It is loaded only when the
// hosting program already has the platform's user interface loaded
// (liborvel_ui.so); in any other program no dialog can be shown and the
// operation fails with SCARD_W_CARD_NOT_AUTHENTICATED, as it would on a card
// that never saw the PIN. The hosting program never pays for Qt it did not
// bring itself.
#pragma once

#include <span>
#include <string>

#include "platform/wincrypt.h"

namespace orvelcsp {

// The entry point of the dialog module: shows the dialog for the reader and
// writes the PIN typed, zero-terminated, into pin (capacity bytes).
// 1: a PIN was typed; 0: the user cancelled; -1: no dialog can be shown here.
#define ORVELCSP_ASK_PIN_ENTRY "OrvelCspAskPin"
typedef int (*PFN_ORVELCSP_ASK_PIN)(const char* reader, char* pin, std::size_t capacity);

// ERROR_SUCCESS with the PIN in pin; SCARD_W_CANCELLED_BY_USER when the user
// cancelled; SCARD_W_CARD_NOT_AUTHENTICATED when no dialog can be shown.
DWORD AskForPin(const std::string& reader, std::span<char> pin);

}  // namespace orvelcsp
