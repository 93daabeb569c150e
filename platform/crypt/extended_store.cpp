#include "extended_store.h"

#include <mutex>
#include <unordered_map>

namespace platform::crypt {
namespace {

struct Registry {
  std::mutex mutex;
  std::unordered_map<HCERTSTORE, std::shared_ptr<ExtendedStore>> stores;
};

// Never destroyed: stores may be closed by static destructors at exit.
Registry& TheRegistry() {
  static auto& registry = *new Registry();
  return registry;
}

}  // namespace

HCERTSTORE RegisterExtendedStore(std::shared_ptr<ExtendedStore> store) {
  HCERTSTORE handle = store.get();
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  registry.stores.emplace(handle, std::move(store));
  return handle;
}

std::shared_ptr<ExtendedStore> FindExtendedStore(HCERTSTORE handle) {
  if (!handle) return nullptr;
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  auto it = registry.stores.find(handle);
  return it == registry.stores.end() ? nullptr : it->second;
}

std::shared_ptr<ExtendedStore> TakeExtendedStore(HCERTSTORE handle) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  auto it = registry.stores.find(handle);
  if (it == registry.stores.end()) return nullptr;
  auto store = std::move(it->second);
  registry.stores.erase(it);
  return store;
}

HCERTSTORE ContentStoreOf(HCERTSTORE handle) {
  if (auto extended = FindExtendedStore(handle)) return extended->ContentStore();
  return handle;
}

}  // namespace platform::crypt
