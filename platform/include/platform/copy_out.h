// The platform's convention for variable-length results: a null buffer asks
// for the size, a buffer that is too small gets ERROR_MORE_DATA and the size.
#pragma once

#include "platform/win32.h"

#include <cstddef>
#include <cstring>

namespace platform::crypt {

inline DWORD CopyOut(const void* source, std::size_t size, BYTE* buffer, DWORD* length) {
  if (!length) return ERROR_INVALID_PARAMETER;
  DWORD available = *length;
  *length = static_cast<DWORD>(size);
  if (!buffer) return ERROR_SUCCESS;
  if (available < size) return ERROR_MORE_DATA;
  if (size) std::memcpy(buffer, source, size);
  return ERROR_SUCCESS;
}

// Reports an error code through the last-error state; always FALSE, so that
// failure paths read `return Fail(NTE_BAD_KEY);`.
inline BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// ERROR_SUCCESS gives TRUE; anything else FALSE with that last error.
inline BOOL Report(DWORD error) {
  if (error == ERROR_SUCCESS) return TRUE;
  SetLastError(error);
  return FALSE;
}

}  // namespace platform::crypt
