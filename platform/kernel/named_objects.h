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

// A Create...A call: the handle of a new object, or of the live object of
// that name, with the last error set as the platform sets it. Without a name
// (null or empty) make(nullptr) makes the object; with one, the object of
// that name is opened (last error ERROR_ALREADY_EXISTS) or make(name) makes
// one under the name. `made` runs on an object just made, before its handle
// is handed out. Null when the name belongs to an object of another type
// (ERROR_INVALID_HANDLE) or make failed (returning null with the last error
// set).
template <class T>
HANDLE CreateObjectHandle(LPCSTR name, const std::function<std::shared_ptr<T>(LPCSTR)>& make,
                          const std::function<void(T&)>& made = nullptr) {
  std::shared_ptr<T> object;
  DWORD error = ERROR_SUCCESS;
  if (name && *name) {
    const std::function<std::shared_ptr<T>()> makeNamed = [&] { return make(name); };
    switch (FindOrCreateNamed<T>(name, object, makeNamed)) {
      case NameLookup::kCreated:
        break;
      case NameLookup::kExisting:
        error = ERROR_ALREADY_EXISTS;
        break;
      case NameLookup::kWrongType:
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
      case NameLookup::kFailed:
        return nullptr;
    }
  } else {
    object = make(nullptr);
    if (!object) return nullptr;
  }
  if (error == ERROR_SUCCESS && made) made(*object);
  HANDLE handle = AddHandle(std::move(object));
  SetLastError(error);
  return handle;
}

}  // namespace platform::kernel
