// A program that ends with the store provider's state alive (no last
// detach) while its watcher thread runs, and that signals the registered
// events as the watcher does while the program ends. It prints "exiting"
// just before it returns from main; the exit status tells what went wrong:
// 2 the watcher did not start, 3 it did not signal an insertion, 4 the
// signal at exit reached no event.
#include <cstdio>
#include <cstdlib>

#include "cardsim/fake_pcsc.h"
#include "change_events.h"
#include "common/module_instance.h"
#include "platform/kernel_objects.h"  // first: the platform defines INFINITE before PC/SC
#include "platform/module_handle.h"
#include "reader_state.h"
#include "reader_watcher.h"
#include "support/card_certificates.h"

namespace {

HANDLE g_event = nullptr;

void SignalAtExit() {
  SignalChangeEvents();
  if (WaitForSingleObject(g_event, 0) != WAIT_OBJECT_0) std::_Exit(4);
}

}  // namespace

int main() {
  ModuleInstance = platform::ProgramModule();
  fakepcsc::Reset();
  fakepcsc::AddReader("Lector 0");
  InitializeReaderState();
  ListReadersIntoTable("Lector 0\0");
  if (!StartReaderWatcher()) return 2;
  // Runs as the program ends, after whatever is made from here on is gone.
  std::atexit(SignalAtExit);
  g_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  RegisterChangeEvent(g_event);
  fakepcsc::InsertCard("Lector 0", storeprov_test::CardWithCertificates(0x51, {}));
  if (WaitForSingleObject(g_event, 10000) != WAIT_OBJECT_0) return 3;
  ResetEvent(g_event);
  std::puts("exiting");
  std::fflush(stdout);
  return 0;
}
