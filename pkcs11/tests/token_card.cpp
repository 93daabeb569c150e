#include "token_card.h"

#include <dlfcn.h>
#include <openssl/core_names.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include <nlohmann/json.hpp>

#include "platform/card_database.h"
#include "support/card_records.h"
#include "test_pki.h"

namespace p11_test {
namespace {

Bytes Part(EVP_PKEY* key, const char* name, std::size_t size) {
  BIGNUM* value = nullptr;
  Bytes out(size);
  EXPECT_EQ(EVP_PKEY_get_bn_param(key, name, &value), 1);
  EXPECT_EQ(BN_bn2binpad(value, out.data(), static_cast<int>(size)), static_cast<int>(size));
  BN_free(value);
  return out;
}

std::string HexText(const Bytes& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (std::uint8_t b : bytes) {
    text += kHex[b >> 4];
    text += kHex[b & 0x0F];
  }
  return text;
}

// 8-byte header (lengths, little-endian), then the zlib stream.
Bytes CertificateFile(const Bytes& der) {
  uLongf size = compressBound(der.size());
  Bytes compressed(size);
  EXPECT_EQ(compress(compressed.data(), &size, der.data(), der.size()), Z_OK);
  compressed.resize(size);
  Bytes file(8);
  for (int i = 0; i < 4; ++i) {
    file[i] = static_cast<std::uint8_t>(der.size() >> (8 * i));
    file[4 + i] = static_cast<std::uint8_t>(compressed.size() >> (8 * i));
  }
  file.insert(file.end(), compressed.begin(), compressed.end());
  return file;
}

}  // namespace

std::vector<KeySpec> KeysInBothRoles(int n) {
  std::vector<KeySpec> keys;
  for (int i = 0; i < n; ++i) keys.push_back({static_cast<std::uint8_t>(0x20 + i), 0x6400, i});
  return keys;
}

TokenCard MakeTokenCard(const std::vector<KeySpec>& keys, int pinTriesLeft,
                        const std::array<std::uint8_t, 6>& serial) {
  cardsim::CardSpec spec;
  spec.serial = serial;
  auto fresh = cardsim::VirtualCard::MakeFresh(spec);
  TokenCard made;
  Bytes prkdf, pukdf, cdf;
  nlohmann::json keyImages = nlohmann::json::array();
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const KeySpec& k = keys[i];
    EVP_PKEY* key = testpki::Key(1024, k.which);
    KeyOnCard on;
    on.spec = k;
    on.modulus = Part(key, OSSL_PKEY_PARAM_RSA_N, 128);
    on.id.resize(20);
    SHA1(on.modulus.data(), on.modulus.size(), on.id.data());
    testpki::CertSpec certSpec(key);
    certSpec.commonName = "Titular " + std::to_string(k.which);
    certSpec.serial = 100 + k.which;
    on.certificate = testpki::Der(testpki::MakeCert(certSpec).get());
    on.commonName = certSpec.commonName;

    card_test::KeyId id{};
    std::copy(on.id.begin(), on.id.end(), id.begin());
    const Bytes prk = card_test::PrivateKeyRecord(k.reference, id);
    const Bytes puk = card_test::PublicKeyRecord(k.reference, id, k.roleWord);
    prkdf.insert(prkdf.end(), prk.begin(), prk.end());
    pukdf.insert(pukdf.end(), puk.begin(), puk.end());
    const std::uint16_t fid = static_cast<std::uint16_t>(0x0A00 + i);
    char path[16];
    std::snprintf(path, sizeof(path), "\\3F11\\%04X", fid);
    const Bytes cert = card_test::CertificateRecord(card_test::IdElement(id), path);
    cdf.insert(cdf.end(), cert.begin(), cert.end());
    const Bytes file = CertificateFile(on.certificate);
    EXPECT_TRUE(fresh->CreateFile({0x3F11}, fid, file.size()));
    EXPECT_TRUE(fresh->WriteFile({0x3F11, fid}, file));

    for (const auto& [bit, role] : {std::pair{0x2000, "signature"}, {0x4000, "exchange"}}) {
      if ((k.roleWord & bit) == 0) continue;
      keyImages.push_back(
          {{"reference", k.reference},
           {"role", role},
           {"modulus", HexText(on.modulus)},
           {"exponent", "010001"},
           {"prime1", HexText(Part(key, OSSL_PKEY_PARAM_RSA_FACTOR1, 64))},
           {"prime2", HexText(Part(key, OSSL_PKEY_PARAM_RSA_FACTOR2, 64))},
           {"coefficient", HexText(Part(key, OSSL_PKEY_PARAM_RSA_COEFFICIENT1, 64))},
           {"exponent1", HexText(Part(key, OSSL_PKEY_PARAM_RSA_EXPONENT1, 64))},
           {"exponent2", HexText(Part(key, OSSL_PKEY_PARAM_RSA_EXPONENT2, 64))}});
    }
    made.keys.push_back(std::move(on));
  }
  EXPECT_TRUE(fresh->WriteFile({0x5015, 0x6001}, prkdf));
  EXPECT_TRUE(fresh->WriteFile({0x5015, 0x6002}, pukdf));
  EXPECT_TRUE(fresh->WriteFile({0x5015, 0x6004}, cdf));
  nlohmann::json image = nlohmann::json::parse(fresh->ToJson());
  image["keys"] = keyImages;
  image["pinTriesLeft"] = pinTriesLeft;
  made.card = cardsim::VirtualCard::FromJson(image.dump());
  return made;
}

namespace {

// Runs the key operation set up by init and configured by options on in.
template <class Init, class Operate>
Bytes KeyOperation(int which, Init init, Operate operate, const Bytes& in,
                   const EVP_MD* digest = nullptr) {
  platform::crypt::EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new(testpki::Key(1024, which), nullptr));
  std::size_t length = 0;
  if (!ctx || init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
      (digest != nullptr && EVP_PKEY_CTX_set_signature_md(ctx.get(), digest) != 1) ||
      operate(ctx.get(), nullptr, &length, in.data(), in.size()) != 1) {
    ADD_FAILURE() << "OpenSSL refused the key operation";
    return {};
  }
  Bytes out(length);
  EXPECT_EQ(operate(ctx.get(), out.data(), &length, in.data(), in.size()), 1);
  out.resize(length);
  return out;
}

}  // namespace

Bytes OpensslSignature(int which, const EVP_MD* digest, const Bytes& data) {
  Bytes in = data;
  if (digest != nullptr) {
    in.resize(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    EXPECT_EQ(EVP_Digest(data.data(), data.size(), in.data(), &length, digest, nullptr), 1);
    in.resize(length);
  }
  return KeyOperation(which, EVP_PKEY_sign_init, EVP_PKEY_sign, in, digest);
}

Bytes OpensslCryptogram(int which, const Bytes& plain) {
  return KeyOperation(which, EVP_PKEY_encrypt_init, EVP_PKEY_encrypt, plain);
}

std::string Module::Path() { return (testpki::ProgramDir() / "orvel-pkcs11.so").string(); }

Module::Module() {
  m_handle = dlopen(Path().c_str(), RTLD_NOW | RTLD_LOCAL);
  if (m_handle == nullptr) {
    ADD_FAILURE() << dlerror();
    return;
  }
  auto* get = reinterpret_cast<CK_C_GetFunctionList>(dlsym(m_handle, "C_GetFunctionList"));
  if (get == nullptr || get(&m_functions) != CKR_OK) ADD_FAILURE() << "no function list";
}

Module::~Module() {
  if (m_handle != nullptr) dlclose(m_handle);
}

Outcome Shell(const std::string& command) { return orvel_test::RunProgram(command + " 2>&1"); }

void WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

CK_ATTRIBUTE Attr(CK_ATTRIBUTE_TYPE type, void* value, CK_ULONG length) {
  return CK_ATTRIBUTE{type, value, length};
}

Bytes ToBytes(CK_ULONG value) {
  Bytes out(sizeof(value));
  std::memcpy(out.data(), &value, sizeof(value));
  return out;
}

Bytes Hex(const std::string& text) { return *platform::ParseHexBytes(text); }

}  // namespace p11_test
