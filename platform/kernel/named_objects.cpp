#include "named_objects.h"

#include <map>
#include <mutex>

namespace platform::kernel {
namespace {

struct Names {
  std::mutex mutex;
  std::map<std::string, std::weak_ptr<KernelObject>> objects;
};

Names& TheNames() {
  static auto& names = *new Names();
  return names;
}

}  // namespace

NameLookup FindOrCreateNamedObject(const std::string& name, std::shared_ptr<KernelObject>& object,
                                   const std::function<std::shared_ptr<KernelObject>()>& make,
                                   const std::function<bool(const KernelObject&)>& isType) {
  Names& names = TheNames();
  std::lock_guard lock(names.mutex);
  auto it = names.objects.find(name);
  if (it != names.objects.end()) {
    if (std::shared_ptr<KernelObject> live = it->second.lock()) {
      if (!isType(*live)) return NameLookup::kWrongType;
      object = std::move(live);
      return NameLookup::kExisting;
    }
  }
  object = make();
  if (!object) return NameLookup::kFailed;
  names.objects[name] = object;
  // Forget the names of objects that have gone, so the map does not grow.
  for (auto i = names.objects.begin(); i != names.objects.end();) {
    i = i->second.expired() ? names.objects.erase(i) : std::next(i);
  }
  return NameLookup::kCreated;
}

}  // namespace platform::kernel
