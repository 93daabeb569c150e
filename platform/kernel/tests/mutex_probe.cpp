// A second process for the named-mutex tests.
//   mutex_probe hold NAME MS     take the mutex, say "owned", keep it MS ms, release it
//   mutex_probe die NAME         take the mutex, say "owned", end without releasing it
//   mutex_probe count NAME FILE N
//                                N times: take the mutex, add one to the number in
//                                FILE (slowly), release it
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/kernel.h"

namespace {

HANDLE Open(const char* name) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
  if (!mutex) {
    std::fprintf(stderr, "CreateMutexA failed: %lu\n", static_cast<unsigned long>(GetLastError()));
    std::exit(3);
  }
  return mutex;
}

void Say(const char* text, DWORD result) {
  std::printf("%s %lu\n", text, static_cast<unsigned long>(result));
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string command = argv[1];
  HANDLE mutex = Open(argv[2]);
  if (command == "hold" && argc == 4) {
    Say("owned", WaitForSingleObject(mutex, INFINITE));
    Sleep(static_cast<DWORD>(std::atoi(argv[3])));
    if (!ReleaseMutex(mutex)) return 4;
    Say("released", 0);
    return 0;
  }
  if (command == "die") {
    Say("owned", WaitForSingleObject(mutex, INFINITE));
    _exit(0);  // no release, no clean-up
  }
  if (command == "count" && argc == 5) {
    const int rounds = std::atoi(argv[4]);
    for (int i = 0; i < rounds; ++i) {
      const DWORD wait = WaitForSingleObject(mutex, 10000);
      if (wait != WAIT_OBJECT_0) return 5;
      long value = 0;
      std::ifstream(argv[3]) >> value;
      Sleep(1);  // widen the window in which an unguarded writer would interleave
      std::ofstream(argv[3], std::ios::trunc) << value + 1;
      if (!ReleaseMutex(mutex)) return 4;
    }
    return 0;
  }
  return 2;
}
