// Opens a key container of the software provider from a process of its own
// and prints what it finds: "exported <size> <hex of the first 20 bytes>"
// or "error <hex code>". Used by the persistence tests.
#include "platform/handle_guards.h"
#include "platform/wincrypt.h"

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  CProviderContext prov;
  CKeyHandle key;
  if (!CryptAcquireContextA(prov.Receive(), argv[1], nullptr, PROV_RSA_FULL, 0) ||
      !CryptGetUserKey(prov.Get(), AT_KEYEXCHANGE, key.Receive())) {
    std::printf("error %lx\n", GetLastError());
    return 1;
  }
  DWORD size = 0;
  std::vector<BYTE> blob;
  BOOL ok = CryptExportKey(key.Get(), 0, PRIVATEKEYBLOB, 0, nullptr, &size);
  if (ok) {
    blob.resize(size);
    ok = CryptExportKey(key.Get(), 0, PRIVATEKEYBLOB, 0, blob.data(), &size);
  }
  if (ok) {
    std::printf("exported %lu ", size);
    for (DWORD i = 0; i < 20 && i < size; ++i) std::printf("%02x", blob[i]);
    std::printf("\n");
  } else {
    std::printf("error %lx\n", GetLastError());
  }
  return ok ? 0 : 1;
}
