// The events that applications registered through the store's control
// function, set when a card is inserted. The list keeps the handle values
// only; the events belong to the applications and are never closed here.
#pragma once

#include <mutex>
#include <vector>

#include "platform/win32.h"

class ChangeEventList {
 public:
  // Resets the event and remembers it once, in order of registration.
  void Register(HANDLE event);
  // Sets every remembered event, in order of registration.
  void SignalAll();
  // Forgets every event (the handles are left alone).
  void Clear();
  std::vector<HANDLE> Events() const;

 private:
  mutable std::mutex m_mutex;
  std::vector<HANDLE> m_events;
};

ChangeEventList& TheChangeEventList();

void RegisterChangeEvent(HANDLE event);
void SignalChangeEvents();
