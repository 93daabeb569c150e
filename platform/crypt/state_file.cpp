#include "state_file.h"
#include "common/non_copyable.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <openssl/evp.h>

#include <cerrno>
#include <fstream>
#include <sstream>

namespace platform::crypt {
namespace {

// An flock() on the companion lock file for the life of the object.
class FileLock : private NonCopyable {
 public:
  FileLock(const std::filesystem::path& path, int operation) {
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    std::filesystem::path lockPath = path;
    lockPath += ".lock";
    m_fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0) return;
    while (::flock(m_fd, operation) != 0) {
      if (errno != EINTR) {
        ::close(m_fd);
        m_fd = -1;
        return;
      }
    }
  }
  ~FileLock() {
    if (m_fd >= 0) ::close(m_fd);  // closing drops the lock
  }
  bool Held() const { return m_fd >= 0; }

 private:
  int m_fd = -1;
};

DWORD ReadUnlocked(const std::filesystem::path& path, nlohmann::json& content) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) return ERROR_ACCESS_DENIED;
    content = nlohmann::json::object();
    return ERROR_SUCCESS;
  }
  try {
    content = nlohmann::json::parse(in);
  } catch (const nlohmann::json::exception&) {
    return ERROR_INVALID_DATA;
  }
  if (!content.is_object()) return ERROR_INVALID_DATA;
  return ERROR_SUCCESS;
}

DWORD WriteUnlocked(const std::filesystem::path& path, const nlohmann::json& content) {
  std::filesystem::path temp = path;
  temp += ".tmp" + std::to_string(::getpid());
  const std::string text = content.dump(2) + "\n";
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return ERROR_ACCESS_DENIED;
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  const bool written = done == text.size() && ::fsync(fd) == 0;
  ::close(fd);
  std::error_code ec;
  if (written) std::filesystem::rename(temp, path, ec);
  if (!written || ec) {
    std::filesystem::remove(temp, ec);
    return ERROR_ACCESS_DENIED;
  }
  return ERROR_SUCCESS;
}

}  // namespace

DWORD StateFile::Read(nlohmann::json& content) const {
  FileLock lock(m_path, LOCK_SH);
  if (!lock.Held()) return ERROR_ACCESS_DENIED;
  return ReadUnlocked(m_path, content);
}

DWORD StateFile::Update(const std::function<DWORD(nlohmann::json&)>& change) const {
  FileLock lock(m_path, LOCK_EX);
  if (!lock.Held()) return ERROR_ACCESS_DENIED;
  nlohmann::json content;
  if (DWORD error = ReadUnlocked(m_path, content)) return error;
  try {
    if (DWORD error = change(content)) return error;
  } catch (const nlohmann::json::exception&) {
    return ERROR_INVALID_DATA;  // the file's content is not of the expected shape
  }
  return WriteUnlocked(m_path, content);
}

std::string EncodeBase64(const BYTE* data, std::size_t size) {
  std::string text(4 * ((size + 2) / 3) + 1, '\0');
  const int length =
      EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), data, static_cast<int>(size));
  text.resize(static_cast<std::size_t>(length));
  return text;
}

std::optional<std::vector<BYTE>> DecodeBase64(const std::string& text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::vector<BYTE> bytes(text.size() / 4 * 3);
  const int length =
      EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(text.data()),
                      static_cast<int>(text.size()));
  if (length < 0) return std::nullopt;
  // EVP_DecodeBlock counts the padding as zero bytes.
  std::size_t padding = 0;
  if (!text.empty() && text.back() == '=') ++padding;
  if (text.size() > 1 && text[text.size() - 2] == '=') ++padding;
  bytes.resize(static_cast<std::size_t>(length) - padding);
  return bytes;
}

}  // namespace platform::crypt
