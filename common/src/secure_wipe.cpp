#include "common/secure_wipe.h"

#include <string.h>

void SecureWipe(void* data, std::size_t size) {
  if (data != nullptr && size != 0) explicit_bzero(data, size);
}
