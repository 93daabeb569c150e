// LoadLibraryA, FreeLibrary and GetProcAddress over dlopen. One loader lock
// (recursive, so that a DllMain may load modules itself) serialises loads,
// unloads and the DllMain calls they make.
#include "platform/module_loader.h"

#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <mutex>
#include <system_error>
#include <vector>

namespace platform {
namespace {

using DllMainFunction = BOOL (*)(HINSTANCE, DWORD, LPVOID);

struct LoadedModule {
  void* library = nullptr;  // the dlopen handle; one dlopen per load
  std::filesystem::path path;
  DllMainFunction dllMain = nullptr;
  long references = 0;
};

struct Loader {
  std::recursive_mutex lock;
  std::map<HMODULE, LoadedModule> modules;
  std::vector<ModuleUnloadedCallback> unloaded;
};

// Never destroyed: modules may be freed by static destructors at exit.
Loader& TheLoader() {
  static auto& loader = *new Loader();
  return loader;
}

thread_local std::string t_loadError;

bool EndsWithDll(const std::string& name) {
  if (name.size() < 4) return false;
  std::string tail = name.substr(name.size() - 4);
  std::transform(tail.begin(), tail.end(), tail.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return tail == ".dll";
}

// The file names a module name may have been built as.
std::vector<std::string> CandidateFileNames(const std::string& file) {
  if (!EndsWithDll(file)) return {file};
  const std::string stem = file.substr(0, file.size() - 4);
  return {"lib" + stem + ".so", stem + ".so", file};
}

std::vector<std::filesystem::path> SearchDirectories() {
  std::vector<std::filesystem::path> dirs;
  if (const char* configured = std::getenv("ORVEL_MODULE_PATH")) {
    std::string list = configured;
    std::size_t begin = 0;
    while (begin <= list.size()) {
      std::size_t end = list.find(':', begin);
      if (end == std::string::npos) end = list.size();
      if (end > begin) dirs.emplace_back(list.substr(begin, end - begin));
      begin = end + 1;
    }
  }
  std::error_code ec;
  const auto program = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) dirs.push_back(program.parent_path());
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&FindModuleFile), &info) && info.dli_fname) {
    const auto self = std::filesystem::weakly_canonical(info.dli_fname, ec);
    if (!ec) dirs.push_back(self.parent_path());
  }
  return dirs;
}

// The instance handle of a dlopen'ed library: the start of its mapping, as
// ModuleOfAddress reports it for any address inside the library.
HMODULE BaseOf(void* library) {
  link_map* map = nullptr;
  if (dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || !map) return nullptr;
  Dl_info info{};
  if (!dladdr(map->l_ld, &info)) return nullptr;
  return static_cast<HMODULE>(info.dli_fbase);
}

// A symbol the module itself exports (dlsym also searches the libraries the
// module depends on, which are not the module).
void* OwnSymbol(void* library, HMODULE module, const char* name) {
  void* symbol = dlsym(library, name);
  Dl_info info{};
  if (!symbol || !dladdr(symbol, &info) || info.dli_fbase != module) return nullptr;
  return symbol;
}

HMODULE FailLoad(DWORD error, std::string text) {
  t_loadError = std::move(text);
  SetLastError(error);
  return nullptr;
}

// Loads the module file and attaches it. The loader lock is held.
HMODULE LoadFile(const std::filesystem::path& path) {
  Loader& loader = TheLoader();
  dlerror();
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!library) {
    const char* text = dlerror();
    return FailLoad(ERROR_MOD_NOT_FOUND, text ? text : path.string() + ": cannot be loaded");
  }
  const HMODULE module = BaseOf(library);
  if (!module) {
    dlclose(library);
    return FailLoad(ERROR_BAD_EXE_FORMAT, path.string() + ": no load address");
  }
  LoadedModule& entry = loader.modules[module];
  if (entry.references == 0) {
    entry.library = library;
    entry.path = path;
    entry.dllMain = reinterpret_cast<DllMainFunction>(OwnSymbol(library, module, "DllMain"));
  }
  ++entry.references;
  if (entry.dllMain && !entry.dllMain(module, DLL_PROCESS_ATTACH, nullptr)) {
    // This load never happened; the module gets no detach for it.
    if (--loader.modules[module].references == 0) {
      loader.modules.erase(module);
      for (ModuleUnloadedCallback callback : loader.unloaded) callback(module);
    }
    dlclose(library);
    return FailLoad(ERROR_DLL_INIT_FAILED, path.string() + ": DllMain refused the process attach");
  }
  t_loadError.clear();
  return module;
}

}  // namespace

std::optional<std::filesystem::path> FindModuleFile(const std::string& name) {
  if (name.empty()) return std::nullopt;
  std::error_code ec;
  const std::filesystem::path given(name);
  std::vector<std::filesystem::path> dirs;
  std::string file = name;
  if (name.find('/') != std::string::npos) {
    dirs.push_back(given.parent_path().empty() ? std::filesystem::path(".") : given.parent_path());
    file = given.filename().string();
  } else {
    dirs = SearchDirectories();
  }
  for (const auto& dir : dirs) {
    for (const std::string& candidate : CandidateFileNames(file)) {
      const std::filesystem::path path = dir / candidate;
      if (std::filesystem::is_regular_file(path, ec)) {
        auto canonical = std::filesystem::weakly_canonical(path, ec);
        return ec ? path : canonical;
      }
    }
  }
  return std::nullopt;
}

bool IsLoadedModule(HMODULE module) {
  Loader& loader = TheLoader();
  std::lock_guard lock(loader.lock);
  auto it = loader.modules.find(module);
  return it != loader.modules.end() && it->second.references > 0;
}

bool AddModuleReference(HMODULE module) {
  Loader& loader = TheLoader();
  std::lock_guard lock(loader.lock);
  auto it = loader.modules.find(module);
  if (it == loader.modules.end() || it->second.references == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  const std::filesystem::path path = it->second.path;
  return LoadFile(path) == module;
}

void AddModuleUnloadedCallback(ModuleUnloadedCallback callback) {
  Loader& loader = TheLoader();
  std::lock_guard lock(loader.lock);
  if (std::find(loader.unloaded.begin(), loader.unloaded.end(), callback) ==
      loader.unloaded.end()) {
    loader.unloaded.push_back(callback);
  }
}

std::string LastModuleLoadErrorText() { return t_loadError; }

}  // namespace platform

using namespace platform;

extern "C" HMODULE LoadLibraryA(LPCSTR lpLibFileName) {
  if (!lpLibFileName || !*lpLibFileName) {
    t_loadError = "no module name";
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const auto path = FindModuleFile(lpLibFileName);
  if (!path) {
    return FailLoad(ERROR_MOD_NOT_FOUND, std::string(lpLibFileName) + ": no such module");
  }
  std::lock_guard lock(TheLoader().lock);
  return LoadFile(*path);
}

extern "C" BOOL FreeLibrary(HMODULE hLibModule) {
  Loader& loader = TheLoader();
  std::lock_guard lock(loader.lock);
  auto it = loader.modules.find(hLibModule);
  if (it == loader.modules.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  void* const library = it->second.library;
  const DllMainFunction dllMain = it->second.dllMain;
  if (dllMain) dllMain(hLibModule, DLL_PROCESS_DETACH, nullptr);
  // The detach may have loaded or freed modules; look the entry up again.
  it = loader.modules.find(hLibModule);
  if (it != loader.modules.end() && --it->second.references == 0) {
    loader.modules.erase(it);
    for (ModuleUnloadedCallback callback : loader.unloaded) callback(hLibModule);
  }
  dlclose(library);
  return TRUE;
}

extern "C" FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  if (!lpProcName || reinterpret_cast<ULONG_PTR>(lpProcName) <= 0xFFFF) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  Loader& loader = TheLoader();
  std::lock_guard lock(loader.lock);
  auto it = loader.modules.find(hModule);
  if (it == loader.modules.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  void* symbol = OwnSymbol(it->second.library, hModule, lpProcName);
  if (!symbol) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}
