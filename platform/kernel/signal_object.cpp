#include "signal_object.h"

namespace platform::kernel {

DWORD SignalObject::Wait(DWORD milliseconds) {
  std::unique_lock lock(m_mutex);
  if (!WaitUntil(m_changed, lock, DeadlineAfter(milliseconds), [this] { return m_signalled; })) {
    return WAIT_TIMEOUT;
  }
  if (!m_manualReset) m_signalled = false;
  return WAIT_OBJECT_0;
}

void SignalObject::Set() {
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

void SignalObject::Reset() {
  std::lock_guard lock(m_mutex);
  m_signalled = false;
}

}  // namespace platform::kernel
