// _beginthread / _beginthreadex on POSIX threads. Each thread is a kernel
// object that becomes signalled when the thread ends, however it ends
// (returning, _endthread or _endthreadex).
#include "platform/runtime_threads.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>

#include "signal_object.h"

namespace platform::kernel {
namespace {

// Signalled once the thread has ended.
class ThreadObject final : public SignalObject {
 public:
  ThreadObject() : SignalObject(true, false) {}
};

struct ThreadStart {
  std::shared_ptr<ThreadObject> object;
  HANDLE handle = nullptr;
  bool closeAtEnd = false;
  void (*start)(void*) = nullptr;
  unsigned (*startEx)(void*) = nullptr;
  void* argument = nullptr;
};

// Signals the thread's end; runs as the trampoline's frame unwinds, also
// when the thread leaves through _endthread (pthread_exit unwinds).
struct EndOfThread {
  const ThreadStart& start;
  ~EndOfThread() {
    start.object->Set();
    if (start.closeAtEnd) RemoveHandle(start.handle);
  }
};

void* Trampoline(void* parameter) {
  const std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(parameter));
  EndOfThread end{*start};
  if (start->start) {
    start->start(start->argument);
  } else {
    start->startEx(start->argument);  // the exit code is not kept
  }
  return nullptr;
}

// Starts the thread, which takes over `start`; false with errno set (and
// `start` still the caller's).
bool Launch(std::unique_ptr<ThreadStart>& start, unsigned stackSize) {
  pthread_attr_t attributes;
  if (int error = pthread_attr_init(&attributes)) {
    errno = error;
    return false;
  }
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  int error = 0;
  if (stackSize != 0) {
    const std::size_t size = std::max<std::size_t>(stackSize, PTHREAD_STACK_MIN);
    error = pthread_attr_setstacksize(&attributes, size);
  }
  pthread_t thread;
  if (error == 0) error = pthread_create(&thread, &attributes, Trampoline, start.get());
  pthread_attr_destroy(&attributes);
  if (error) {
    errno = error;
    return false;
  }
  start.release();  // the thread's now
  return true;
}

}  // namespace
}  // namespace platform::kernel

using namespace platform::kernel;

extern "C" uintptr_t _beginthread(void (*start_address)(void*), unsigned stack_size,
                                  void* arglist) {
  if (!start_address) {
    errno = EINVAL;
    return static_cast<uintptr_t>(-1);
  }
  auto start = std::make_unique<ThreadStart>();
  start->object = std::make_shared<ThreadObject>();
  start->handle = AddHandle(start->object);
  start->closeAtEnd = true;
  start->start = start_address;
  start->argument = arglist;
  const HANDLE handle = start->handle;
  if (!Launch(start, stack_size)) {
    RemoveHandle(handle);
    return static_cast<uintptr_t>(-1);
  }
  return reinterpret_cast<uintptr_t>(handle);
}

extern "C" uintptr_t _beginthreadex(void* security, unsigned stack_size,
                                    unsigned (*start_address)(void*), void* arglist,
                                    unsigned initflag, unsigned* thrdaddr) {
  if (!start_address || initflag != 0) {
    errno = EINVAL;
    return 0;
  }
  static std::atomic<unsigned> nextId{1};
  auto start = std::make_unique<ThreadStart>();
  start->object = std::make_shared<ThreadObject>();
  start->handle = AddHandle(start->object);
  start->startEx = start_address;
  start->argument = arglist;
  const HANDLE handle = start->handle;
  if (!Launch(start, stack_size)) {
    RemoveHandle(handle);
    return 0;
  }
  if (thrdaddr) *thrdaddr = nextId++;
  return reinterpret_cast<uintptr_t>(handle);
}

extern "C" void _endthread(void) { pthread_exit(nullptr); }

extern "C" void _endthreadex(unsigned retval) { pthread_exit(nullptr); }
