#include "kernel_handles.h"

#include "platform/handle_table.h"

namespace platform::kernel {
namespace {

// Multiples of four, as the platform's handles are. Never destroyed:
// handles may still be closed by static destructors of other modules when
// the process ends.
HandleTable<KernelObject>& Table() {
  static auto& table = *new HandleTable<KernelObject>(0x1000, 4);
  return table;
}

}  // namespace

HANDLE AddHandle(std::shared_ptr<KernelObject> object) {
  return reinterpret_cast<HANDLE>(Table().Add(std::move(object)));
}

std::shared_ptr<KernelObject> FindHandle(HANDLE handle) {
  return Table().Get(reinterpret_cast<ULONG_PTR>(handle));
}

bool RemoveHandle(HANDLE handle) {
  return Table().Take(reinterpret_cast<ULONG_PTR>(handle)) != nullptr;
}

}  // namespace platform::kernel

using namespace platform::kernel;

extern "C" DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  std::shared_ptr<KernelObject> object = FindHandleOf<KernelObject>(hHandle);
  return object ? object->Wait(dwMilliseconds) : WAIT_FAILED;
}

extern "C" BOOL CloseHandle(HANDLE hObject) {
  if (RemoveHandle(hObject)) return TRUE;
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}
