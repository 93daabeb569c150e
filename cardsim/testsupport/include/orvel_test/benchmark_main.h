// The main of a benchmark program whose benchmarks share one private user
// directory and the program's module instance.
#pragma once

#include <benchmark/benchmark.h>

#include "common/module_instance.h"
#include "platform/module_handle.h"
#include "platform_test/scoped_user_dir.h"

namespace orvel_test {

inline int RunBenchmarksInUserDir(int argc, char** argv) {
  platform_test::ScopedUserDir userDir;
  ModuleInstance = platform::ProgramModule();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

}  // namespace orvel_test
