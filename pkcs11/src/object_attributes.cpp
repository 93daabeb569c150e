#include "object_attributes.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "common/hex_text.h"

namespace orvel_p11 {
namespace {

Bytes Bool(bool value) { return {static_cast<BYTE>(value ? CK_TRUE : CK_FALSE)}; }

Bytes Ulong(CK_ULONG value) {
  Bytes out(sizeof(CK_ULONG));
  std::memcpy(out.data(), &value, sizeof(value));
  return out;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

template <class T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using BignumPtr = std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>>;

template <class Object, int (*Encode)(const Object*, unsigned char**)>
Bytes Der(const Object* object) {
  const int length = Encode(object, nullptr);
  if (length <= 0) return {};
  Bytes out(static_cast<std::size_t>(length));
  unsigned char* p = out.data();
  Encode(object, &p);
  return out;
}

// What the objects take from a certificate.
struct CertificateFacts {
  Bytes subject, issuer, serial, modulus, exponent;
  std::string commonName;
  CK_ULONG modulusBits = 0;
};

std::optional<CertificateFacts> ReadCertificate(const Bytes& der) {
  const unsigned char* p = der.data();
  X509Ptr certificate(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
  if (!certificate || p != der.data() + der.size()) return std::nullopt;
  CertificateFacts facts;
  facts.subject = Der<X509_NAME, i2d_X509_NAME>(X509_get_subject_name(certificate.get()));
  facts.issuer = Der<X509_NAME, i2d_X509_NAME>(X509_get_issuer_name(certificate.get()));
  facts.serial = Der<ASN1_INTEGER, i2d_ASN1_INTEGER>(X509_get0_serialNumber(certificate.get()));
  const X509_NAME* subject = X509_get_subject_name(certificate.get());
  const int cn = X509_NAME_get_index_by_NID(subject, NID_commonName, -1);
  if (cn >= 0) {
    const ASN1_STRING* value = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, cn));
    unsigned char* utf8 = nullptr;
    const int length = ASN1_STRING_to_UTF8(&utf8, value);
    if (length > 0) facts.commonName.assign(reinterpret_cast<char*>(utf8), length);
    OPENSSL_free(utf8);
  }
  const EVP_PKEY* key = X509_get0_pubkey(certificate.get());
  if (key != nullptr && EVP_PKEY_get_base_id(key) == EVP_PKEY_RSA) {
    BIGNUM* n = nullptr;
    BIGNUM* e = nullptr;
    EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &n);
    EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &e);
    BignumPtr modulus(n), exponent(e);
    if (modulus && exponent) {
      facts.modulus.resize(static_cast<std::size_t>(BN_num_bytes(modulus.get())));
      BN_bn2bin(modulus.get(), facts.modulus.data());
      facts.exponent.resize(static_cast<std::size_t>(BN_num_bytes(exponent.get())));
      BN_bn2bin(exponent.get(), facts.exponent.data());
      facts.modulusBits = static_cast<CK_ULONG>(BN_num_bits(modulus.get()));
    }
  }
  return facts;
}

void Common(TokenObject& object, CK_OBJECT_CLASS objectClass, bool isPrivate,
            const std::string& label, const Bytes& id) {
  object.objectClass = objectClass;
  object.isPrivate = isPrivate;
  auto& a = object.attributes;
  a[CKA_CLASS] = Ulong(objectClass);
  a[CKA_TOKEN] = Bool(true);
  a[CKA_PRIVATE] = Bool(isPrivate);
  a[CKA_MODIFIABLE] = Bool(false);
  a[CKA_COPYABLE] = Bool(false);
  a[CKA_DESTROYABLE] = Bool(false);
  a[CKA_LABEL] = Text(label);
  a[CKA_ID] = id;
}

void KeyCommon(TokenObject& object, const CertificateFacts* facts) {
  auto& a = object.attributes;
  a[CKA_KEY_TYPE] = Ulong(CKK_RSA);
  a[CKA_START_DATE] = {};
  a[CKA_END_DATE] = {};
  a[CKA_DERIVE] = Bool(false);
  a[CKA_LOCAL] = Bool(false);
  a[CKA_KEY_GEN_MECHANISM] = Ulong(CK_UNAVAILABLE_INFORMATION);
  a[CKA_MODULUS_BITS] =
      Ulong(facts != nullptr && facts->modulusBits != 0 ? facts->modulusBits : kModulusBits);
  if (facts != nullptr) {
    a[CKA_SUBJECT] = facts->subject;
    if (!facts->modulus.empty()) {
      a[CKA_MODULUS] = facts->modulus;
      a[CKA_PUBLIC_EXPONENT] = facts->exponent;
    }
  }
}

std::string KeyLabel(const CertificateFacts* facts, BYTE keyReference) {
  if (facts != nullptr && !facts->commonName.empty()) return facts->commonName;
  return "Orvel key " + HexText({&keyReference, 1});
}

}  // namespace

bool TokenObject::Matches(std::span<const CK_ATTRIBUTE> pattern) const {
  for (const CK_ATTRIBUTE& wanted : pattern) {
    const auto it = attributes.find(wanted.type);
    if (it == attributes.end() || sensitive.count(wanted.type) != 0) return false;
    if (wanted.ulValueLen != it->second.size()) return false;
    if (wanted.ulValueLen != 0 &&
        (wanted.pValue == nullptr ||
         std::memcmp(wanted.pValue, it->second.data(), it->second.size()) != 0)) {
      return false;
    }
  }
  return true;
}

CK_RV TokenObject::GetAttributes(std::span<CK_ATTRIBUTE> query) const {
  CK_RV rv = CKR_OK;
  for (CK_ATTRIBUTE& attribute : query) {
    if (sensitive.count(attribute.type) != 0) {
      attribute.ulValueLen = CK_UNAVAILABLE_INFORMATION;
      rv = CKR_ATTRIBUTE_SENSITIVE;
      continue;
    }
    const auto it = attributes.find(attribute.type);
    if (it == attributes.end()) {
      attribute.ulValueLen = CK_UNAVAILABLE_INFORMATION;
      rv = CKR_ATTRIBUTE_TYPE_INVALID;
      continue;
    }
    const Bytes& value = it->second;
    if (attribute.pValue == nullptr) {
      attribute.ulValueLen = value.size();
    } else if (attribute.ulValueLen < value.size()) {
      attribute.ulValueLen = CK_UNAVAILABLE_INFORMATION;
      rv = CKR_BUFFER_TOO_SMALL;
    } else {
      if (!value.empty()) std::memcpy(attribute.pValue, value.data(), value.size());
      attribute.ulValueLen = value.size();
    }
  }
  return rv;
}

std::vector<TokenObject> BuildObjects(const TokenContents& contents) {
  std::vector<TokenObject> objects;
  std::vector<std::optional<CertificateFacts>> facts;
  for (const CardCertificate& certificate : contents.certificates) {
    facts.push_back(ReadCertificate(certificate.der));
  }
  // The certificate (decoded) that carries an identifier.
  const auto certificateFor = [&](const Bytes& id) -> const CertificateFacts* {
    for (std::size_t i = 0; i < contents.certificates.size(); ++i) {
      if (contents.certificates[i].id == id && facts[i]) return &*facts[i];
    }
    return nullptr;
  };
  const auto keyFor = [&](const Bytes& id) -> const CardKey* {
    for (const CardKey& key : contents.keys) {
      if (key.id == id) return &key;
    }
    return nullptr;
  };

  for (std::size_t i = 0; i < contents.certificates.size(); ++i) {
    if (!facts[i]) continue;
    const CardCertificate& certificate = contents.certificates[i];
    const CertificateFacts& f = *facts[i];
    TokenObject object;
    Common(object, CKO_CERTIFICATE, false, f.commonName, certificate.id);
    auto& a = object.attributes;
    a[CKA_CERTIFICATE_TYPE] = Ulong(CKC_X_509);
    a[CKA_TRUSTED] = Bool(false);
    a[CKA_CERTIFICATE_CATEGORY] = Ulong(1);  // token user
    a[CKA_VALUE] = certificate.der;
    a[CKA_SUBJECT] = f.subject;
    a[CKA_ISSUER] = f.issuer;
    a[CKA_SERIAL_NUMBER] = f.serial;
    a[CKA_START_DATE] = {};
    a[CKA_END_DATE] = {};
    objects.push_back(std::move(object));

    const CardKey* key = keyFor(certificate.id);
    if (key == nullptr || f.modulus.empty()) continue;
    TokenObject publicKey;
    Common(publicKey, CKO_PUBLIC_KEY, false, f.commonName, certificate.id);
    KeyCommon(publicKey, &f);
    publicKey.keyReference = key->keyReference;
    auto& p = publicKey.attributes;
    p[CKA_ENCRYPT] = Bool((key->roles & kRoleExchange) != 0);
    p[CKA_VERIFY] = Bool((key->roles & kRoleSignature) != 0);
    p[CKA_VERIFY_RECOVER] = Bool(false);
    p[CKA_WRAP] = Bool(false);
    p[CKA_TRUSTED] = Bool(false);
    objects.push_back(std::move(publicKey));
  }

  for (const CardKey& key : contents.keys) {
    const CertificateFacts* f = certificateFor(key.id);
    TokenObject object;
    Common(object, CKO_PRIVATE_KEY, true, KeyLabel(f, key.keyReference), key.id);
    KeyCommon(object, f);
    object.keyReference = key.keyReference;
    object.canSign = (key.roles & kRoleSignature) != 0;
    object.canDecrypt = (key.roles & kRoleExchange) != 0;
    auto& a = object.attributes;
    a[CKA_SENSITIVE] = Bool(true);
    a[CKA_ALWAYS_SENSITIVE] = Bool(true);
    a[CKA_NEVER_EXTRACTABLE] = Bool(true);
    a[CKA_EXTRACTABLE] = Bool(false);
    a[CKA_SIGN] = Bool(object.canSign);
    a[CKA_SIGN_RECOVER] = Bool(false);
    a[CKA_DECRYPT] = Bool(object.canDecrypt);
    a[CKA_UNWRAP] = Bool(object.canDecrypt);
    a[CKA_WRAP_WITH_TRUSTED] = Bool(false);
    a[CKA_ALWAYS_AUTHENTICATE] = Bool(false);
    for (CK_ATTRIBUTE_TYPE secret : {CKA_PRIVATE_EXPONENT, CKA_PRIME_1, CKA_PRIME_2, CKA_EXPONENT_1,
                                     CKA_EXPONENT_2, CKA_COEFFICIENT}) {
      object.sensitive.insert(secret);
    }
    objects.push_back(std::move(object));
  }
  return objects;
}

}  // namespace orvel_p11
