#include "named_mutex.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "common/windows_version.h"
#include "platform/kernel_objects.h"

CNamedMutex::CNamedMutex(const char* name) {
  SECURITY_DESCRIPTOR descriptor{};
  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = 12;
  attributes.lpSecurityDescriptor = nullptr;
  attributes.bInheritHandle = FALSE;
  if (IsWindowsNT() && InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION)) {
    attributes.lpSecurityDescriptor = &descriptor;
    m_handle = CreateMutexA(&attributes, FALSE, name);
  } else {
    m_handle = CreateMutexA(nullptr, FALSE, name);
  }
}

CNamedMutex::~CNamedMutex() {
  if (m_handle != nullptr) CloseHandle(m_handle);
}

bool CNamedMutex::Lock() {
  if (m_handle == nullptr) return true;
  return WaitForSingleObject(m_handle, INFINITE) == WAIT_OBJECT_0;
}

bool CNamedMutex::Unlock() {
  if (m_handle == nullptr) return true;
  return ReleaseMutex(m_handle) != FALSE;
}

std::string ReaderMutexName(const char* readerName) {
  std::string name = kReaderMutexPrefix;
  const std::size_t room = kMutexNameSize - 1 - name.size();
  const std::size_t length = std::strlen(readerName);
  if (length <= room) return name.append(readerName, length);

  // 64-bit FNV-1a of the whole reader name, as 16 hexadecimal digits after
  // a '#': every process computes the same name for the same reader.
  std::uint64_t digest = 0xCBF29CE484222325ULL;
  for (std::size_t i = 0; i < length; ++i) {
    digest ^= static_cast<unsigned char>(readerName[i]);
    digest *= 0x100000001B3ULL;
  }
  char suffix[18];
  std::snprintf(suffix, sizeof suffix, "#%016llX", static_cast<unsigned long long>(digest));
  name.append(readerName, room - (sizeof suffix - 1));
  return name.append(suffix);
}
