#include "platform/qt_application.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QThread>
#include <QTranslator>

#include <cstdlib>
#include <memory>

namespace platform {
namespace {

struct OwnApplication {
  int argc = 1;
  char name[6] = "orvel";
  char* argv[2] = {name, nullptr};
  std::unique_ptr<QApplication> app;
  std::unique_ptr<QTranslator> translator;

  OwnApplication() {
    const bool haveDisplay = std::getenv("DISPLAY") != nullptr ||
                             std::getenv("WAYLAND_DISPLAY") != nullptr ||
                             std::getenv("QT_QPA_PLATFORM") != nullptr;
    if (!haveDisplay) setenv("QT_QPA_PLATFORM", "offscreen", 0);
    app = std::make_unique<QApplication>(argc, argv);
    // The user interface is Spanish, the standard buttons included.
    translator = std::make_unique<QTranslator>();
    if (translator->load(QLocale(QLocale::Spanish), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
      QCoreApplication::installTranslator(translator.get());
    }
  }
  ~OwnApplication() {
    if (app) QCoreApplication::removeTranslator(translator.get());
  }
};

}  // namespace

QApplication* EnsureQtApplication() {
  if (QCoreApplication* existing = QCoreApplication::instance()) {
    return qobject_cast<QApplication*>(existing);
  }
  // Made once and never destroyed: Qt makes some of its own process-wide
  // objects lazily (the input devices, on the first key event), and those go
  // at exit before an application destroyed by a static destructor would,
  // which then crashes the ending program. The process's end takes the
  // application with it.
  static OwnApplication& own = *new OwnApplication();
  return own.app.get();
}

bool RunOnGuiThread(const std::function<void()>& work) {
  QApplication* app = EnsureQtApplication();
  if (app == nullptr) return false;
  if (QThread::currentThread() == app->thread()) {
    work();
    return true;
  }
  return QMetaObject::invokeMethod(app, work, Qt::BlockingQueuedConnection);
}

}  // namespace platform
