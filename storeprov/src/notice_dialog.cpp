#include "storeprov/messages.h"

#include "common/module_instance.h"
#include "platform/resources.h"
#include "storeprov_resources.h"
#include "window_placement.h"

void ShowNotice(UINT textId) {
  char text[260];
  LoadStringA(ModuleInstance, textId, text, sizeof text);
  RunDialog(ModuleInstance, kNoticeDialogTemplateId, NoticeDialogProc,
            reinterpret_cast<LPARAM>(text));
}

INT_PTR NoticeDialogProc(DialogHost& dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      dialog.SetItemText(kNoticeTextId, QString::fromUtf8(reinterpret_cast<const char*>(lParam)));
      CenterWindow(&dialog);
      dialog.SetDefaultId(IDOK);
      return TRUE;
    case WM_COMMAND:
      // Only OK ends the notice: Escape and the close box change nothing.
      if (CommandId(wParam) == IDOK) {
        dialog.End(IDOK);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}
