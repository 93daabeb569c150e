// Module and provider registration commands: register-module,
// unregister-module and register-provider.
#include <cstdio>
#include <cstdlib>

#include "platform/module_loader.h"
#include "platform/provider_registry.h"
#include "platform/wincrypt.h"
#include "tool_commands.h"

namespace tool {
namespace {

using SelfRegistration = HRESULT (*)(void);

// Loads the module, calls its self-registration entry and prints the
// HRESULT, as the platform's registration tool does.
int CallSelfRegistration(const char* command, const char* entry,
                         std::span<const std::string> args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "%s: expected the module's file\n", command);
    return 2;
  }
  HMODULE module = LoadLibraryA(args[0].c_str());
  if (!module) {
    std::fprintf(stderr, "%s: cannot load %s: %s\n", command, args[0].c_str(),
                 platform::LastModuleLoadErrorText().c_str());
    return 1;
  }
  auto function = reinterpret_cast<SelfRegistration>(GetProcAddress(module, entry));
  if (!function) {
    std::fprintf(stderr, "%s: %s has no %s\n", command, args[0].c_str(), entry);
    FreeLibrary(module);
    return 1;
  }
  const HRESULT result = function();
  FreeLibrary(module);
  const auto code = static_cast<unsigned long>(static_cast<uint32_t>(result));
  std::printf("%s: 0x%08lX\n", entry, code);
  if (FAILED(result)) {
    std::fprintf(stderr, "%s: %s of %s failed (0x%08lX)\n", command, entry, args[0].c_str(), code);
    return 1;
  }
  return 0;
}

int RegisterModule(std::span<const std::string> args) {
  return CallSelfRegistration("register-module", "DllRegisterServer", args);
}

int UnregisterModule(std::span<const std::string> args) {
  return CallSelfRegistration("unregister-module", "DllUnregisterServer", args);
}

int RegisterProviderCommand(std::span<const std::string> args) {
  DWORD type = PROV_RSA_FULL;
  if (args.size() == 4 && args[2] == "--type") {
    char* end = nullptr;
    type = std::strtoul(args[3].c_str(), &end, 10);
    if (!end || *end != '\0' || args[3].empty() || type == 0) {
      std::fprintf(stderr, "register-provider: --type takes a provider type number\n");
      return 2;
    }
  } else if (args.size() != 2) {
    std::fprintf(stderr, "register-provider: expected NAME MODULE [--type TYPE]\n");
    return 2;
  }
  if (!platform::RegisterProvider(args[0], type, args[1])) {
    std::fprintf(stderr,
                 "register-provider: cannot register '%s' (reserved name, or the provider "
                 "database cannot be written)\n",
                 args[0].c_str());
    return 1;
  }
  if (!platform::FindModuleFile(args[1])) {
    std::fprintf(stderr, "register-provider: warning: no module %s is found now\n",
                 args[1].c_str());
  }
  std::printf("%s: type %lu, module %s\n", args[0].c_str(), static_cast<unsigned long>(type),
              args[1].c_str());
  return 0;
}

const Command kModuleCommands[] = {
    {"register-module", "FILE", "load a module and call its DllRegisterServer; prints the HRESULT",
     RegisterModule},
    {"unregister-module", "FILE",
     "load a module and call its DllUnregisterServer; prints the HRESULT", UnregisterModule},
    {"register-provider", "NAME MODULE [--type TYPE]",
     "enter a cryptographic provider into the provider database (type 1, PROV_RSA_FULL, by "
     "default)",
     RegisterProviderCommand},
};

}  // namespace

std::span<const Command> ModuleCommands() { return kModuleCommands; }

}  // namespace tool
