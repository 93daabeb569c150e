// Opens the personal store "MY" N times and checks that every opening shows
// the same certificates, each once and with key-provider information.
//   open_personal_store N
// Prints "opens=N certificates=C digest=D" and exits 0, or says what
// differed and exits 1.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <vector>

#include "platform/handle_guards.h"
#include "platform/wincrypt.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Listing {
  std::set<Bytes> certificates;
  int duplicates = 0;
  int withoutKeyInfo = 0;
  bool opened = false;
};

Listing OpenOnce() {
  Listing listing;
  const CCertStore personal(
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, u"MY"));
  if (!personal) return listing;
  listing.opened = true;
  PCCERT_CONTEXT context = nullptr;
  while ((context = CertEnumCertificatesInStore(personal.Get(), context)) != nullptr) {
    Bytes der(context->pbCertEncoded, context->pbCertEncoded + context->cbCertEncoded);
    if (!listing.certificates.insert(std::move(der)).second) ++listing.duplicates;
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
      ++listing.withoutKeyInfo;
    }
  }
  return listing;
}

// FNV-1a over the sorted certificates.
std::uint64_t Digest(const std::set<Bytes>& certificates) {
  std::uint64_t digest = 0xCBF29CE484222325ULL;
  for (const Bytes& der : certificates) {
    for (std::uint8_t byte : der) digest = (digest ^ byte) * 0x100000001B3ULL;
  }
  return digest;
}

}  // namespace

int main(int argc, char** argv) {
  const int opens = argc > 1 ? std::atoi(argv[1]) : 0;
  if (opens <= 0) {
    std::fprintf(stderr, "usage: open_personal_store N\n");
    return 2;
  }
  const Listing first = OpenOnce();
  for (int i = 0; i < opens; ++i) {
    const Listing listing = i == 0 ? first : OpenOnce();
    if (!listing.opened || listing.duplicates != 0 || listing.withoutKeyInfo != 0 ||
        listing.certificates != first.certificates) {
      std::printf("opening %d: opened=%d certificates=%zu duplicates=%d without key info=%d\n", i,
                  listing.opened ? 1 : 0, listing.certificates.size(), listing.duplicates,
                  listing.withoutKeyInfo);
      return 1;
    }
  }
  std::printf("opens=%d certificates=%zu digest=%016llX\n", opens, first.certificates.size(),
              static_cast<unsigned long long>(Digest(first.certificates)));
  return 0;
}
