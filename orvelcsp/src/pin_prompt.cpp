#include "pin_prompt.h"

#include <dlfcn.h>

#include <filesystem>
#include <mutex>

#include "platform/winscard_ext.h"

namespace orvelcsp {
namespace {

constexpr char kPlatformUi[] = "liborvel_ui.so";
constexpr char kDialogModule[] = "liborvelcsp_pin.so";

// The dialog module beside this module; loaded once and kept.
PFN_ORVELCSP_ASK_PIN DialogEntry() {
  static std::mutex lock;
  static PFN_ORVELCSP_ASK_PIN entry = nullptr;
  std::lock_guard guard(lock);
  if (entry != nullptr) return entry;
  // Only where the program already carries the platform's user interface.
  void* ui = dlopen(kPlatformUi, RTLD_NOW | RTLD_NOLOAD);
  if (ui == nullptr) return nullptr;
  dlclose(ui);  // the NOLOAD reference only
  Dl_info self{};
  if (dladdr(reinterpret_cast<void*>(&AskForPin), &self) == 0 || self.dli_fname == nullptr) {
    return nullptr;
  }
  const auto path = std::filesystem::path(self.dli_fname).parent_path() / kDialogModule;
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) return nullptr;
  entry = reinterpret_cast<PFN_ORVELCSP_ASK_PIN>(dlsym(module, ORVELCSP_ASK_PIN_ENTRY));
  if (entry == nullptr) dlclose(module);
  return entry;
}

}  // namespace

DWORD AskForPin(const std::string& reader, std::span<char> pin) {
  const PFN_ORVELCSP_ASK_PIN entry = DialogEntry();
  const int answer = entry != nullptr ? entry(reader.c_str(), pin.data(), pin.size()) : -1;
  if (answer == 1 && pin[0] != '\0') return ERROR_SUCCESS;
  if (answer == 0 || answer == 1) return static_cast<DWORD>(SCARD_W_CANCELLED_BY_USER);
  return static_cast<DWORD>(SCARD_W_CARD_NOT_AUTHENTICATED);
}

}  // namespace orvelcsp
