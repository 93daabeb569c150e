// The tests' own Qt application on the offscreen platform, made before the
// tests and destroyed when main returns, ahead of the process's exit
// handlers; the module's resources are the program's.
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>

#include "common/module_instance.h"
#include "platform/module_handle.h"

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication application(argc, argv);
  ModuleInstance = platform::ProgramModule();
  return RUN_ALL_TESTS();
}
