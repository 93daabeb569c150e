#include "pfx_file.h"

#include <limits>
#include <new>

#include "platform/framework_file.h"

std::optional<std::vector<BYTE>> ReadWholeFile(const std::string& name) {
  try {
    CFile file(name.c_str(), CFile::modeRead);
    const ULONGLONG length = file.GetLength();
    // The bytes go on as a blob with a 32-bit length.
    if (length > std::numeric_limits<DWORD>::max() || length > std::numeric_limits<UINT>::max()) {
      return std::nullopt;
    }
    std::vector<BYTE> bytes(static_cast<std::size_t>(length));
    if (file.Read(bytes.data(), static_cast<UINT>(bytes.size())) != bytes.size()) {
      return std::nullopt;  // shorter than its length: changed while read
    }
    file.Close();
    return bytes;
  } catch (const CFileException&) {
    return std::nullopt;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}
