#include "module_state.h"

ModuleState& TheModuleState() {
  static ModuleState state;
  return state;
}
