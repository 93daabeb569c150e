#include "pfx_reader.h"

#include <openssl/pkcs7.h>

namespace platform::crypt {
namespace {

std::vector<unsigned char> LocalKeyId(const PKCS12_SAFEBAG* bag) {
  const ASN1_TYPE* attr = PKCS12_SAFEBAG_get0_attr(bag, NID_localKeyID);
  if (!attr || attr->type != V_ASN1_OCTET_STRING) return {};
  const ASN1_OCTET_STRING* id = attr->value.octet_string;
  const unsigned char* data = ASN1_STRING_get0_data(id);
  return std::vector<unsigned char>(data, data + ASN1_STRING_length(id));
}

// Iterations of one derivation, weighted by the derivations it implies; 0
// when the parameters are unusable or the scheme is not supported.
std::uint64_t DerivationCost(const X509_ALGOR* algorithm) {
  const ASN1_OBJECT* oid = nullptr;
  int type = 0;
  const void* value = nullptr;
  X509_ALGOR_get0(&oid, &type, &value, algorithm);
  if (type != V_ASN1_SEQUENCE || !algorithm->parameter) return 0;
  int nid = OBJ_obj2nid(oid);
  long iterations = 0;
  std::uint64_t weight = 1;
  if (nid == NID_pbes2) {
    OsslPtr<PBE2PARAM, PBE2PARAM_free> pbe2(static_cast<PBE2PARAM*>(
        ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBE2PARAM), algorithm->parameter)));
    if (!pbe2 || !pbe2->keyfunc || OBJ_obj2nid(pbe2->keyfunc->algorithm) != NID_id_pbkdf2 ||
        !pbe2->keyfunc->parameter)
      return 0;
    OsslPtr<PBKDF2PARAM, PBKDF2PARAM_free> kdf(static_cast<PBKDF2PARAM*>(
        ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBKDF2PARAM), pbe2->keyfunc->parameter)));
    if (!kdf || !kdf->iter) return 0;
    iterations = ASN1_INTEGER_get(kdf->iter);
    weight = 2;  // a 256-bit key takes two SHA-1 blocks
  } else if (EVP_PBE_find(EVP_PBE_TYPE_OUTER, nid, nullptr, nullptr, nullptr)) {
    OsslPtr<PBEPARAM, PBEPARAM_free> pbe(static_cast<PBEPARAM*>(
        ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBEPARAM), algorithm->parameter)));
    if (!pbe || !pbe->iter) return 0;
    iterations = ASN1_INTEGER_get(pbe->iter);
    weight = 2;  // key and IV are derived separately
  } else {
    return 0;
  }
  if (iterations <= 0 || static_cast<std::uint64_t>(iterations) > kMaxPfxIterations) return 0;
  return static_cast<std::uint64_t>(iterations) * weight;
}

void FreeSafes(STACK_OF(PKCS7) * safes) { sk_PKCS7_pop_free(safes, PKCS7_free); }
void FreeBags(STACK_OF(PKCS12_SAFEBAG) * bags) {
  sk_PKCS12_SAFEBAG_pop_free(bags, PKCS12_SAFEBAG_free);
}
using SafesPtr = OsslPtr<STACK_OF(PKCS7), FreeSafes>;
using BagsPtr = OsslPtr<STACK_OF(PKCS12_SAFEBAG), FreeBags>;

}  // namespace

Pkcs12Ptr PfxReader::Parse(const unsigned char* data, std::size_t size) {
  if (!data || size == 0 || size > static_cast<std::size_t>(LONG_MAX)) return nullptr;
  const unsigned char* p = data;
  Pkcs12Ptr pfx(d2i_PKCS12(nullptr, &p, static_cast<long>(size)));
  if (!pfx || p != data + size) return nullptr;
  return pfx;
}

bool PfxReader::DeclaredWorkWithinBounds(PKCS12* pfx) {
  std::uint64_t total = 0;
  if (PKCS12_mac_present(pfx)) {
    const ASN1_INTEGER* iterations = nullptr;
    PKCS12_get0_mac(nullptr, nullptr, nullptr, &iterations, pfx);
    const long count = iterations ? ASN1_INTEGER_get(iterations) : 1;  // absent means 1
    if (count <= 0 || static_cast<std::uint64_t>(count) > kMaxPfxIterations) return false;
    total += static_cast<std::uint64_t>(count);
  }
  SafesPtr safes(PKCS12_unpack_authsafes(pfx));
  if (!safes) return true;  // nothing more to see without the password
  for (int i = 0; i < sk_PKCS7_num(safes.get()); ++i) {
    PKCS7* safe = sk_PKCS7_value(safes.get(), i);
    if (OBJ_obj2nid(safe->type) != NID_pkcs7_encrypted) continue;
    if (!safe->d.encrypted || !safe->d.encrypted->enc_data) return false;
    const std::uint64_t cost = DerivationCost(safe->d.encrypted->enc_data->algorithm);
    if (cost == 0) return false;
    total += cost;
  }
  return total <= kMaxPfxTotalIterations;
}

PfxReader::PfxReader(PKCS12* pfx, const SecureText& password) : m_pfx(pfx), m_password(password) {
  m_password.push_back('\0');
}

bool PfxReader::Afford(const X509_ALGOR* algorithm) {
  std::uint64_t cost = algorithm ? DerivationCost(algorithm) : 0;
  if (cost == 0 || m_spent + cost > kMaxPfxTotalIterations) return false;
  m_spent += cost;
  return true;
}

bool PfxReader::AffordMac() {
  const ASN1_INTEGER* iterations = nullptr;
  PKCS12_get0_mac(nullptr, nullptr, nullptr, &iterations, m_pfx);
  long count = iterations ? ASN1_INTEGER_get(iterations) : 1;  // absent means 1
  if (count <= 0 || static_cast<std::uint64_t>(count) > kMaxPfxIterations ||
      m_spent + static_cast<std::uint64_t>(count) > kMaxPfxTotalIterations)
    return false;
  m_spent += static_cast<std::uint64_t>(count);
  return true;
}

PfxStatus PfxReader::VerifyPassword() {
  if (!PKCS12_mac_present(m_pfx)) return PfxStatus::kOk;
  if (!AffordMac()) return PfxStatus::kMalformed;
  if (m_password.size() > 1) {
    m_useNullPassword = false;
    return PKCS12_verify_mac(m_pfx, Pass(), PassLength()) ? PfxStatus::kOk
                                                          : PfxStatus::kBadPassword;
  }
  // An empty password is either no password at all or an empty string,
  // depending on the program that wrote the file: both are tried.
  m_useNullPassword = true;
  if (PKCS12_verify_mac(m_pfx, nullptr, 0)) return PfxStatus::kOk;
  if (!AffordMac()) return PfxStatus::kMalformed;
  m_useNullPassword = false;
  return PKCS12_verify_mac(m_pfx, "", 0) ? PfxStatus::kOk : PfxStatus::kBadPassword;
}

PfxStatus PfxReader::Read(PfxContents& contents) {
  if (PfxStatus status = VerifyPassword(); status != PfxStatus::kOk) return status;
  // Without a MAC the password is proved by the first decryption instead.
  m_passwordProven = PKCS12_mac_present(m_pfx);

  SafesPtr safes(PKCS12_unpack_authsafes(m_pfx));
  if (!safes) return PfxStatus::kMalformed;
  for (int i = 0; i < sk_PKCS7_num(safes.get()); ++i) {
    PKCS7* safe = sk_PKCS7_value(safes.get(), i);
    BagsPtr bags;
    int nid = OBJ_obj2nid(safe->type);
    if (nid == NID_pkcs7_data) {
      bags.reset(PKCS12_unpack_p7data(safe));
      if (!bags) return PfxStatus::kMalformed;
    } else if (nid == NID_pkcs7_encrypted) {
      if (!safe->d.encrypted || !safe->d.encrypted->enc_data ||
          !Afford(safe->d.encrypted->enc_data->algorithm))
        return PfxStatus::kMalformed;
      bags.reset(PKCS12_unpack_p7encdata(safe, Pass(), PassLength()));
      if (!bags) return Undecryptable();
      m_passwordProven = true;
    } else {
      return PfxStatus::kMalformed;  // public-key protected safes are not supported
    }
    if (PfxStatus status = ReadBags(bags.get(), contents, 0); status != PfxStatus::kOk)
      return status;
  }
  return PfxStatus::kOk;
}

PfxStatus PfxReader::ReadBags(const STACK_OF(PKCS12_SAFEBAG) * bags, PfxContents& contents,
                              int depth) {
  for (int i = 0; i < sk_PKCS12_SAFEBAG_num(bags); ++i) {
    const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags, i);
    switch (PKCS12_SAFEBAG_get_nid(bag)) {
      case NID_keyBag:
      case NID_pkcs8ShroudedKeyBag: {
        Pkcs8Ptr decrypted;
        const PKCS8_PRIV_KEY_INFO* info = PKCS12_SAFEBAG_get0_p8inf(bag);
        if (PKCS12_SAFEBAG_get_nid(bag) == NID_pkcs8ShroudedKeyBag) {
          const X509_ALGOR* algorithm = nullptr;
          const X509_SIG* sig = PKCS12_SAFEBAG_get0_pkcs8(bag);
          if (sig) X509_SIG_get0(sig, &algorithm, nullptr);
          if (!Afford(algorithm)) return PfxStatus::kMalformed;
          decrypted.reset(PKCS12_decrypt_skey(bag, Pass(), PassLength()));
          if (!decrypted) return Undecryptable();
          m_passwordProven = true;
          info = decrypted.get();
        }
        EvpPkeyPtr key(info ? EVP_PKCS82PKEY(info) : nullptr);
        if (!key) return PfxStatus::kMalformed;
        contents.keys.push_back({std::move(key), LocalKeyId(bag)});
        break;
      }
      case NID_certBag: {
        if (PKCS12_SAFEBAG_get_bag_nid(bag) != NID_x509Certificate)
          break;  // e.g. SDSI certificates
        X509Ptr certificate(PKCS12_SAFEBAG_get1_cert(bag));
        if (!certificate) return PfxStatus::kMalformed;
        contents.certificates.push_back({std::move(certificate), LocalKeyId(bag)});
        break;
      }
      case NID_safeContentsBag: {
        if (depth >= 3) return PfxStatus::kMalformed;
        if (PfxStatus status = ReadBags(PKCS12_SAFEBAG_get0_safes(bag), contents, depth + 1);
            status != PfxStatus::kOk)
          return status;
        break;
      }
      default:
        break;  // CRL and secret bags carry nothing imported here
    }
  }
  return PfxStatus::kOk;
}

}  // namespace platform::crypt
