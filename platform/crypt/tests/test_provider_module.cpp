// A provider module for the tests: it proves that the platform loads a
// module by its registered name and routes every operation to it. It keeps
// one "key" per container name, accepts PP_ADMIN_PIN, stores KP_CERTIFICATE,
// and answers questions about what it was given through parameter 0x8000.
#include "platform/provider_module.h"

#include <openssl/evp.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr DWORD kParamLastPin = 0x8000;
constexpr DWORD kParamCertificate = 0x8001;

struct Context {
  std::string container;
  std::string pin;
};
struct Key {
  ULONG_PTR prov;
  std::vector<BYTE> certificate;
};

std::map<ULONG_PTR, Context> g_contexts;
std::map<ULONG_PTR, Key> g_keys;
std::map<ULONG_PTR, EVP_MD_CTX*> g_hashes;
std::vector<BYTE> g_lastCertificate;
ULONG_PTR g_next = 1000;

DWORD Out(const void* data, std::size_t size, BYTE* buffer, DWORD* length) {
  DWORD available = *length;
  *length = static_cast<DWORD>(size);
  if (!buffer) return ERROR_SUCCESS;
  if (available < size) return ERROR_MORE_DATA;
  std::memcpy(buffer, data, size);
  return ERROR_SUCCESS;
}

DWORD Acquire(LPCSTR container, LPCSTR, DWORD, DWORD flags, ULONG_PTR* prov) {
  if (flags & CRYPT_DELETEKEYSET) return NTE_BAD_KEYSET;
  bool verify = (flags & CRYPT_VERIFYCONTEXT) == CRYPT_VERIFYCONTEXT;
  if (!verify && (!container || std::strncmp(container, "card-", 5) != 0)) return NTE_BAD_KEYSET;
  *prov = ++g_next;
  g_contexts[*prov] = Context{container ? container : "", ""};
  return ERROR_SUCCESS;
}
DWORD Release(ULONG_PTR prov) { return g_contexts.erase(prov) ? ERROR_SUCCESS : NTE_BAD_UID; }
DWORD GetProv(ULONG_PTR prov, DWORD param, BYTE* data, DWORD* length, DWORD) {
  auto it = g_contexts.find(prov);
  if (it == g_contexts.end()) return NTE_BAD_UID;
  static const char name[] = "TestCSP";
  switch (param) {
    case PP_NAME:
      return Out(name, sizeof name, data, length);
    case PP_CONTAINER:
      return Out(it->second.container.c_str(), it->second.container.size() + 1, data, length);
    case kParamLastPin:
      return Out(it->second.pin.c_str(), it->second.pin.size() + 1, data, length);
    case kParamCertificate:
      return Out(g_lastCertificate.data(), g_lastCertificate.size(), data, length);
    default:
      return NTE_BAD_TYPE;
  }
}
DWORD SetProv(ULONG_PTR prov, DWORD param, const BYTE* data, DWORD) {
  auto it = g_contexts.find(prov);
  if (it == g_contexts.end()) return NTE_BAD_UID;
  if (param != PP_ADMIN_PIN || !data) return NTE_BAD_TYPE;
  it->second.pin = reinterpret_cast<const char*>(data);
  return ERROR_SUCCESS;
}
DWORD GetUserKey(ULONG_PTR prov, DWORD spec, ULONG_PTR* key) {
  auto it = g_contexts.find(prov);
  if (it == g_contexts.end()) return NTE_BAD_UID;
  if (spec != AT_SIGNATURE || it->second.container.empty()) return NTE_NO_KEY;
  *key = ++g_next;
  g_keys[*key] = Key{prov, {}};
  return ERROR_SUCCESS;
}
DWORD Export(ULONG_PTR, DWORD, DWORD, BYTE*, DWORD*) { return NTE_BAD_KEY_STATE; }
DWORD SetKey(ULONG_PTR key, DWORD param, const BYTE* data, DWORD) {
  if (!g_keys.count(key)) return NTE_BAD_KEY;
  if (param != KP_CERTIFICATE || !data) return NTE_BAD_TYPE;
  // The certificate's own DER length tells how many bytes it has.
  std::size_t length = data[1] < 0x80    ? 2u + data[1]
                       : data[1] == 0x81 ? 3u + data[2]
                                         : 4u + (std::size_t(data[2]) << 8 | data[3]);
  g_lastCertificate.assign(data, data + length);
  return ERROR_SUCCESS;
}
DWORD DestroyKey(ULONG_PTR key) { return g_keys.erase(key) ? ERROR_SUCCESS : NTE_BAD_KEY; }
DWORD CreateHash(ULONG_PTR prov, ALG_ID alg, DWORD, ULONG_PTR* hash) {
  if (!g_contexts.count(prov)) return NTE_BAD_UID;
  if (alg != CALG_SHA1) return NTE_BAD_ALGID;
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  EVP_DigestInit_ex(ctx, EVP_sha1(), nullptr);
  *hash = ++g_next;
  g_hashes[*hash] = ctx;
  return ERROR_SUCCESS;
}
DWORD HashData(ULONG_PTR hash, const BYTE* data, DWORD length, DWORD) {
  auto it = g_hashes.find(hash);
  if (it == g_hashes.end()) return NTE_BAD_HASH;
  EVP_DigestUpdate(it->second, data, length);
  return ERROR_SUCCESS;
}
DWORD GetHash(ULONG_PTR hash, DWORD param, BYTE* data, DWORD* length, DWORD) {
  auto it = g_hashes.find(hash);
  if (it == g_hashes.end()) return NTE_BAD_HASH;
  if (param != HP_HASHVAL) return NTE_BAD_TYPE;
  if (!data || *length < 20) {
    *length = 20;
    return data ? ERROR_MORE_DATA : ERROR_SUCCESS;
  }
  unsigned int size = 0;
  EVP_DigestFinal_ex(it->second, data, &size);
  *length = size;
  return ERROR_SUCCESS;
}
DWORD DestroyHash(ULONG_PTR hash) {
  auto it = g_hashes.find(hash);
  if (it == g_hashes.end()) return NTE_BAD_HASH;
  EVP_MD_CTX_free(it->second);
  g_hashes.erase(it);
  return ERROR_SUCCESS;
}

// The private-key operations are not offered by this module.
DWORD SetHash(ULONG_PTR, DWORD, const BYTE*, DWORD) { return NTE_BAD_TYPE; }
DWORD Sign(ULONG_PTR, DWORD, DWORD, BYTE*, DWORD*) { return NTE_NO_KEY; }
DWORD Verify(ULONG_PTR, const BYTE*, DWORD, ULONG_PTR, DWORD) { return NTE_BAD_SIGNATURE; }
DWORD Decrypt(ULONG_PTR, BOOL, DWORD, BYTE*, DWORD*) { return NTE_BAD_KEY; }
DWORD GetKey(ULONG_PTR, DWORD, BYTE*, DWORD*, DWORD) { return NTE_BAD_TYPE; }
DWORD Import(ULONG_PTR, const BYTE*, DWORD, DWORD, ULONG_PTR*) { return NTE_BAD_TYPE; }

const ORVEL_PROVIDER_FUNCTIONS kTable = {ORVEL_PROVIDER_INTERFACE_VERSION,
                                         Acquire,
                                         Release,
                                         GetProv,
                                         SetProv,
                                         GetUserKey,
                                         Export,
                                         SetKey,
                                         DestroyKey,
                                         CreateHash,
                                         HashData,
                                         GetHash,
                                         DestroyHash,
                                         SetHash,
                                         Sign,
                                         Verify,
                                         Decrypt,
                                         GetKey,
                                         Import};

}  // namespace

extern "C" __attribute__((visibility("default"))) const ORVEL_PROVIDER_FUNCTIONS*
OrvelGetProviderFunctions() {
  return &kTable;
}
