// The names of this process's named kernel objects. Events and mutexes share
// one namespace, as on the platform: a name belongs to one object at a time.
#pragma once

#include "kernel_handles.h"

#include <functional>
#include <string>

namespace platform::kernel {

enum class NameLookup { kCreated, kExisting, kWrongType, kFailed };

// Finds the live object of that name, or makes one with `make` and records
// it under the name. An existing object of another type is kWrongType; a
// `make` that returns null is kFailed. `object` receives the object found or
// made.
template <class T>
NameLookup FindOrCreateNamed(const std::string& name, std::shared_ptr<T>& object,
                             const std::function<std::shared_ptr<T>()>& make);

// Implementation detail of FindOrCreateNamed, typed on KernelObject.
NameLookup FindOrCreateNamedObject(const std::string& name, std::shared_ptr<KernelObject>& object,
                                   const std::function<std::shared_ptr<KernelObject>()>& make,
                                   const std::function<bool(const KernelObject&)>& isType);

template <class T>
NameLookup FindOrCreateNamed(const std::string& name, std::shared_ptr<T>& object,
                             const std::function<std::shared_ptr<T>()>& make) {
  std::shared_ptr<KernelObject> found;
  NameLookup result = FindOrCreateNamedObject(
      name, found, [&make]() -> std::shared_ptr<KernelObject> { return make(); },
      [](const KernelObject& o) { return dynamic_cast<const T*>(&o) != nullptr; });
  object = std::dynamic_pointer_cast<T>(found);
  return result;
}

}  // namespace platform::kernel
