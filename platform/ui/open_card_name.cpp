// GetOpenCardNameA: find the readers whose card matches the wanted names,
// let the user choose when there is more than one, connect to the choice.
#include <QString>

#include <cstring>
#include <string>
#include <vector>

#include "card_selection_dialog.h"
#include "platform/card_database.h"
#include "platform/handle_guards.h"
#include "platform/modal_dialog.h"
#include "platform/qt_application.h"
#include "platform/scarddlg.h"

namespace {

using platform::CardChoice;

// The names of a multi-string, up to its empty name.
std::vector<std::string> SplitMultiString(const char* multi) {
  std::vector<std::string> names;
  for (const char* p = multi; *p != '\0'; p += std::strlen(p) + 1) names.emplace_back(p);
  return names;
}

// Readers holding a card of one of the wanted names, in reader-list order,
// each with the name its card matched under.
LONG FindChoices(SCARDCONTEXT context, const char* cardNames, std::vector<CardChoice>& choices) {
  CReaderNames list(context);
  LONG rv = list.List();
  if (rv == SCARD_E_NO_READERS_AVAILABLE) return SCARD_S_SUCCESS;
  if (rv != SCARD_S_SUCCESS) return rv;
  if (list.Get() == nullptr) return SCARD_S_SUCCESS;

  const std::vector<std::string> readers = SplitMultiString(list.Get());
  std::vector<SCARD_READERSTATEA> states(readers.size());
  for (std::size_t i = 0; i < readers.size(); ++i) {
    states[i] = SCARD_READERSTATEA{};
    states[i].szReader = readers[i].c_str();
    states[i].dwCurrentState = SCARD_STATE_UNAWARE;
  }
  rv = SCardLocateCardsA(context, cardNames, states.data(), static_cast<DWORD>(states.size()));
  if (rv != SCARD_S_SUCCESS) return rv;

  std::vector<platform::CardType> types;
  for (const std::string& name : SplitMultiString(cardNames)) {
    if (auto type = platform::FindCardType(name)) types.push_back(std::move(*type));
  }
  for (const SCARD_READERSTATEA& state : states) {
    if ((state.dwEventState & SCARD_STATE_ATRMATCH) == 0) continue;
    CardChoice choice{state.szReader, {}};
    for (const platform::CardType& type : types) {
      if (platform::AtrMatches(type, state.rgbAtr, state.cbAtr)) {
        choice.card = type.name;
        break;
      }
    }
    choices.push_back(std::move(choice));
  }
  return SCARD_S_SUCCESS;
}

// Asks the user; -1 when the dialog was cancelled or could not be shown.
int AskUser(const char* title, const std::vector<CardChoice>& choices) {
  int chosen = -1;
  const bool ran = platform::RunOnGuiThread([&] {
    const QString caption =
        title != nullptr ? QString::fromUtf8(title) : QStringLiteral("Seleccionar tarjeta");
    platform::CardSelectionDialog dialog(caption, choices);
    if (platform::RunModalDialog(dialog) == QDialog::Accepted) chosen = dialog.SelectedIndex();
  });
  return ran ? chosen : -1;
}

// Copies text and its terminator when a buffer is given; its capacity has
// been checked.
void CopyOut(const std::string& text, LPSTR buffer) {
  if (buffer != nullptr) std::memcpy(buffer, text.c_str(), text.size() + 1);
}

}  // namespace

extern "C" LONG GetOpenCardNameA(LPOPENCARDNAMEA request) {
  if (request == nullptr || request->dwStructSize != sizeof(OPENCARDNAMEA) ||
      request->lpstrCardNames == nullptr || request->lpfnConnect != nullptr ||
      request->lpfnCheck != nullptr || request->lpfnDisconnect != nullptr) {
    return SCARD_E_INVALID_PARAMETER;
  }
  const SCARDCONTEXT context = request->hSCardContext;

  std::vector<CardChoice> choices;
  LONG rv = FindChoices(context, request->lpstrCardNames, choices);
  if (rv != SCARD_S_SUCCESS) return rv;

  int chosen = -1;
  const DWORD flags = request->dwFlags;
  if ((flags & SC_DLG_NO_UI) != 0) {
    if (choices.size() != 1) return SCARD_E_NO_SMARTCARD;
    chosen = 0;
  } else if ((flags & SC_DLG_FORCE_UI) == 0 && (flags & SC_DLG_MINIMAL_UI) != 0 &&
             choices.size() == 1) {
    chosen = 0;
  } else {
    chosen = AskUser(request->lpstrTitle, choices);
    if (chosen < 0 || static_cast<std::size_t>(chosen) >= choices.size()) {
      return SCARD_W_CANCELLED_BY_USER;
    }
  }
  const CardChoice& choice = choices[static_cast<std::size_t>(chosen)];

  if ((request->lpstrRdr != nullptr && choice.reader.size() + 1 > request->nMaxRdr) ||
      (request->lpstrCard != nullptr && choice.card.size() + 1 > request->nMaxCard)) {
    return SCARD_E_INSUFFICIENT_BUFFER;
  }
  if (request->dwShareMode != 0) {
    SCARDHANDLE card = 0;
    DWORD protocol = 0;
    rv = SCardConnectA(context, choice.reader.c_str(), request->dwShareMode,
                       request->dwPreferredProtocols, &card, &protocol);
    if (rv != SCARD_S_SUCCESS) return rv;
    request->hCardHandle = card;
    request->dwActiveProtocol = protocol;
  }
  CopyOut(choice.reader, request->lpstrRdr);
  CopyOut(choice.card, request->lpstrCard);
  return SCARD_S_SUCCESS;
}
