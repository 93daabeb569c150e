// Entering card names into the card database and taking them out again.
#include <string>

#include "platform/card_database.h"
#include "platform/winscard_ext.h"

extern "C" {

LONG SCardIntroduceCardTypeA(SCARDCONTEXT /*hContext*/, LPCSTR szCardName,
                             LPCGUID /*pguidPrimaryProvider*/, LPCGUID /*rgguidInterfaces*/,
                             DWORD /*dwInterfaceCount*/, LPCBYTE pbAtr, LPCBYTE pbAtrMask,
                             DWORD cbAtrLen) {
  if (szCardName == nullptr || *szCardName == '\0' || pbAtr == nullptr || cbAtrLen == 0 ||
      cbAtrLen > MAX_ATR_SIZE) {
    return SCARD_E_INVALID_PARAMETER;
  }
  platform::CardType type;
  type.name = szCardName;
  type.atr.assign(pbAtr, pbAtr + cbAtrLen);
  if (pbAtrMask != nullptr) {
    type.mask.assign(pbAtrMask, pbAtrMask + cbAtrLen);
  } else {
    type.mask.assign(cbAtrLen, 0xFF);
  }
  return platform::RegisterCardType(type) ? SCARD_S_SUCCESS : SCARD_F_UNKNOWN_ERROR;
}

LONG SCardForgetCardTypeA(SCARDCONTEXT /*hContext*/, LPCSTR szCardName) {
  if (szCardName == nullptr || *szCardName == '\0') return SCARD_E_INVALID_PARAMETER;
  if (!platform::FindCardType(szCardName)) return SCARD_E_UNKNOWN_CARD;
  return platform::ForgetCardType(szCardName) ? SCARD_S_SUCCESS : SCARD_F_UNKNOWN_ERROR;
}

}  // extern "C"
