#include "orvel_test/certificate_files.h"

#include <zlib.h>

#include <stdexcept>

namespace orvel_test {

Bytes LittleEndian32(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
          static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

Bytes CertificateFile(const Bytes& der, int level) {
  uLongf size = compressBound(der.size());
  Bytes stream(size);
  if (compress2(stream.data(), &size, der.data(), der.size(), level) != Z_OK) {
    throw std::runtime_error("compress2");
  }
  Bytes file = LittleEndian32(static_cast<std::uint32_t>(der.size()));
  const Bytes compressed = LittleEndian32(static_cast<std::uint32_t>(size));
  file.insert(file.end(), compressed.begin(), compressed.end());
  file.insert(file.end(), stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(size));
  return file;
}

}  // namespace orvel_test
