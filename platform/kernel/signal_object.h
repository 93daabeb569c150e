// Kernel objects that are signalled or not: events, and threads, which are
// signalled once they have ended. A wait ends when the object is signalled;
// on an auto-reset object it takes the signal with it, so that each Set
// releases one waiter, where a manual-reset object releases every waiter
// until it is reset.
#pragma once

#include "kernel_handles.h"

#include <condition_variable>
#include <mutex>

namespace platform::kernel {

class SignalObject : public KernelObject {
 public:
  SignalObject(bool manualReset, bool signalled)
      : m_manualReset(manualReset), m_signalled(signalled) {}

  DWORD Wait(DWORD milliseconds) override;
  void Set();
  void Reset();

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  const bool m_manualReset;
  bool m_signalled;
};

}  // namespace platform::kernel
