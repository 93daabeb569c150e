// orvelcsp_attach_probe CONTAINER CERTIFICATE-FILE PIN
// A program with no PC/SC library of its own: it binds a certificate to a key
// container through "OrvelCSP", so the module has to find PC/SC by itself.
// Exit status: 0 attached, 1 not attached, 2 bad arguments, 3 a PC/SC
// library is in the program's global scope after all.
#include <dlfcn.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "keyprep/card_provider.h"

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  if (dlsym(RTLD_DEFAULT, "SCardTransmit") != nullptr) return 3;
  std::ifstream in(argv[2], std::ios::binary);
  const std::vector<BYTE> certificate((std::istreambuf_iterator<char>(in)),
                                      std::istreambuf_iterator<char>());
  if (certificate.empty()) return 2;
  return AttachCertificateToKey(kCardProviderName, argv[1], certificate.data(),
                                static_cast<DWORD>(certificate.size()), argv[3])
             ? 0
             : 1;
}
