// Per-thread last-error code, as the platform keeps it for every thread.
#include "platform/win32.h"

namespace {
thread_local DWORD t_lastError = ERROR_SUCCESS;
}

extern "C" DWORD GetLastError(void) { return t_lastError; }
extern "C" void SetLastError(DWORD error) { t_lastError = error; }
