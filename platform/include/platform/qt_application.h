// The Qt application object behind every window of the platform.
#pragma once

#include <functional>

class QApplication;

namespace platform {

// The program's QApplication. A program that has made its own is left alone
// (and gets nullptr back if it is not a widgets application). Otherwise one
// is made on first use, on the calling thread, with the Spanish translations
// of Qt's standard texts; without a display it uses the offscreen platform.
QApplication* EnsureQtApplication();

// Runs work on the thread of the Qt application (windows live there) and
// waits for it: at once when called on that thread, otherwise through the
// application's event loop, which must be running. False, without running
// work, when there is no widgets application to run it.
bool RunOnGuiThread(const std::function<void()>& work);

}  // namespace platform
