// The provider database of the current user: which cryptographic provider
// name CryptAcquireContextA reaches, and through which module. It lives in
// UserStateDir()/providers.json, over the system-wide defaults of the same
// form (SystemDefaultsDir()/providers.json): a name the user registers hides
// the system-wide registration of that name. The built-in software provider
// is always known and cannot be registered over.
#pragma once

#include "platform/win32.h"

#include <filesystem>
#include <string>
#include <vector>

namespace platform {

// Name of the built-in software RSA provider (type PROV_RSA_FULL); it is the
// provider of the key containers that PFX import creates.
inline constexpr const char* kSoftwareProviderName = "Orvel Software RSA Provider";

struct ProviderRegistration {
  std::string name;
  DWORD type = 0;
  // A path, or a bare module name looked up as platform/module_loader.h
  // says (ORVEL_MODULE_PATH, beside the running program, beside the
  // platform's libraries; "Name.dll" reaches libName.so). Empty: built in.
  std::string module;
};

// Registers (or replaces) a provider name with its module. False when the
// name is empty or the built-in one, or when the database cannot be written.
bool RegisterProvider(const std::string& name, DWORD type, const std::string& module);
// Removes the user's own registration; false when the user had not
// registered the name (a system-wide one cannot be removed).
bool UnregisterProvider(const std::string& name);
// The built-in provider first, then the user's and the system-wide
// registrations in name order.
std::vector<ProviderRegistration> ListProviders();

}  // namespace platform
