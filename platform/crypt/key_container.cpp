#include "key_container.h"

#include "common/hex_text.h"
#include "platform/user_state.h"
#include "platform/wincrypt.h"
#include "secure_bytes.h"

#include <openssl/pem.h>
#include <openssl/rand.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace platform::crypt {
namespace {

constexpr const char* kMagic = "orvel-key-container 1";
// File names carry the container name in hexadecimal; this keeps them
// within the file-system limit of 255 bytes.
constexpr std::size_t kMaxNameLength = 120;

std::filesystem::path ContainerDir() {
  std::filesystem::path dir = UserStateDir() / "keys";
  std::error_code ec;
  if (std::filesystem::create_directory(dir, ec))
    std::filesystem::permissions(dir, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace, ec);
  return dir;
}

bool PathFor(const std::string& name, std::filesystem::path& path) {
  if (name.empty() || name.size() > kMaxNameLength) return false;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(name.data());
  path = ContainerDir() / (HexText({bytes, name.size()}, true) + ".key");
  return true;
}

struct FileDescriptor {
  int fd = -1;
  ~FileDescriptor() {
    if (fd >= 0) ::close(fd);
  }
};

bool WriteAll(int fd, const unsigned char* data, std::size_t size) {
  while (size) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool ReadFile(const std::filesystem::path& path, SecureBytes& out) {
  FileDescriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0) return false;
  struct stat st {};
  if (::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > (1 << 20)) return false;
  out.resize(static_cast<std::size_t>(st.st_size));
  std::size_t done = 0;
  while (done < out.size()) {
    ssize_t n = ::read(file.fd, out.data() + done, out.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

DWORD CreateKeyContainer(const std::string& name, const KeyContainerRecord& record) {
  std::filesystem::path path;
  if (!PathFor(name, path)) return NTE_BAD_KEYSET_PARAM;

  // Header lines, then the key as PKCS#8 PEM, composed in wiped memory.
  char header[96];
  int headerLength = std::snprintf(header, sizeof header, "%s\nkeyspec %lu\nexportable %d\n",
                                   kMagic, record.keySpec, record.exportable ? 1 : 0);
  SecureBytes content(header, header + headerLength);
  if (record.key) {
    BioPtr bio(BIO_new(BIO_s_secmem()));
    if (!bio || !PEM_write_bio_PrivateKey(bio.get(), record.key.get(), nullptr, nullptr, 0, nullptr,
                                          nullptr))
      return NTE_FAIL;
    char* pem = nullptr;
    long pemLength = BIO_get_mem_data(bio.get(), &pem);
    content.insert(content.end(), pem, pem + pemLength);
  }

  // Written under a temporary name and linked into place, which fails when
  // the container exists: creation is atomic and never overwrites.
  std::filesystem::path temp = path;
  unsigned char nonce[8];
  RAND_bytes(nonce, sizeof nonce);
  char suffix[24];
  std::snprintf(suffix, sizeof suffix, ".%02x%02x%02x%02x%02x%02x%02x%02x", nonce[0], nonce[1],
                nonce[2], nonce[3], nonce[4], nonce[5], nonce[6], nonce[7]);
  temp += suffix;
  {
    FileDescriptor file{::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600)};
    if (file.fd < 0) return NTE_FAIL;
    bool written = ::fchmod(file.fd, 0600) == 0 &&
                   WriteAll(file.fd, content.data(), content.size()) && ::fsync(file.fd) == 0;
    if (!written) {
      ::unlink(temp.c_str());
      return NTE_FAIL;
    }
  }
  int linked = ::link(temp.c_str(), path.c_str());
  int linkError = errno;
  ::unlink(temp.c_str());
  if (linked != 0) return linkError == EEXIST ? NTE_EXISTS : NTE_FAIL;
  return ERROR_SUCCESS;
}

DWORD LoadKeyContainer(const std::string& name, KeyContainerRecord& record) {
  std::filesystem::path path;
  if (!PathFor(name, path)) return NTE_BAD_KEYSET_PARAM;
  SecureBytes content;
  if (!ReadFile(path, content)) return NTE_BAD_KEYSET;
  content.push_back('\0');
  const char* text = reinterpret_cast<const char*>(content.data());
  unsigned long keySpec = 0;
  int exportable = 0;
  int consumed = 0;
  std::string format = std::string(kMagic) + "\nkeyspec %lu\nexportable %d\n%n";
  if (std::sscanf(text, format.c_str(), &keySpec, &exportable, &consumed) != 2 || consumed == 0)
    return NTE_BAD_KEYSET;
  record.keySpec = keySpec;
  record.exportable = exportable != 0;
  record.key.reset();
  std::size_t rest = content.size() - 1 - static_cast<std::size_t>(consumed);
  if (rest > 0) {
    BioPtr bio(BIO_new_mem_buf(text + consumed, static_cast<int>(rest)));
    // No pass-phrase prompt, whatever the file holds.
    pem_password_cb* noPassword = [](char*, int, int, void*) { return 0; };
    record.key.reset(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassword, nullptr)
                         : nullptr);
    if (!record.key) return NTE_BAD_KEYSET;
  }
  return ERROR_SUCCESS;
}

DWORD DeleteKeyContainer(const std::string& name) {
  std::filesystem::path path;
  if (!PathFor(name, path)) return NTE_BAD_KEYSET_PARAM;
  return ::unlink(path.c_str()) == 0 ? ERROR_SUCCESS : NTE_BAD_KEYSET;
}

bool KeyContainerExists(const std::string& name) {
  std::filesystem::path path;
  std::error_code ec;
  return PathFor(name, path) && std::filesystem::is_regular_file(path, ec);
}

std::string NewKeyContainerName() {
  for (;;) {
    unsigned char r[16];
    if (RAND_bytes(r, sizeof r) != 1) return {};
    char name[40];
    std::snprintf(name, sizeof name,
                  "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", r[0],
                  r[1], r[2], r[3], r[4], r[5], r[6], r[7], r[8], r[9], r[10], r[11], r[12], r[13],
                  r[14], r[15]);
    if (!KeyContainerExists(name)) return name;
  }
}

}  // namespace platform::crypt
