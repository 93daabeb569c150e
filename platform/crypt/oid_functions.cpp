// OID functions: CryptInstallOIDFunctionAddress, CryptRegisterOIDFunction,
// CryptUnregisterOIDFunction, CryptInitOIDFunctionSet,
// CryptGetOIDFunctionAddress and CryptFreeOIDFunctionAddress.
//
// Installed functions live in the process; registrations live in
// UserStateDir()/oid_functions.json:
//   {"functions": [{"set": "CertDllOpenStoreProv", "encodingType": 0,
//                   "oid": "OrvelCertStore", "module": "OrvelCertStore.dll",
//                   "function": "CertDllOpenStoreProv"}]}
// Set names and OIDs are compared without regard to ASCII case; a numeric
// OID (a value below 0x10000 in place of a string) is written "#<number>".
//
// A module whose last function address is given back stays loaded for a
// while (15 s, or ORVEL_MODULE_UNLOAD_DELAY_MS milliseconds; 0 unloads at
// once), as the system's certificate services let a provider's module live
// on after its last use: a store opened again soon finds the module, and
// whatever the module keeps for the process (a store provider's cache of
// card certificates), still there. Modules due are unloaded at the next
// OID function call; a process that ends first just ends.
#include "platform/copy_out.h"
#include "platform/handle_table.h"
#include "platform/module_loader.h"
#include "platform/user_state.h"
#include "platform/wincrypt.h"
#include "state_file.h"
#include "text_convert.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>

using namespace platform::crypt;
using platform::HandleTable;
using platform::HandleTableOf;

namespace {

struct InstalledFunction {
  std::string set;
  DWORD encodingType;
  std::string oid;
  void* address;
  HMODULE module;
};

struct FunctionSet {
  std::string name;
};

// What a function address keeps loaded.
struct FunctionAddress {
  HMODULE module = nullptr;
};

struct OidState {
  std::mutex mutex;
  std::deque<InstalledFunction> installed;
  std::map<std::string, std::unique_ptr<FunctionSet>> sets;  // by lower-case name
};

OidState& State() {
  static auto& state = *new OidState();
  return state;
}

HandleTable<FunctionAddress>& Addresses() { return HandleTableOf<FunctionAddress, 4>(); }

StateFile Registrations() { return StateFile(platform::UserStateDir() / "oid_functions.json"); }

bool IsIntOid(LPCSTR oid) { return reinterpret_cast<ULONG_PTR>(oid) <= 0xFFFF; }

std::string OidText(LPCSTR oid) {
  if (IsIntOid(oid)) return "#" + std::to_string(reinterpret_cast<ULONG_PTR>(oid));
  return oid;
}

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool Serves(DWORD entryEncoding, DWORD wantedEncoding) {
  return entryEncoding == 0 || entryEncoding == GET_CERT_ENCODING_TYPE(wantedEncoding);
}

// The first installed function for the set and OID; with `module`, one of
// that module is preferred.
std::optional<InstalledFunction> FindInstalled(const std::string& set, DWORD encodingType,
                                               const std::string& oid, HMODULE module = nullptr) {
  OidState& state = State();
  std::lock_guard lock(state.mutex);
  std::optional<InstalledFunction> first;
  for (const InstalledFunction& f : state.installed) {
    if (!SameName(f.set, set) || !SameName(f.oid, oid) || !Serves(f.encodingType, encodingType))
      continue;
    if (!module || f.module == module) return f;
    if (!first) first = f;
  }
  return first;
}

// Functions installed by a module go with the module's last unload.
void WithdrawModuleFunctions(HMODULE module) {
  OidState& state = State();
  std::lock_guard lock(state.mutex);
  std::erase_if(state.installed,
                [module](const InstalledFunction& f) { return f.module == module; });
}

struct Registration {
  std::string module;
  std::string function;
};

std::optional<Registration> FindRegistration(const std::string& set, DWORD encodingType,
                                             const std::string& oid) {
  nlohmann::json content;
  if (Registrations().Read(content) != ERROR_SUCCESS) return std::nullopt;
  try {
    if (!content.contains("functions")) return std::nullopt;
    for (const auto& entry : content.at("functions")) {
      if (SameName(entry.at("set").get<std::string>(), set) &&
          SameName(entry.at("oid").get<std::string>(), oid) &&
          Serves(entry.at("encodingType").get<DWORD>(), encodingType)) {
        return Registration{entry.at("module").get<std::string>(),
                            entry.at("function").get<std::string>()};
      }
    }
  } catch (const nlohmann::json::exception&) {
  }
  return std::nullopt;
}

BOOL HandOut(void* address, HMODULE module, void** ppvFuncAddr, HCRYPTOIDFUNCADDR* phFuncAddr) {
  auto kept = std::make_shared<FunctionAddress>();
  kept->module = module;
  *ppvFuncAddr = address;
  *phFuncAddr = reinterpret_cast<HCRYPTOIDFUNCADDR>(Addresses().Add(std::move(kept)));
  return TRUE;
}

}  // namespace

extern "C" BOOL CryptInstallOIDFunctionAddress(HMODULE hModule, DWORD dwEncodingType,
                                               LPCSTR pszFuncName, DWORD cFuncEntry,
                                               const CRYPT_OID_FUNC_ENTRY rgFuncEntry[],
                                               DWORD dwFlags) {
  if (!pszFuncName || IsIntOid(pszFuncName) || (cFuncEntry && !rgFuncEntry)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  for (DWORD i = 0; i < cFuncEntry; ++i) {
    if (!rgFuncEntry[i].pszOID || !rgFuncEntry[i].pvFuncAddr) return Fail(ERROR_INVALID_PARAMETER);
  }
  if (hModule) platform::AddModuleUnloadedCallback(&WithdrawModuleFunctions);
  OidState& state = State();
  std::lock_guard lock(state.mutex);
  for (DWORD i = 0; i < cFuncEntry; ++i) {
    InstalledFunction f{pszFuncName, GET_CERT_ENCODING_TYPE(dwEncodingType),
                        OidText(rgFuncEntry[i].pszOID), rgFuncEntry[i].pvFuncAddr, hModule};
    const bool known = std::any_of(
        state.installed.begin(), state.installed.end(), [&f](const InstalledFunction& g) {
          return SameName(g.set, f.set) && SameName(g.oid, f.oid) &&
                 g.encodingType == f.encodingType && g.address == f.address && g.module == f.module;
        });
    if (known) continue;
    if (dwFlags & CRYPT_INSTALL_OID_FUNC_BEFORE_FLAG) {
      state.installed.push_front(std::move(f));
    } else {
      state.installed.push_back(std::move(f));
    }
  }
  return TRUE;
}

extern "C" BOOL CryptRegisterOIDFunction(DWORD dwEncodingType, LPCSTR pszFuncName, LPCSTR pszOID,
                                         LPCWSTR pwszDll, LPCSTR pszOverrideFuncName) {
  if (!pszFuncName || IsIntOid(pszFuncName) || !pszOID || !pwszDll || !*pwszDll ||
      (pszOverrideFuncName && IsIntOid(pszOverrideFuncName))) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const auto module = ToUtf8(pwszDll);
  if (!module) return Fail(ERROR_INVALID_PARAMETER);
  const std::string set = pszFuncName;
  const std::string oid = OidText(pszOID);
  const DWORD encoding = GET_CERT_ENCODING_TYPE(dwEncodingType);
  const std::string function = pszOverrideFuncName ? pszOverrideFuncName : pszFuncName;
  return Report(Registrations().Update([&](nlohmann::json& content) -> DWORD {
    auto& list = content["functions"];
    if (!list.is_array()) list = nlohmann::json::array();
    for (auto it = list.begin(); it != list.end();) {
      const bool same = SameName(it->at("set").get<std::string>(), set) &&
                        SameName(it->at("oid").get<std::string>(), oid) &&
                        it->at("encodingType").get<DWORD>() == encoding;
      it = same ? list.erase(it) : std::next(it);
    }
    list.push_back({{"set", set},
                    {"encodingType", encoding},
                    {"oid", oid},
                    {"module", *module},
                    {"function", function}});
    return ERROR_SUCCESS;
  }));
}

extern "C" BOOL CryptUnregisterOIDFunction(DWORD dwEncodingType, LPCSTR pszFuncName,
                                           LPCSTR pszOID) {
  if (!pszFuncName || IsIntOid(pszFuncName) || !pszOID) return Fail(ERROR_INVALID_PARAMETER);
  const std::string set = pszFuncName;
  const std::string oid = OidText(pszOID);
  const DWORD encoding = GET_CERT_ENCODING_TYPE(dwEncodingType);
  return Report(Registrations().Update([&](nlohmann::json& content) -> DWORD {
    if (!content.contains("functions")) return ERROR_FILE_NOT_FOUND;
    auto& list = content.at("functions");
    for (auto it = list.begin(); it != list.end(); ++it) {
      if (SameName(it->at("set").get<std::string>(), set) &&
          SameName(it->at("oid").get<std::string>(), oid) &&
          it->at("encodingType").get<DWORD>() == encoding) {
        list.erase(it);
        return ERROR_SUCCESS;
      }
    }
    return ERROR_FILE_NOT_FOUND;
  }));
}

extern "C" HCRYPTOIDFUNCSET CryptInitOIDFunctionSet(LPCSTR pszFuncName, DWORD dwFlags) {
  if (!pszFuncName || IsIntOid(pszFuncName)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  OidState& state = State();
  std::lock_guard lock(state.mutex);
  auto& set = state.sets[Lower(pszFuncName)];
  if (!set) set = std::make_unique<FunctionSet>(FunctionSet{pszFuncName});
  return set.get();
}

namespace {

using Clock = std::chrono::steady_clock;

std::chrono::milliseconds UnloadDelay() {
  const char* text = std::getenv("ORVEL_MODULE_UNLOAD_DELAY_MS");
  if (text == nullptr || *text == '\0') return std::chrono::seconds(15);
  char* end = nullptr;
  const long long value = std::strtoll(text, &end, 10);
  if (*end != '\0' || value < 0) return std::chrono::seconds(15);
  return std::chrono::milliseconds(value);
}

// One load of each module whose addresses were all given back, with the
// time it is to be unloaded.
struct PendingUnloads {
  std::mutex mutex;
  std::map<HMODULE, Clock::time_point> due;
};

PendingUnloads& Pending() {
  static PendingUnloads* pending = new PendingUnloads;  // used until the process ends
  return *pending;
}

// Unloads the modules whose time has come (every pending one with `all`).
void UnloadDueModules() {
  std::vector<HMODULE> unload;
  {
    PendingUnloads& pending = Pending();
    std::lock_guard lock(pending.mutex);
    const auto now = Clock::now();
    for (auto it = pending.due.begin(); it != pending.due.end();) {
      if (it->second <= now) {
        unload.push_back(it->first);
        it = pending.due.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (HMODULE module : unload) FreeLibrary(module);
}

// Gives back one load of the module: kept as the pending load (the time
// renewed), or unloaded when one is pending already or there is no delay.
void ReleaseModuleLater(HMODULE module) {
  const auto delay = UnloadDelay();
  bool unloadNow = delay.count() == 0;
  if (!unloadNow) {
    PendingUnloads& pending = Pending();
    std::lock_guard lock(pending.mutex);
    auto [it, added] = pending.due.try_emplace(module, Clock::now() + delay);
    if (!added) {
      it->second = Clock::now() + delay;
      unloadNow = true;  // the pending load keeps the module
    }
  }
  if (unloadNow) FreeLibrary(module);
}

}  // namespace

extern "C" BOOL CryptGetOIDFunctionAddress(HCRYPTOIDFUNCSET hFuncSet, DWORD dwEncodingType,
                                           LPCSTR pszOID, DWORD dwFlags, void** ppvFuncAddr,
                                           HCRYPTOIDFUNCADDR* phFuncAddr) {
  if (!ppvFuncAddr || !phFuncAddr || !pszOID) return Fail(ERROR_INVALID_PARAMETER);
  *ppvFuncAddr = nullptr;
  *phFuncAddr = nullptr;
  UnloadDueModules();
  std::string set;
  {
    OidState& state = State();
    std::lock_guard lock(state.mutex);
    const bool known = std::any_of(state.sets.begin(), state.sets.end(), [hFuncSet](const auto& s) {
      return s.second.get() == hFuncSet;
    });
    if (!known) return Fail(ERROR_INVALID_HANDLE);
    set = static_cast<FunctionSet*>(hFuncSet)->name;
  }
  const std::string oid = OidText(pszOID);

  if (auto installed = FindInstalled(set, dwEncodingType, oid)) {
    if (!installed->module || !platform::IsLoadedModule(installed->module)) {
      // Installed by the program itself (or a library it links): nothing to
      // keep loaded.
      return HandOut(installed->address, nullptr, ppvFuncAddr, phFuncAddr);
    }
    // A function of a loaded module keeps the module loaded (one more load,
    // with its attach) for as long as the address is held. A module that
    // refuses the attach leaves the registered way.
    if (platform::AddModuleReference(installed->module)) {
      return HandOut(installed->address, installed->module, ppvFuncAddr, phFuncAddr);
    }
  }
  if (dwFlags & CRYPT_GET_INSTALLED_OID_FUNC_FLAG) return Fail(ERROR_FILE_NOT_FOUND);

  const auto registration = FindRegistration(set, dwEncodingType, oid);
  if (!registration) return Fail(ERROR_FILE_NOT_FOUND);
  HMODULE module = LoadLibraryA(registration->module.c_str());
  if (!module) return FALSE;  // the loader's error
  if (auto installed = FindInstalled(set, dwEncodingType, oid, module)) {
    return HandOut(installed->address, module, ppvFuncAddr, phFuncAddr);
  }
  if (FARPROC exported = GetProcAddress(module, registration->function.c_str())) {
    return HandOut(reinterpret_cast<void*>(exported), module, ppvFuncAddr, phFuncAddr);
  }
  FreeLibrary(module);
  return Fail(ERROR_PROC_NOT_FOUND);
}

extern "C" BOOL CryptFreeOIDFunctionAddress(HCRYPTOIDFUNCADDR hFuncAddr, DWORD dwFlags) {
  if (!hFuncAddr) return TRUE;
  auto kept = Addresses().Take(reinterpret_cast<ULONG_PTR>(hFuncAddr));
  if (!kept) return Fail(ERROR_INVALID_HANDLE);
  if (kept->module) ReleaseModuleLater(kept->module);
  UnloadDueModules();
  return TRUE;
}
