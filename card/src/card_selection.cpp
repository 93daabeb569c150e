// Connecting to the card: directly when one reader holds it, through the
// card-selection dialog when several do. Part of orvel_card_ui, the piece of
// the card library that only the deliverables link.
#include <cstring>
#include <memory>

#include "card/card_connection.h"
#include "common/module_instance.h"
#include "platform/resources.h"
#include "platform/scarddlg.h"

namespace {

constexpr DWORD kDialogBufferSize = 260;

// Length of a multi-string including its final terminator.
std::size_t MultiStringSize(const char* multi) {
  const char* p = multi;
  while (*p != '\0') p += std::strlen(p) + 1;
  return static_cast<std::size_t>(p - multi) + 1;
}

}  // namespace

bool ConnectToCard(SCARDCONTEXT context, LPCSTR cardNames, SCARDHANDLE* card) {
  std::unique_ptr<char[]> readers;
  DWORD count = 0;
  if (!FindReadersWithCard(context, cardNames, &readers, &count)) return false;

  if (count == 1) {
    SCARDHANDLE handle = 0;
    if (!ConnectReader(context, readers.get(), &handle)) return false;
    if (card != nullptr) {
      *card = handle;
    } else {
      DisconnectCard(handle, SCARD_LEAVE_CARD);  // nobody to hand it to
    }
    return true;
  }

  // Several readers hold such a card: the user chooses.
  char names[kDialogBufferSize] = {};
  char reader[kDialogBufferSize] = {};
  char cardName[kDialogBufferSize] = {};
  char title[kDialogBufferSize] = {};
  const std::size_t namesSize = MultiStringSize(cardNames);
  if (namesSize > sizeof(names)) return false;  // the list must fit whole
  std::memcpy(names, cardNames, namesSize);

  OPENCARDNAMEA request{};
  request.dwStructSize = sizeof(OPENCARDNAMEA);
  request.hwndOwner = nullptr;
  request.hSCardContext = context;
  request.lpstrGroupNames = nullptr;
  request.nMaxGroupNames = 0;
  request.lpstrCardNames = names;
  request.nMaxCardNames = static_cast<DWORD>(std::strlen(cardNames));
  request.rgguidInterfaces = nullptr;
  request.cguidInterfaces = 0;
  request.lpstrRdr = reader;
  request.nMaxRdr = kDialogBufferSize;
  request.lpstrCard = cardName;
  request.nMaxCard = kDialogBufferSize;
  request.lpstrTitle =
      LoadStringA(ModuleInstance, CardSelectionTitleId, title, kDialogBufferSize) != 0 ? title
                                                                                       : nullptr;
  request.dwFlags = SC_DLG_MINIMAL_UI;
  request.pvUserData = nullptr;
  request.dwShareMode = SCARD_SHARE_SHARED;
  request.dwPreferredProtocols = SCARD_PROTOCOL_T0;
  request.lpfnConnect = nullptr;
  request.lpfnCheck = nullptr;
  request.lpfnDisconnect = nullptr;

  if (GetOpenCardNameA(&request) != SCARD_S_SUCCESS) return false;
  if (card != nullptr) {
    *card = request.hCardHandle;
  } else {
    DisconnectCard(request.hCardHandle, SCARD_LEAVE_CARD);
  }
  return true;
}
