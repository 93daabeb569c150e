// Scope guards for the platform's handles: a resource-manager context, a
// reader list the resource manager allocated, a certificate store, a
// certificate context, a provider context, a key and a hash. Whatever way a
// routine ends, what it obtained is given back; Receive() is where the
// platform writes a new handle, which the guard then owns.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "common/non_copyable.h"
#include "platform/wincrypt.h"
#include "platform/winscard_ext.h"

// A resource-manager context, released when the guard goes.
class CResourceManagerContext : private NonCopyable {
 public:
  CResourceManagerContext() = default;
  ~CResourceManagerContext() { Release(); }

  // SCardEstablishContext in that scope; its result. A context the guard
  // already holds is kept.
  LONG Establish(DWORD scope) {
    if (m_established) return SCARD_S_SUCCESS;
    const LONG result = SCardEstablishContext(scope, nullptr, nullptr, &m_context);
    m_established = result == SCARD_S_SUCCESS;
    return result;
  }
  SCARDCONTEXT Get() const { return m_context; }
  bool Established() const { return m_established; }
  // Releases now; true when there was nothing to release or the release
  // succeeded.
  bool Release() {
    bool released = true;
    if (m_established) released = SCardReleaseContext(m_context) == SCARD_S_SUCCESS;
    m_context = 0;
    m_established = false;
    return released;
  }

 private:
  SCARDCONTEXT m_context = 0;
  bool m_established = false;
};

// The multi-string of reader names that the resource manager allocated
// (SCARD_AUTOALLOCATE), freed with SCardFreeMemory when the guard goes. It
// calls pcsc-lite's own SCardListReaders (the platform's SCardListReadersA
// forwards to it), so that provider modules, which link no platform
// library, can use it too.
class CReaderNames : private NonCopyable {
 public:
  explicit CReaderNames(SCARDCONTEXT context) : m_context(context) {}
  ~CReaderNames() { Free(); }

  // Lists the readers of the context's groups; SCardListReaders' result.
  // The list is null unless the result is SCARD_S_SUCCESS.
  LONG List() {
    Free();
    DWORD length = SCARD_AUTOALLOCATE;
    const LONG result =
        SCardListReaders(m_context, nullptr, reinterpret_cast<LPSTR>(&m_names), &length);
    if (result != SCARD_S_SUCCESS) {
      Free();
      return result;
    }
    m_length = length;
    return result;
  }
  LPCSTR Get() const { return m_names; }
  DWORD Length() const { return m_length; }
  // Hands the list to the caller, who frees it with SCardFreeMemory.
  LPSTR Detach() {
    LPSTR names = m_names;
    m_names = nullptr;
    m_length = 0;
    return names;
  }
  // The names of the multi-string, read within the length it was given.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    if (m_names == nullptr) return names;
    std::size_t pos = 0;
    while (pos < m_length && m_names[pos] != '\0') {
      const std::size_t size = strnlen(m_names + pos, m_length - pos);
      names.emplace_back(m_names + pos, size);
      pos += size + 1;
    }
    return names;
  }

 private:
  void Free() {
    if (m_names != nullptr) SCardFreeMemory(m_context, m_names);
    m_names = nullptr;
    m_length = 0;
  }

  SCARDCONTEXT m_context;
  LPSTR m_names = nullptr;
  DWORD m_length = 0;
};

// A certificate store, closed with flags 0 when the guard goes.
class CCertStore : private NonCopyable {
 public:
  explicit CCertStore(HCERTSTORE store = nullptr) : m_store(store) {}
  ~CCertStore() { Close(); }

  HCERTSTORE Get() const { return m_store; }
  explicit operator bool() const { return m_store != nullptr; }
  // Takes another store, closing the one held.
  void Reset(HCERTSTORE store = nullptr) {
    Close();
    m_store = store;
  }

 private:
  void Close() {
    if (m_store != nullptr) CertCloseStore(m_store, 0);
    m_store = nullptr;
  }

  HCERTSTORE m_store;
};

// A certificate that the platform created and the guard frees.
class CCertificateContext : private NonCopyable {
 public:
  explicit CCertificateContext(PCCERT_CONTEXT context = nullptr) : m_context(context) {}
  ~CCertificateContext() { Reset(); }

  PCCERT_CONTEXT Get() const { return m_context; }
  explicit operator bool() const { return m_context != nullptr; }
  // Takes another certificate, freeing the one held.
  void Reset(PCCERT_CONTEXT context = nullptr) {
    if (m_context != nullptr) CertFreeCertificateContext(m_context);
    m_context = context;
  }
  // Hands the certificate to the caller, who frees it.
  PCCERT_CONTEXT Detach() {
    PCCERT_CONTEXT context = m_context;
    m_context = nullptr;
    return context;
  }

 private:
  PCCERT_CONTEXT m_context;
};

// A provider context, released with flags 0 when the guard goes, unless the
// guard was told that someone else owns it (a context cached with a
// certificate).
class CProviderContext : private NonCopyable {
 public:
  CProviderContext() = default;
  ~CProviderContext() { Release(); }

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

// A key or hash handle, destroyed with Destroy when the guard goes.
template <class Handle, BOOL (*Destroy)(Handle)>
class CCryptHandle : private NonCopyable {
 public:
  CCryptHandle() = default;
  ~CCryptHandle() { Reset(); }

  Handle* Receive() {
    Reset();
    return &m_handle;
  }
  Handle Get() const { return m_handle; }
  // Destroys the handle now; true when there was none or it was destroyed.
  bool Reset() {
    const bool destroyed = m_handle == 0 || Destroy(m_handle) == TRUE;
    m_handle = 0;
    return destroyed;
  }

 private:
  Handle m_handle = 0;
};

using CKeyHandle = CCryptHandle<HCRYPTKEY, CryptDestroyKey>;
using CHashHandle = CCryptHandle<HCRYPTHASH, CryptDestroyHash>;
