#include "openssl_types.h"

#include <openssl/provider.h>

namespace platform::crypt {
namespace {

// Holds the providers for the life of the process. Unloading them at exit,
// before OpenSSL's own clean-up runs, lets that clean-up free everything.
struct LoadedProviders {
  OSSL_PROVIDER* fallback = OSSL_PROVIDER_load(nullptr, "default");
  // A missing legacy module leaves the modern ciphers.
  OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
  ~LoadedProviders() {
    if (legacy) OSSL_PROVIDER_unload(legacy);
    if (fallback) OSSL_PROVIDER_unload(fallback);
  }
};

}  // namespace

void EnsureOpenSslProviders() {
  // Loading "legacy" explicitly ends the implicit use of the default
  // provider, so both are loaded.
  static LoadedProviders providers;
}

}  // namespace platform::crypt
