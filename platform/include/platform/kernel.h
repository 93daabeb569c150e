// The kernel and runtime services of the platform in one include: kernel
// objects (events, mutexes, waits, handles, security descriptors, Sleep),
// the runtime's thread start, module loading and code-page conversion.
#pragma once

#include "platform/code_pages.h"
#include "platform/kernel_objects.h"
#include "platform/module_loader.h"
#include "platform/runtime_threads.h"
