#include "common/module_instance.h"

HINSTANCE ModuleInstance = nullptr;
