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
  EventObject(bool manualReset, bool signalled)
      : m_manualReset(manualReset), m_signalled(signalled) {}

  DWORD Wait(DWORD milliseconds) override {
    std::unique_lock lock(m_mutex);
    auto ready = [this] { return m_signalled; };
    if (milliseconds == INFINITE) {
      m_changed.wait(lock, ready);
    } else if (!m_changed.wait_for(lock, std::chrono::milliseconds(milliseconds), ready)) {
      return WAIT_TIMEOUT;
    }
    if (!m_manualReset) m_signalled = false;
    return WAIT_OBJECT_0;
  }

  void Set() {
    {
      std::lock_guard lock(m_mutex);
      m_signalled = true;
    }
    if (m_manualReset) {
      m_changed.notify_all();
    } else {
      m_changed.notify_one();
    }
  }

  void Reset() {
    std::lock_guard lock(m_mutex);
    m_signalled = false;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  const bool m_manualReset;
  bool m_signalled;
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
