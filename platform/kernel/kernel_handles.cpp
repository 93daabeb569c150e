#include "kernel_handles.h"

#include <mutex>
#include <unordered_map>

namespace platform::kernel {
namespace {

struct HandleTable {
  std::mutex mutex;
  std::unordered_map<HANDLE, std::shared_ptr<KernelObject>> objects;
  // Multiples of four, as the platform's handles are; never reused.
  ULONG_PTR next = 0x1000;
};

// Never destroyed: handles may still be closed by static destructors of
// other modules when the process ends.
HandleTable& Table() {
  static auto& table = *new HandleTable();
  return table;
}

}  // namespace

HANDLE AddHandle(std::shared_ptr<KernelObject> object) {
  HandleTable& table = Table();
  std::lock_guard lock(table.mutex);
  auto handle = reinterpret_cast<HANDLE>(table.next);
  table.next += 4;
  table.objects.emplace(handle, std::move(object));
  return handle;
}

std::shared_ptr<KernelObject> FindHandle(HANDLE handle) {
  HandleTable& table = Table();
  std::lock_guard lock(table.mutex);
  auto it = table.objects.find(handle);
  return it == table.objects.end() ? nullptr : it->second;
}

bool RemoveHandle(HANDLE handle) {
  std::shared_ptr<KernelObject> removed;  // destroyed outside the lock
  HandleTable& table = Table();
  std::lock_guard lock(table.mutex);
  auto it = table.objects.find(handle);
  if (it == table.objects.end()) return false;
  removed = std::move(it->second);
  table.objects.erase(it);
  return true;
}

}  // namespace platform::kernel

using namespace platform::kernel;

extern "C" DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  std::shared_ptr<KernelObject> object = FindHandle(hHandle);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  return object->Wait(dwMilliseconds);
}

extern "C" BOOL CloseHandle(HANDLE hObject) {
  if (RemoveHandle(hObject)) return TRUE;
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}
