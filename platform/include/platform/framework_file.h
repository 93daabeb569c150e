// Files of the framework: a file opened for reading whose failures are
// reported as CFileException, thrown by value.
#pragma once

#include <string>
#include <utility>

#include "common/non_copyable.h"
#include "platform/win32.h"

typedef unsigned long long ULONGLONG;

class CFileException {
 public:
  enum {
    none = 0,
    genericException = 1,
    fileNotFound = 2,
    badPath = 3,
    accessDenied = 5,
    invalidFile = 6,
    endOfFile = 14,
  };

  CFileException(int cause = none, LONG osError = 0, std::string fileName = {})
      : m_cause(cause), m_lOsError(osError), m_strFileName(std::move(fileName)) {}

  int m_cause;
  LONG m_lOsError;  // errno of the failed call
  std::string m_strFileName;
};

class CFile : private NonCopyable {
 public:
  enum OpenFlags : UINT {
    modeRead = 0x0000,
    shareCompat = 0x0000,
    shareDenyNone = 0x0040,
    typeBinary = 0x8000,
  };

  CFile() = default;
  // Opens the file; throws CFileException.
  CFile(LPCSTR lpszFileName, UINT nOpenFlags);
  ~CFile();

  // Opens a regular file for reading (the only mode there is). FALSE, with
  // the reason in *pError when given, for an empty or missing name, a file
  // that is not a regular file, or one that cannot be opened.
  BOOL Open(LPCSTR lpszFileName, UINT nOpenFlags, CFileException* pError = nullptr);
  // Size in bytes; throws CFileException.
  ULONGLONG GetLength() const;
  // Reads up to nCount bytes; fewer only at the end of the file. Throws
  // CFileException on a read error.
  UINT Read(void* lpBuf, UINT nCount);
  void Close();

 private:
  int m_fd = -1;
  std::string m_name;
};
