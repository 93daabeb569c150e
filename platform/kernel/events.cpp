// Events: manual-reset ones stay signalled until reset and release every
// waiter; auto-reset ones release one waiter and reset themselves.
#include <condition_variable>
#include <mutex>

#include "kernel_handles.h"
#include "named_objects.h"

namespace platform::kernel {
namespace {

class EventObject final : public KernelObject {
 public:
  EventObject(bool manualReset, bool signalled) : manualReset_(manualReset), signalled_(signalled) {}

  DWORD Wait(DWORD milliseconds) override {
    std::unique_lock lock(mutex_);
    auto ready = [this] { return signalled_; };
    if (milliseconds == INFINITE) {
      changed_.wait(lock, ready);
    } else if (!changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), ready)) {
      return WAIT_TIMEOUT;
    }
    if (!manualReset_) signalled_ = false;
    return WAIT_OBJECT_0;
  }

  void Set() {
    {
      std::lock_guard lock(mutex_);
      signalled_ = true;
    }
    if (manualReset_) {
      changed_.notify_all();
    } else {
      changed_.notify_one();
    }
  }

  void Reset() {
    std::lock_guard lock(mutex_);
    signalled_ = false;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  const bool manualReset_;
  bool signalled_;
};

}  // namespace
}  // namespace platform::kernel

using namespace platform::kernel;

extern "C" HANDLE CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset,
                               BOOL bInitialState, LPCSTR lpName) {
  auto make = [&]() -> std::shared_ptr<EventObject> {
    return std::make_shared<EventObject>(bManualReset != FALSE, bInitialState != FALSE);
  };
  std::shared_ptr<EventObject> event;
  DWORD error = ERROR_SUCCESS;
  if (lpName && *lpName) {
    switch (FindOrCreateNamed<EventObject>(lpName, event, make)) {
      case NameLookup::kCreated:
        break;
      case NameLookup::kExisting:
        error = ERROR_ALREADY_EXISTS;
        break;
      case NameLookup::kWrongType:
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
      case NameLookup::kFailed:
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
  } else {
    event = make();
  }
  HANDLE handle = AddHandle(event);
  SetLastError(error);
  return handle;
}

extern "C" BOOL SetEvent(HANDLE hEvent) {
  auto event = FindHandleOf<EventObject>(hEvent);
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  event->Set();
  return TRUE;
}

extern "C" BOOL ResetEvent(HANDLE hEvent) {
  auto event = FindHandleOf<EventObject>(hEvent);
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  event->Reset();
  return TRUE;
}
