// Scope guards for the platform's provider, key and hash handles: whatever
// way a preparation routine ends, what it obtained is given back.
#pragma once

#include "platform/wincrypt.h"

// A provider context, released with flags 0 when the guard goes, unless the
// guard was told that someone else owns it (a context cached with a
// certificate).
class CProviderContext {
 public:
  CProviderContext() = default;
  ~CProviderContext() { Release(); }
  CProviderContext(const CProviderContext&) = delete;
  CProviderContext& operator=(const CProviderContext&) = delete;

  // Where the platform writes a new handle; the guard then owns it.
  HCRYPTPROV* Receive() {
    Release();
    m_owned = true;
    return &m_handle;
  }
  // Keeps a handle that the guard must release only when callerReleases.
  void Adopt(HCRYPTPROV handle, bool callerReleases) {
    Release();
    m_handle = handle;
    m_owned = callerReleases;
  }
  HCRYPTPROV Get() const { return m_handle; }
  // Releases now; true when there was nothing to release or the release
  // succeeded.
  bool Release() {
    bool released = true;
    if (m_owned && m_handle != 0) released = CryptReleaseContext(m_handle, 0) == TRUE;
    m_handle = 0;
    m_owned = false;
    return released;
  }

 private:
  HCRYPTPROV m_handle = 0;
  bool m_owned = false;
};

class CKeyHandle {
 public:
  CKeyHandle() = default;
  ~CKeyHandle() {
    if (m_handle != 0) CryptDestroyKey(m_handle);
  }
  CKeyHandle(const CKeyHandle&) = delete;
  CKeyHandle& operator=(const CKeyHandle&) = delete;

  HCRYPTKEY* Receive() { return &m_handle; }
  HCRYPTKEY Get() const { return m_handle; }

 private:
  HCRYPTKEY m_handle = 0;
};

class CHashHandle {
 public:
  CHashHandle() = default;
  ~CHashHandle() {
    if (m_handle != 0) CryptDestroyHash(m_handle);
  }
  CHashHandle(const CHashHandle&) = delete;
  CHashHandle& operator=(const CHashHandle&) = delete;

  HCRYPTHASH* Receive() { return &m_handle; }
  HCRYPTHASH Get() const { return m_handle; }

 private:
  HCRYPTHASH m_handle = 0;
};

// A certificate that the platform created and the guard frees.
class CCertificateContext {
 public:
  explicit CCertificateContext(PCCERT_CONTEXT context) : m_context(context) {}
  ~CCertificateContext() {
    if (m_context != nullptr) CertFreeCertificateContext(m_context);
  }
  CCertificateContext(const CCertificateContext&) = delete;
  CCertificateContext& operator=(const CCertificateContext&) = delete;

  PCCERT_CONTEXT Get() const { return m_context; }

 private:
  PCCERT_CONTEXT m_context;
};
