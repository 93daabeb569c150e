#include "platform/framework_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int CauseOf(int error) {
  switch (error) {
    case ENOENT:
      return CFileException::fileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
      return CFileException::badPath;
    case EACCES:
    case EPERM:
      return CFileException::accessDenied;
    default:
      return CFileException::genericException;
  }
}

}  // namespace

CFile::CFile(LPCSTR lpszFileName, UINT nOpenFlags) {
  CFileException error;
  if (!Open(lpszFileName, nOpenFlags, &error)) throw error;
}

CFile::~CFile() { Close(); }

BOOL CFile::Open(LPCSTR lpszFileName, UINT nOpenFlags, CFileException* pError) {
  Close();
  const auto fail = [&](int cause, int osError) {
    if (pError != nullptr)
      *pError = CFileException(cause, osError, lpszFileName ? lpszFileName : "");
    return FALSE;
  };
  if (lpszFileName == nullptr || *lpszFileName == '\0') {
    return fail(CFileException::badPath, ENOENT);
  }
  // Reading is the only mode; sharing flags mean nothing here.
  const UINT mode = nOpenFlags & 0x0003;
  if (mode != modeRead) return fail(CFileException::accessDenied, EINVAL);

  // Not blocking, so that a named pipe cannot hold the caller up; only a
  // regular file is taken.
  const int fd = ::open(lpszFileName, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return fail(CauseOf(errno), errno);
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    const int error = errno != 0 ? errno : EINVAL;
    ::close(fd);
    return fail(CFileException::invalidFile, error);
  }
  m_fd = fd;
  m_name = lpszFileName;
  return TRUE;
}

ULONGLONG CFile::GetLength() const {
  struct stat info {};
  if (m_fd < 0 || ::fstat(m_fd, &info) != 0) {
    throw CFileException(CFileException::invalidFile, m_fd < 0 ? EBADF : errno, m_name);
  }
  return static_cast<ULONGLONG>(info.st_size);
}

UINT CFile::Read(void* lpBuf, UINT nCount) {
  if (m_fd < 0) throw CFileException(CFileException::invalidFile, EBADF, m_name);
  auto* out = static_cast<char*>(lpBuf);
  UINT done = 0;
  while (done < nCount) {
    const ssize_t got = ::read(m_fd, out + done, nCount - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw CFileException(CFileException::genericException, errno, m_name);
    }
    if (got == 0) break;
    done += static_cast<UINT>(got);
  }
  return done;
}

void CFile::Close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  m_name.clear();
}
