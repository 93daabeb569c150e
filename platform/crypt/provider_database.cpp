#include "provider_database.h"

#include "platform/module_loader.h"
#include "platform/provider_registry.h"
#include "platform/user_state.h"
#include "soft_provider.h"

#include <dlfcn.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <fstream>
#include <map>
#include <mutex>
#include <optional>

namespace platform {
namespace {

std::mutex& DatabaseLock() {
  static std::mutex lock;
  return lock;
}

std::filesystem::path DatabasePath() { return UserStateDir() / "providers.json"; }

// The registrations in a database file; an absent file is an empty
// database, an unreadable one is refused (so that a write never discards it).
std::optional<std::map<std::string, ProviderRegistration>> ReadDatabase(
    const std::filesystem::path& path = DatabasePath()) {
  std::map<std::string, ProviderRegistration> entries;
  std::ifstream in(path);
  if (!in) return entries;
  try {
    nlohmann::json json = nlohmann::json::parse(in);
    for (const auto& [name, value] : json.at("providers").items()) {
      ProviderRegistration r;
      r.name = name;
      r.type = value.at("type").get<DWORD>();
      r.module = value.at("module").get<std::string>();
      entries[name] = r;
    }
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
  return entries;
}

// The user's registrations over the system-wide ones: a name the user
// registered hides the system-wide registration of that name. An unreadable
// file of either adds nothing.
std::map<std::string, ProviderRegistration> ReadLayered() {
  std::map<std::string, ProviderRegistration> entries;
  if (const std::filesystem::path system = SystemDefaultsDir(); !system.empty()) {
    if (auto defaults = ReadDatabase(system / "providers.json")) entries = std::move(*defaults);
  }
  if (auto own = ReadDatabase()) {
    for (auto& [name, r] : *own) entries.insert_or_assign(name, std::move(r));
  }
  return entries;
}

bool WriteDatabase(const std::map<std::string, ProviderRegistration>& entries) {
  nlohmann::json providers = nlohmann::json::object();
  for (const auto& [name, r] : entries) providers[name] = {{"type", r.type}, {"module", r.module}};
  nlohmann::json json = {{"providers", providers}};
  std::filesystem::path path = DatabasePath();
  std::filesystem::path temp = path;
  temp += ".tmp" + std::to_string(::getpid());
  {
    std::ofstream out(temp, std::ios::trunc);
    out << json.dump(2) << '\n';
    if (!out.flush()) return false;
  }
  std::error_code ec;
  std::filesystem::rename(temp, path, ec);
  if (ec) std::filesystem::remove(temp, ec);
  return !ec;
}

bool IsBuiltIn(const std::string& name) { return name == kSoftwareProviderName; }

}  // namespace

bool RegisterProvider(const std::string& name, DWORD type, const std::string& module) {
  if (name.empty() || IsBuiltIn(name) || module.empty()) return false;
  std::lock_guard lock(DatabaseLock());
  auto entries = ReadDatabase();
  if (!entries) return false;
  (*entries)[name] = ProviderRegistration{name, type, module};
  return WriteDatabase(*entries);
}

bool UnregisterProvider(const std::string& name) {
  std::lock_guard lock(DatabaseLock());
  auto entries = ReadDatabase();
  if (!entries || entries->erase(name) == 0) return false;
  return WriteDatabase(*entries);
}

std::vector<ProviderRegistration> ListProviders() {
  std::vector<ProviderRegistration> list{{kSoftwareProviderName, PROV_RSA_FULL, ""}};
  std::lock_guard lock(DatabaseLock());
  for (auto& [name, r] : ReadLayered()) list.push_back(r);
  return list;
}

}  // namespace platform

namespace platform::crypt {
namespace {

DWORD LoadModule(const std::string& module, const ORVEL_PROVIDER_FUNCTIONS** functions) {
  static std::mutex lock;
  static std::map<std::filesystem::path, const ORVEL_PROVIDER_FUNCTIONS*> loaded;

  // Bare names are looked up where the platform looks for every module.
  const auto found = platform::FindModuleFile(module);
  if (!found) return NTE_PROV_DLL_NOT_FOUND;
  const std::filesystem::path path = *found;

  std::lock_guard guard(lock);
  if (auto it = loaded.find(path); it != loaded.end()) {
    *functions = it->second;
    return ERROR_SUCCESS;
  }
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return NTE_PROVIDER_DLL_FAIL;
  auto entry =
      reinterpret_cast<PFN_ORVEL_GET_PROVIDER_FUNCTIONS>(dlsym(handle, ORVEL_PROVIDER_ENTRY_POINT));
  const ORVEL_PROVIDER_FUNCTIONS* table = entry ? entry() : nullptr;
  if (!table || table->dwVersion != ORVEL_PROVIDER_INTERFACE_VERSION || !table->AcquireContext ||
      !table->ReleaseContext || !table->GetProvParam || !table->SetProvParam ||
      !table->GetUserKey || !table->ExportKey || !table->SetKeyParam || !table->DestroyKey ||
      !table->CreateHash || !table->HashData || !table->GetHashParam || !table->DestroyHash ||
      !table->SetHashParam || !table->SignHash || !table->VerifySignature || !table->Decrypt ||
      !table->GetKeyParam || !table->ImportKey) {
    dlclose(handle);
    return NTE_PROVIDER_DLL_FAIL;
  }
  loaded.emplace(path, table);  // the module stays loaded: its handles may be in use
  *functions = table;
  return ERROR_SUCCESS;
}

}  // namespace

DWORD FindProvider(LPCSTR name, DWORD type, const ORVEL_PROVIDER_FUNCTIONS** functions) {
  if (!name || !*name || IsBuiltIn(name)) {
    if (type != PROV_RSA_FULL) return NTE_PROV_TYPE_NO_MATCH;
    *functions = SoftwareProviderFunctions();
    return ERROR_SUCCESS;
  }
  std::map<std::string, ProviderRegistration> entries;
  {
    std::lock_guard lock(DatabaseLock());
    entries = ReadLayered();
  }
  auto it = entries.find(name);
  if (it == entries.end()) return NTE_KEYSET_NOT_DEF;
  if (it->second.type != type) return NTE_PROV_TYPE_NO_MATCH;
  return LoadModule(it->second.module, functions);
}

}  // namespace platform::crypt
