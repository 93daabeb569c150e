#include "key_operations.h"

#include <openssl/crypto.h>
#include <openssl/x509.h>

#include <algorithm>
#include <array>
#include <functional>
#include <mutex>
#include <vector>

#include "certificate_format.h"
#include "container_name.h"
#include "pin_prompt.h"
#include "provider_objects.h"

namespace orvelcsp {
namespace {

// The card asks for the PIN before it computes with a key.
constexpr WORD kSwPinNotVerified = 0x6982;
// An operation the card refused for want of the verified PIN.
constexpr DWORD kNeedsPin = static_cast<DWORD>(SCARD_W_SECURITY_VIOLATION);

constexpr std::size_t kPinCapacity = CCryptoCard::kMaxCommandData + 1;

// The code for a key command that did not succeed.
DWORD KeyCommandError(const CCryptoCard& card) {
  if (card.LastResult() != SCARD_S_SUCCESS) return static_cast<DWORD>(card.LastResult());
  switch (card.Sw()) {
    case kSwPinNotVerified:
      return kNeedsPin;
    case 0x6A88:
      return NTE_NO_KEY;  // no complete key in that role
    case 0x6A80:
      return NTE_BAD_DATA;  // an input the key cannot take
    default:
      return NTE_FAIL;
  }
}

// Runs a card operation; when the card wants the PIN, asks for it (unless
// the context is silent), verifies it and runs the operation once more.
DWORD WithPin(ProviderContext& context, const std::function<DWORD()>& operation) {
  DWORD error = operation();
  if (error != kNeedsPin) return error;
  if (context.silent) return NTE_SILENT_CONTEXT;
  std::array<char, kPinCapacity> pin{};
  error = AskForPin(context.session->ReaderName(), pin);
  if (error == ERROR_SUCCESS) error = VerifyCardPin(context, pin.data());
  OPENSSL_cleanse(pin.data(), pin.size());
  return error == ERROR_SUCCESS ? operation() : error;
}

// The public key of the certificate bound to the container's key, read from
// the card the first time; the caller holds the card lock.
std::shared_ptr<EVP_PKEY> BoundCertificateKey(ProviderContext& context) {
  if (context.certificateKey) return context.certificateKey;
  CCryptoCard& card = context.session->Card();
  std::vector<BYTE> certificate(kMaxCertificateLength);
  std::array<char, 128> name{};
  DWORD cursor = 0;
  for (;;) {
    DWORD length = static_cast<DWORD>(certificate.size());
    WORD usage = 0;
    if (!card.ReadCertificateEntry(&cursor, certificate.data(), &length, name, &usage)) break;
    if (card.Sw() != 0x9000 || name[0] == '\0') continue;
    const auto parsed = ParseContainerName(name.data());
    if (parsed && parsed->serial == context.container.serial &&
        parsed->keyReference == context.container.keyReference) {
      context.certificateKey = CertificatePublicKey({certificate.data(), length});
      break;
    }
  }
  return context.certificateKey;
}

}  // namespace

DWORD VerifyCardPin(ProviderContext& context, const char* pin) {
  CCryptoCard& card = context.session->Card();
  // The card takes the PIN in ICC.Crypto, which it finds by name from any
  // DF. The PIN goes straight to the card; the card object wipes its
  // command buffer after VERIFY, and nothing here keeps a copy.
  LONG result = card.SelectByName(kCryptoDfName, CCryptoCard::Fci::NotReturned);
  if (result == SCARD_S_SUCCESS && card.Sw() != 0x9000) return NTE_FAIL;
  if (result == SCARD_S_SUCCESS) result = card.Verify(pin);
  if (result == SCARD_S_SUCCESS && card.Sw() == 0x9000) {
    context.session->NoteVerifiedPin();
    return ERROR_SUCCESS;
  }
  if (card.Sw() == 0x6983) return static_cast<DWORD>(SCARD_W_CHV_BLOCKED);
  if ((card.Sw() & 0xFFF0) == 0x63C0) return static_cast<DWORD>(SCARD_W_WRONG_CHV);
  return result != SCARD_S_SUCCESS && result != SCARD_E_INVALID_PARAMETER
             ? static_cast<DWORD>(result)
             : NTE_FAIL;
}

std::shared_ptr<EVP_PKEY> CertificatePublicKey(std::span<const BYTE> certificate) {
  const BYTE* cursor = certificate.data();
  X509* decoded = d2i_X509(nullptr, &cursor, static_cast<long>(certificate.size()));
  if (decoded == nullptr) return nullptr;
  EVP_PKEY* key = X509_get_pubkey(decoded);
  X509_free(decoded);
  if (key == nullptr) return nullptr;
  return std::shared_ptr<EVP_PKEY>(key, EVP_PKEY_free);
}

std::shared_ptr<EVP_PKEY> PublicKeyOf(KeyObject& key) {
  if (key.publicKey) return key.publicKey;
  if (!key.context || !key.context->session) return nullptr;
  std::lock_guard lock(key.context->cardLock);
  return BoundCertificateKey(*key.context);
}

std::shared_ptr<KeyObject> ImportedKey(EVP_PKEY* key, DWORD keySpec) {
  return std::make_shared<KeyObject>(
      KeyObject{nullptr, keySpec, std::shared_ptr<EVP_PKEY>(key, EVP_PKEY_free)});
}

DWORD ExportKey(ULONG_PTR hKey, DWORD dwBlobType, DWORD dwFlags, BYTE* pbData, DWORD* pdwDataLen) {
  auto key = Keys().Get(hKey);
  if (!key) return NTE_BAD_KEY;
  if (dwFlags != 0) return NTE_BAD_FLAGS;
  // The card's private keys never leave it.
  if (dwBlobType != PUBLICKEYBLOB) return NTE_BAD_KEY_STATE;
  const auto publicKey = PublicKeyOf(*key);
  if (!publicKey) return NTE_BAD_KEY_STATE;  // no certificate bound to the key yet
  return platform::crypt::ExportPublicKeyBlob(publicKey.get(), key->keySpec, pbData, pdwDataLen);
}

DWORD SignHash(ULONG_PTR hHash, DWORD dwKeySpec, DWORD dwFlags, BYTE* pbSignature,
               DWORD* pdwSigLen) {
  auto hash = Hashes().Get(hHash);
  if (!hash) return NTE_BAD_HASH;
  ProviderContext& context = *hash->context;
  // The card signs with the signature-role key alone, whether the caller
  // names AT_SIGNATURE or AT_KEYEXCHANGE.
  if (!context.session || (dwKeySpec != AT_SIGNATURE && dwKeySpec != AT_KEYEXCHANGE) ||
      (context.roles & kRoleSignature) == 0) {
    return NTE_NO_KEY;
  }
  const auto signOnCard = [&context](std::span<const BYTE> input, std::vector<BYTE>* signature) {
    signature->assign(kModulusBytes, 0);
    std::lock_guard lock(context.cardLock);
    CCryptoCard& card = context.session->Card();
    return WithPin(context, [&]() -> DWORD {
      card.SetSecurityEnvironment(true, context.container.keyReference);
      if (!card.StepSucceeded()) return KeyCommandError(card);
      card.ComputeSignature(input,
                            std::span<BYTE, kModulusBytes>(signature->data(), kModulusBytes));
      return card.StepSucceeded() ? ERROR_SUCCESS : KeyCommandError(card);
    });
  };
  return platform::crypt::SignHashValue(*hash->hash, kModulusBytes, dwFlags, signOnCard,
                                        pbSignature, pdwSigLen);
}

DWORD Decrypt(ULONG_PTR hKey, BOOL, DWORD, BYTE* pbData, DWORD* pdwDataLen) {
  auto key = Keys().Get(hKey);
  if (!key) return NTE_BAD_KEY;
  if (!key->context) return NTE_BAD_KEY;  // a public key deciphers nothing
  ProviderContext& context = *key->context;
  // The card deciphers with the exchange-role key alone.
  if ((context.roles & kRoleExchange) == 0) return NTE_NO_KEY;
  if (*pdwDataLen != kModulusBytes) return NTE_BAD_DATA;
  // The platform passes the cryptogram little-endian; the card takes it big-endian.
  std::array<BYTE, kModulusBytes> cryptogram{};
  std::reverse_copy(pbData, pbData + kModulusBytes, cryptogram.begin());
  std::vector<BYTE> plaintext;
  std::lock_guard lock(context.cardLock);
  CCryptoCard& card = context.session->Card();
  DWORD error = WithPin(context, [&]() -> DWORD {
    card.SetSecurityEnvironment(false, context.container.keyReference);
    if (!card.StepSucceeded()) return KeyCommandError(card);
    card.Decipher(cryptogram, &plaintext);
    return card.StepSucceeded() ? ERROR_SUCCESS : KeyCommandError(card);
  });
  if (error == ERROR_SUCCESS && plaintext.size() > kModulusBytes) error = NTE_FAIL;
  if (error == ERROR_SUCCESS) {
    std::copy(plaintext.begin(), plaintext.end(), pbData);
    *pdwDataLen = static_cast<DWORD>(plaintext.size());
  }
  OPENSSL_cleanse(plaintext.data(), plaintext.size());
  return error;
}

DWORD GetKeyParam(ULONG_PTR hKey, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen, DWORD dwFlags) {
  auto key = Keys().Get(hKey);
  if (!key) return NTE_BAD_KEY;
  if (dwFlags != 0) return NTE_BAD_FLAGS;
  // The card holds 1024-bit keys only: no need to read the certificate.
  const DWORD bits = key->publicKey ? static_cast<DWORD>(EVP_PKEY_get_bits(key->publicKey.get()))
                                    : static_cast<DWORD>(kModulusBytes * 8);
  return platform::crypt::GetRsaKeyParam(bits, key->keySpec, dwParam, pbData, pdwDataLen);
}

}  // namespace orvelcsp
