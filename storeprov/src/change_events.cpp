#include "change_events.h"

#include <algorithm>

#include "platform/kernel_objects.h"
// After the kernel objects: both define INFINITE, the platform first.
#include "module_state.h"

void ChangeEventList::Register(HANDLE event) {
  ResetEvent(event);
  std::lock_guard lock(m_mutex);
  if (std::find(m_events.begin(), m_events.end(), event) == m_events.end()) {
    m_events.push_back(event);
  }
}

void ChangeEventList::SignalAll() {
  // Set outside the lock: a registration never waits for the signalling.
  for (HANDLE event : Events()) SetEvent(event);
}

void ChangeEventList::Clear() {
  std::lock_guard lock(m_mutex);
  std::vector<HANDLE>().swap(m_events);
}

std::vector<HANDLE> ChangeEventList::Events() const {
  std::lock_guard lock(m_mutex);
  return m_events;
}

ChangeEventList& TheChangeEventList() { return TheModuleState().changeEvents; }

void RegisterChangeEvent(HANDLE event) { TheChangeEventList().Register(event); }

void SignalChangeEvents() { TheChangeEventList().SignalAll(); }
