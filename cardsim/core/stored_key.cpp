// StoredKey checks (completeness and p * q == n) and the RSA private-key
// operation with the stored CRT parts (the private exponent is never on the
// card), with OpenSSL's BIGNUM.
#include <openssl/bn.h>

#include <memory>

#include "card_state.h"

namespace cardsim {

namespace {
struct BnFree {
  void operator()(BIGNUM* b) const { BN_clear_free(b); }
};
struct CtxFree {
  void operator()(BN_CTX* c) const { BN_CTX_free(c); }
};
using BnPtr = std::unique_ptr<BIGNUM, BnFree>;

BnPtr FromBigEndian(std::span<const std::uint8_t> b) {
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

std::optional<Bytes> PrivateKeyOperation(const StoredKey& key,
                                         std::span<const std::uint8_t> input) {
  if (!key.Complete()) return std::nullopt;
  std::unique_ptr<BN_CTX, CtxFree> ctx(BN_CTX_new());
  BnPtr n = FromBigEndian(key.modulus), p = FromBigEndian(key.prime1),
        q = FromBigEndian(key.prime2), dp = FromBigEndian(key.exponent1),
        dq = FromBigEndian(key.exponent2), qinv = FromBigEndian(key.coefficient),
        c = FromBigEndian(input);
  BnPtr m1(BN_new()), m2(BN_new()), h(BN_new()), m(BN_new());
  if (!ctx || !n || !p || !q || !dp || !dq || !qinv || !c || !m1 || !m2 || !h || !m) {
    return std::nullopt;
  }
  if (BN_is_zero(p.get()) || BN_is_zero(q.get()) || BN_cmp(c.get(), n.get()) >= 0) {
    return std::nullopt;
  }
  for (BIGNUM* secret : {p.get(), q.get(), dp.get(), dq.get(), qinv.get()}) {
    BN_set_flags(secret, BN_FLG_CONSTTIME);
  }
  // m1 = c^dp mod p, m2 = c^dq mod q, h = qinv (m1 - m2) mod p, m = m2 + h q.
  if (BN_mod(m1.get(), c.get(), p.get(), ctx.get()) != 1 ||
      BN_mod_exp(m1.get(), m1.get(), dp.get(), p.get(), ctx.get()) != 1 ||
      BN_mod(m2.get(), c.get(), q.get(), ctx.get()) != 1 ||
      BN_mod_exp(m2.get(), m2.get(), dq.get(), q.get(), ctx.get()) != 1 ||
      BN_mod_sub(h.get(), m1.get(), m2.get(), p.get(), ctx.get()) != 1 ||
      BN_mod_mul(h.get(), h.get(), qinv.get(), p.get(), ctx.get()) != 1 ||
      BN_mul(m.get(), h.get(), q.get(), ctx.get()) != 1 ||
      BN_add(m.get(), m.get(), m2.get()) != 1) {
    return std::nullopt;
  }
  Bytes out(key.modulus.size());
  if (BN_bn2binpad(m.get(), out.data(), static_cast<int>(out.size())) < 0) return std::nullopt;
  return out;
}

}  // namespace cardsim
