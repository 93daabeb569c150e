// The store's control function: resynchronisation and change notification.
#include "change_events.h"
#include "entry_guard.h"
#include "populate_card_store.h"
#include "storeprov/entry_points.h"

namespace {

BOOL Control(HCERTSTOREPROV hStoreProv, DWORD dwCtrlType, void const* pvCtrlPara) {
  switch (dwCtrlType) {
    case CERT_STORE_CTRL_RESYNC:
      // Without an event to register there is nothing to resynchronise for.
      if (pvCtrlPara == nullptr) return FALSE;
      if (!PopulateCardStore(static_cast<HCERTSTORE>(hStoreProv))) return FALSE;
      RegisterChangeEvent(*static_cast<const HANDLE*>(pvCtrlPara));
      return TRUE;
    case CERT_STORE_CTRL_NOTIFY_CHANGE:
      if (pvCtrlPara == nullptr) return FALSE;
      RegisterChangeEvent(*static_cast<const HANDLE*>(pvCtrlPara));
      return TRUE;
    default:
      return TRUE;
  }
}

}  // namespace

extern "C" BOOL CertStoreProvControl(HCERTSTOREPROV hStoreProv, DWORD dwFlags, DWORD dwCtrlType,
                                     void const* pvCtrlPara) {
  return GuardedEntry<BOOL>(FALSE, [&] { return Control(hStoreProv, dwCtrlType, pvCtrlPara); });
}
