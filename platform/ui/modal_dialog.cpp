#include "platform/modal_dialog.h"

#include <QDialog>
#include <QPointer>
#include <QTimer>

#include <mutex>

#include "modal_cursor.h"

namespace platform {
namespace {

std::mutex g_hookMutex;
DialogShownHook g_hook;

DialogShownHook CurrentHook() {
  std::lock_guard lock(g_hookMutex);
  return g_hook;
}

}  // namespace

void SetDialogShownHook(DialogShownHook hook) {
  std::lock_guard lock(g_hookMutex);
  g_hook = std::move(hook);
}

int RunModalDialog(QDialog& dialog) {
  if (DialogShownHook hook = CurrentHook()) {
    // Fires from the dialog's own event loop, once it is shown.
    QPointer<QDialog> guard(&dialog);
    QTimer::singleShot(0, &dialog, [guard, hook] {
      if (guard) hook(*guard);
    });
  }
  const ModalCursorScope arrow;
  return dialog.exec();
}

}  // namespace platform
