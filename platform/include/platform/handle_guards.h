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

// A platform object that the guard frees with Free when it goes.
template <class Handle, void (*Free)(Handle)>
class CPlatformObject : private NonCopyable {
 public:
  explicit CPlatformObject(Handle handle = nullptr) : m_handle(handle) {}
  ~CPlatformObject() { Reset(); }

  Handle Get() const { return m_handle; }
  explicit operator bool() const { return m_handle != nullptr; }
  // Takes another object, freeing the one held.
  void Reset(Handle handle = nullptr) {
    if (m_handle != nullptr) Free(m_handle);
    m_handle = handle;
  }
  // Hands the object to the caller, who frees it.
  Handle Detach() {
    Handle handle = m_handle;
    m_handle = nullptr;
    return handle;
  }

 private:
  Handle m_handle;
};

inline void CloseCertStore(HCERTSTORE store) { CertCloseStore(store, 0); }
inline void FreeCertificateContext(PCCERT_CONTEXT context) { CertFreeCertificateContext(context); }

// A certificate store, closed with flags 0 when the guard goes.
using CCertStore = CPlatformObject<HCERTSTORE, CloseCertStore>;
// A certificate that the platform created and the guard frees.
using CCertificateContext = CPlatformObject<PCCERT_CONTEXT, FreeCertificateContext>;

// A provider, key or hash handle, given back with Destroy when the guard
// goes, unless the guard was told that someone else owns it.
template <class Handle, BOOL (*Destroy)(Handle)>
class CCryptHandle : private NonCopyable {
 public:
  CCryptHandle() = default;
  ~CCryptHandle() { Reset(); }

  Handle* Receive() {
    Reset();
    m_owned = true;
    return &m_handle;
  }
  // Keeps a handle that the guard must give back only when callerReleases.
  void Adopt(Handle handle, bool callerReleases) {
    Reset();
    m_handle = handle;
    m_owned = callerReleases;
  }
  Handle Get() const { return m_handle; }
  // Gives the handle back now; true when there was nothing to give back or
  // it was given back.
  bool Reset() {
    const bool done = m_handle == 0 || !m_owned || Destroy(m_handle) == TRUE;
    m_handle = 0;
    m_owned = false;
    return done;
  }

 private:
  Handle m_handle = 0;
  bool m_owned = false;
};

inline BOOL ReleaseProviderContext(HCRYPTPROV provider) { return CryptReleaseContext(provider, 0); }

// A provider context, released with flags 0 when the guard goes, unless the
// guard was told that someone else owns it (a context cached with a
// certificate).
class CProviderContext : public CCryptHandle<HCRYPTPROV, ReleaseProviderContext> {
 public:
  // CryptAcquireCertificatePrivateKey with those flags: the provider of the
  // certificate's key, released by the guard only when the caller must
  // release it, and the key's spec. False when it fails.
  bool AcquireCertificateKey(PCCERT_CONTEXT certificate, DWORD flags, DWORD* keySpec) {
    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE handle = 0;
    BOOL callerReleases = FALSE;
    if (CryptAcquireCertificatePrivateKey(certificate, flags, nullptr, &handle, keySpec,
                                          &callerReleases) != TRUE) {
      return false;
    }
    Adopt(handle, callerReleases == TRUE);
    return true;
  }
  // Releases now; true when there was nothing to release or the release
  // succeeded.
  bool Release() { return Reset(); }
};

using CKeyHandle = CCryptHandle<HCRYPTKEY, CryptDestroyKey>;
using CHashHandle = CCryptHandle<HCRYPTHASH, CryptDestroyHash>;
