// Wiping PINs and key material from memory in a way the compiler keeps.
#pragma once

#include <cstddef>

void SecureWipe(void* data, std::size_t size);
