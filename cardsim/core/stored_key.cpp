// StoredKey checks: completeness and p * q == n, with OpenSSL's BIGNUM.
#include <openssl/bn.h>

#include <memory>

#include "cardsim/virtual_card.h"

namespace cardsim {

namespace {
struct BnFree {
  void operator()(BIGNUM* b) const { BN_free(b); }
};
struct CtxFree {
  void operator()(BN_CTX* c) const { BN_CTX_free(c); }
};
using BnPtr = std::unique_ptr<BIGNUM, BnFree>;

BnPtr FromBigEndian(const Bytes& b) {
  return BnPtr(BN_bin2bn(b.data(), static_cast<int>(b.size()), nullptr));
}
}  // namespace

bool StoredKey::Complete() const {
  return !modulus.empty() && !exponent.empty() && !prime1.empty() && !prime2.empty() &&
         !coefficient.empty() && !exponent1.empty() && !exponent2.empty();
}

bool StoredKey::Consistent() const {
  if (!Complete()) return false;
  std::unique_ptr<BN_CTX, CtxFree> ctx(BN_CTX_new());
  BnPtr n = FromBigEndian(modulus), p = FromBigEndian(prime1), q = FromBigEndian(prime2);
  BnPtr product(BN_new());
  if (!ctx || !n || !p || !q || !product) return false;
  if (BN_is_zero(n.get())) return false;
  if (BN_mul(product.get(), p.get(), q.get(), ctx.get()) != 1) return false;
  return BN_cmp(product.get(), n.get()) == 0;
}

}  // namespace cardsim
