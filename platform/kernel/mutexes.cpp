// Mutexes. A mutex belongs to the thread that obtained it until that thread
// releases it as often as it obtained it. Threads of one process queue on
// the in-process object; a named mutex adds the lock file through which
// processes exclude one another (mutex_lock_file.h). A thread that ends
// while owning mutexes abandons them: the next wait that obtains one of them
// reports WAIT_ABANDONED, in this process or, for a named one, in any other.
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "kernel_handles.h"
#include "mutex_lock_file.h"
#include "named_objects.h"

namespace platform::kernel {
namespace {

class MutexObject;

// The mutexes the current thread owns; abandons them when the thread ends.
struct OwnedMutexes {
  std::vector<std::weak_ptr<MutexObject>> owned;
  ~OwnedMutexes();
};
thread_local OwnedMutexes t_owned;

class MutexObject final : public KernelObject, public std::enable_shared_from_this<MutexObject> {
 public:
  explicit MutexObject(std::optional<MutexLockFile> file) : m_file(std::move(file)) {}

  DWORD Wait(DWORD milliseconds) override {
    const Deadline deadline = DeadlineAfter(milliseconds);
    const auto self = std::this_thread::get_id();
    std::unique_lock lock(m_mutex);
    if (m_owned && m_owner == self) {
      if (m_recursion == 0x7FFFFFFF) {  // the platform's limit on recursive ownership
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return WAIT_FAILED;
      }
      ++m_recursion;
      return WAIT_OBJECT_0;
    }
    if (!WaitUntil(m_changed, lock, deadline, [this] { return !m_owned && !m_acquiring; })) {
      return WAIT_TIMEOUT;
    }
    bool abandoned = m_abandoned;
    if (m_file) {
      // Only this thread of the process goes for the file lock; the others
      // wait above until it has it or has given up.
      m_acquiring = true;
      lock.unlock();
      const MutexLockFile::Result result = m_file->Lock(deadline);
      lock.lock();
      m_acquiring = false;
      if (result == MutexLockFile::Result::kTimeout || result == MutexLockFile::Result::kFailed) {
        m_changed.notify_all();
        if (result == MutexLockFile::Result::kTimeout) return WAIT_TIMEOUT;
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
      }
      abandoned = abandoned || result == MutexLockFile::Result::kAbandoned;
    }
    m_owned = true;
    m_owner = self;
    m_recursion = 1;
    m_abandoned = false;
    lock.unlock();
    t_owned.owned.push_back(weak_from_this());
    return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
  }

  bool Release() {
    {
      std::lock_guard lock(m_mutex);
      if (!m_owned || m_owner != std::this_thread::get_id()) return false;
      if (--m_recursion > 0) return true;
      LetGoLocked(true);
    }
    auto& owned = t_owned.owned;
    owned.erase(std::remove_if(owned.begin(), owned.end(),
                               [this](const std::weak_ptr<MutexObject>& m) {
                                 auto live = m.lock();
                                 return !live || live.get() == this;
                               }),
                owned.end());
    m_changed.notify_all();
    return true;
  }

  // The owning thread is ending without having released the mutex.
  void Abandon(std::thread::id thread) {
    {
      std::lock_guard lock(m_mutex);
      if (!m_owned || m_owner != thread) return;
      LetGoLocked(false);
      m_abandoned = true;
    }
    m_changed.notify_all();
  }

  // Takes the mutex for the thread that creates it, without waiting.
  bool TryTakeInitially() { return Wait(0) != WAIT_TIMEOUT; }

 private:
  void LetGoLocked(bool released) {
    if (m_file) m_file->Unlock(released);
    m_owned = false;
    m_recursion = 0;
  }

  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::optional<MutexLockFile> m_file;
  bool m_owned = false;
  std::thread::id m_owner;
  unsigned long m_recursion = 0;
  bool m_acquiring = false;
  bool m_abandoned = false;
};

OwnedMutexes::~OwnedMutexes() {
  const auto self = std::this_thread::get_id();
  std::vector<std::weak_ptr<MutexObject>> owned;
  owned.swap(this->owned);
  for (auto& weak : owned) {
    if (auto mutex = weak.lock()) mutex->Abandon(self);
  }
}

}  // namespace
}  // namespace platform::kernel

using namespace platform::kernel;

extern "C" HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner,
                               LPCSTR lpName) {
  if (lpName && std::char_traits<char>::length(lpName) >= 260) {  // MAX_PATH
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return nullptr;
  }
  return CreateObjectHandle<MutexObject>(
      lpName,
      [](LPCSTR name) -> std::shared_ptr<MutexObject> {
        if (!name) return std::make_shared<MutexObject>(std::nullopt);
        std::optional<MutexLockFile> file = MutexLockFile::Open(name);
        if (!file) return nullptr;  // with the last error set
        return std::make_shared<MutexObject>(std::move(file));
      },
      [&](MutexObject& mutex) {
        if (bInitialOwner) mutex.TryTakeInitially();
      });
}

extern "C" BOOL ReleaseMutex(HANDLE hMutex) {
  auto mutex = FindHandleOf<MutexObject>(hMutex);
  if (!mutex) return FALSE;
  if (!mutex->Release()) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  return TRUE;
}
