// Running the platform's modal dialogs, with a hook through which tests
// answer them as a person would.
#pragma once

#include <functional>

class QDialog;

namespace platform {

// Called with every modal dialog the platform runs, once it is on screen and
// its event loop is running. The hook may click buttons, type, select, or
// close the dialog. An empty function removes the hook.
using DialogShownHook = std::function<void(QDialog&)>;
void SetDialogShownHook(DialogShownHook hook);

// Shows the dialog modally and returns QDialog::exec()'s result.
int RunModalDialog(QDialog& dialog);

}  // namespace platform
