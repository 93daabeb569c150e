// Events: signal objects (signal_object.h), named or not, that their
// holders set and reset.
#include "named_objects.h"
#include "signal_object.h"

namespace platform::kernel {
namespace {

class EventObject final : public SignalObject {
 public:
  using SignalObject::SignalObject;
};

}  // namespace
}  // namespace platform::kernel

using namespace platform::kernel;

extern "C" HANDLE CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset,
                               BOOL bInitialState, LPCSTR lpName) {
  return CreateObjectHandle<EventObject>(lpName, [&](LPCSTR) {
    return std::make_shared<EventObject>(bManualReset != FALSE, bInitialState != FALSE);
  });
}

extern "C" BOOL SetEvent(HANDLE hEvent) {
  auto event = FindHandleOf<EventObject>(hEvent);
  if (!event) return FALSE;
  event->Set();
  return TRUE;
}

extern "C" BOOL ResetEvent(HANDLE hEvent) {
  auto event = FindHandleOf<EventObject>(hEvent);
  if (!event) return FALSE;
  event->Reset();
  return TRUE;
}
