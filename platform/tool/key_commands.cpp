// Using a certificate's private key, whatever provider holds it: sign and
// decrypt. The key is the one CryptAcquireCertificatePrivateKey finds for the
// certificate of MY with the thumbprint given.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/handle_guards.h"
#include "platform/kernel.h"  // first: it defines INFINITE before PC/SC
#include "platform/wincrypt.h"
#include "platform/winscard_ext.h"
#include "store_listing.h"
#include "tool_commands.h"

namespace tool {
namespace {

// What the two commands are given.
struct KeyArguments {
  std::vector<BYTE> thumbprint;
  ALG_ID hash = CALG_SHA_256;
  std::vector<char> pin;  // zero-terminated when given; wiped at the end
  std::string in, out;
  ~KeyArguments() {
    if (!pin.empty()) explicit_bzero(pin.data(), pin.size());
  }
};

std::optional<std::vector<BYTE>> ParseThumbprint(const std::string& text) {
  std::vector<BYTE> bytes;
  if (text.size() != 40) return std::nullopt;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    if (!std::isxdigit(static_cast<unsigned char>(text[i])) ||
        !std::isxdigit(static_cast<unsigned char>(text[i + 1]))) {
      return std::nullopt;
    }
    bytes.push_back(static_cast<BYTE>(std::stoi(text.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

bool ParseArguments(std::span<const std::string> args, bool withHash, KeyArguments* parsed) {
  std::vector<std::string> files;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const bool hasValue = i + 1 < args.size();
    if (args[i] == "--thumbprint" && hasValue) {
      auto thumbprint = ParseThumbprint(args[++i]);
      if (!thumbprint) return false;
      parsed->thumbprint = std::move(*thumbprint);
    } else if (withHash && args[i] == "--hash" && hasValue) {
      const std::string& name = args[++i];
      if (name == "sha1") {
        parsed->hash = CALG_SHA1;
      } else if (name == "sha256") {
        parsed->hash = CALG_SHA_256;
      } else {
        return false;
      }
    } else if (args[i] == "--pin" && hasValue) {
      const std::string& pin = args[++i];
      parsed->pin.assign(pin.begin(), pin.end());
      parsed->pin.push_back('\0');
    } else if (args[i].rfind("--", 0) != 0) {
      files.push_back(args[i]);
    } else {
      return false;
    }
  }
  if (parsed->thumbprint.empty() || files.size() != 2) return false;
  parsed->in = files[0];
  parsed->out = files[1];
  return true;
}

// The certificate of MY with that SHA-1 thumbprint; null when there is none.
PCCERT_CONTEXT FindByThumbprint(HCERTSTORE store, const std::vector<BYTE>& thumbprint) {
  PCCERT_CONTEXT certificate = nullptr;
  while ((certificate = CertEnumCertificatesInStore(store, certificate)) != nullptr) {
    BYTE hash[20];
    DWORD size = sizeof hash;
    if (CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID, hash, &size) &&
        size == thumbprint.size() && std::memcmp(hash, thumbprint.data(), size) == 0) {
      return certificate;
    }
  }
  return nullptr;
}

// Prints what went wrong with the key in words a person acts on.
void ReportKeyError(const char* command, const char* step, DWORD error) {
  const char* text = nullptr;
  switch (error) {
    case SCARD_W_WRONG_CHV:
      text = "wrong PIN";
      break;
    case SCARD_W_CHV_BLOCKED:
      text = "the card's PIN is blocked";
      break;
    case NTE_SILENT_CONTEXT:
    case SCARD_W_CARD_NOT_AUTHENTICATED:
      text = "the key needs the card's PIN: give it with --pin";
      break;
    case CRYPT_E_NO_KEY_PROPERTY:
      text = "the certificate has no private key";
      break;
    case NTE_BAD_KEYSET:
      text = "the certificate's key cannot be found (is the card in a reader?)";
      break;
    case NTE_BAD_DATA:
      text = "the input is not a cryptogram for this key";
      break;
    default:
      break;
  }
  if (text) {
    std::fprintf(stderr, "%s: %s (0x%08lX)\n", command, text, Code(error));
  } else {
    std::fprintf(stderr, "%s: %s failed (0x%08lX)\n", command, step, Code(error));
  }
}

// The private key's provider for the certificate, with the PIN given to it.
class CertificateKey {
 public:
  // Finds the certificate and opens its key; false after a message.
  bool Open(const char* command, KeyArguments& args) {
    const CCertStore personal(OpenSystemStore(command, "MY"));
    if (!personal) return false;
    m_certificate.Reset(FindByThumbprint(personal.Get(), args.thumbprint));
    if (!m_certificate) {
      std::fprintf(stderr, "%s: no certificate with that thumbprint in MY\n", command);
      return false;
    }
    // Silent: the tool asks for nothing; a PIN comes with --pin.
    if (!m_prov.AcquireCertificateKey(m_certificate.Get(), CRYPT_ACQUIRE_SILENT_FLAG, &m_keySpec)) {
      ReportKeyError(command, "opening the certificate's key", GetLastError());
      return false;
    }
    if (!args.pin.empty()) {
      const DWORD param = m_keySpec == AT_KEYEXCHANGE ? PP_KEYEXCHANGE_PIN : PP_SIGNATURE_PIN;
      const BOOL given =
          CryptSetProvParam(m_prov.Get(), param, reinterpret_cast<const BYTE*>(args.pin.data()), 0);
      explicit_bzero(args.pin.data(), args.pin.size());
      // A provider without PINs (the software one) has no use for it.
      if (!given && GetLastError() != NTE_BAD_TYPE) {
        ReportKeyError(command, "giving the PIN", GetLastError());
        return false;
      }
    }
    return true;
  }

  HCRYPTPROV Provider() const { return m_prov.Get(); }
  DWORD KeySpec() const { return m_keySpec; }
  CKeyHandle& Key() { return m_key; }

 private:
  // Given back in this order: the key, the provider, the certificate.
  CCertificateContext m_certificate;
  CProviderContext m_prov;
  DWORD m_keySpec = 0;
  CKeyHandle m_key;
};

constexpr char kSignUsage[] = "--thumbprint HEX [--hash sha1|sha256] [--pin PIN] IN OUT";
constexpr char kDecryptUsage[] = "--thumbprint HEX [--pin PIN] IN OUT";

// What both commands start with: their arguments, the bytes of IN and the
// key of the certificate. 0, or the status to exit with after a message (2
// for arguments that do not fit the usage).
int StartKeyCommand(const char* command, const char* usage, std::span<const std::string> rawArgs,
                    bool withHash, KeyArguments* args, std::vector<BYTE>* input,
                    CertificateKey* key) {
  if (!ParseArguments(rawArgs, withHash, args)) {
    std::fprintf(stderr, "%s: expected %s\n", command, usage);
    return 2;
  }
  auto data = ReadFileBytes(args->in);
  if (!data) {
    std::fprintf(stderr, "%s: cannot read %s\n", command, args->in.c_str());
    return 1;
  }
  *input = std::move(*data);
  return key->Open(command, *args) ? 0 : 1;
}

// Writes OUT; 0, or 1 after a message.
int WriteOutput(const char* command, const std::string& path, const std::vector<BYTE>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (out.flush()) return 0;
  std::fprintf(stderr, "%s: cannot write %s\n", command, path.c_str());
  return 1;
}

int Sign(std::span<const std::string> rawArgs) {
  KeyArguments args;
  std::vector<BYTE> data;
  CertificateKey key;
  if (int status = StartKeyCommand("sign", kSignUsage, rawArgs, true, &args, &data, &key)) {
    return status;
  }
  CHashHandle hash;
  if (!CryptCreateHash(key.Provider(), args.hash, 0, 0, hash.Receive()) ||
      !CryptHashData(hash.Get(), data.data(), static_cast<DWORD>(data.size()), 0)) {
    ReportKeyError("sign", "hashing", GetLastError());
    return 1;
  }
  // The signature key when the certificate names one, else the exchange key.
  const DWORD keySpec = (key.KeySpec() & AT_SIGNATURE) ? AT_SIGNATURE : AT_KEYEXCHANGE;
  DWORD size = 0;
  std::vector<BYTE> signature;
  if (CryptSignHashA(hash.Get(), keySpec, nullptr, 0, nullptr, &size)) {
    signature.resize(size);
    if (!CryptSignHashA(hash.Get(), keySpec, nullptr, 0, signature.data(), &size)) size = 0;
  }
  if (size == 0) {
    const DWORD error = GetLastError();
    if (error == NTE_NO_KEY) {
      std::fprintf(stderr, "sign: the certificate's key cannot sign (0x%08lX)\n", Code(error));
    } else {
      ReportKeyError("sign", "signing", error);
    }
    return 1;
  }
  signature.resize(size);
  // The platform gives it little-endian; files hold it as OpenSSL does.
  return WriteOutput("sign", args.out, std::vector<BYTE>(signature.rbegin(), signature.rend()));
}

int Decrypt(std::span<const std::string> rawArgs) {
  KeyArguments args;
  std::vector<BYTE> cryptogram;
  CertificateKey key;
  if (int status =
          StartKeyCommand("decrypt", kDecryptUsage, rawArgs, false, &args, &cryptogram, &key)) {
    return status;
  }
  if (!CryptGetUserKey(key.Provider(), AT_KEYEXCHANGE, key.Key().Receive())) {
    const DWORD error = GetLastError();
    if (error == NTE_NO_KEY) {
      std::fprintf(stderr, "decrypt: the certificate's key cannot decrypt (0x%08lX)\n",
                   Code(error));
    } else {
      ReportKeyError("decrypt", "opening the exchange key", error);
    }
    return 1;
  }
  // OpenSSL writes it big-endian; the platform takes it little-endian.
  std::vector<BYTE> data(cryptogram.rbegin(), cryptogram.rend());
  DWORD length = static_cast<DWORD>(data.size());
  if (!CryptDecrypt(key.Key().Get(), 0, TRUE, 0, data.data(), &length)) {
    ReportKeyError("decrypt", "deciphering", GetLastError());
    return 1;
  }
  data.resize(length);
  const int status = WriteOutput("decrypt", args.out, data);
  explicit_bzero(data.data(), data.size());
  return status;
}

const Command kKeyCommands[] = {
    {"sign", kSignUsage,
     "sign IN (SHA-256 by default, PKCS#1 v1.5) with the key of the MY certificate with that "
     "SHA-1 thumbprint, whatever its provider; OUT gets the signature big-endian, as "
     "'openssl dgst -verify' reads it",
     Sign},
    {"decrypt", kDecryptUsage,
     "decipher IN, a PKCS#1 v1.5 cryptogram as 'openssl pkeyutl -encrypt' writes it, with the "
     "exchange key of that certificate; OUT gets the plaintext",
     Decrypt},
};

}  // namespace

std::span<const Command> KeyCommands() { return kKeyCommands; }

}  // namespace tool
