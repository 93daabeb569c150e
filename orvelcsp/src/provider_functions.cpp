// The operations of the "OrvelCSP" provider module, and its entry point.
//
// What it offers: SHA-1 without a card; key containers named after a card
// serial and a key reference, found on the card with that serial; the PIN
// (PP_ADMIN_PIN), verified by the card; the key of each role the key was
// written in; and KP_CERTIFICATE, which stores the certificate on the card.
#include <cstring>
#include <new>

#include "certificate_format.h"
#include "certificate_writer.h"
#include "directory_records.h"
#include "key_operations.h"
#include "platform/provider_module.h"
#include "provider_objects.h"

#include <openssl/x509.h>

namespace orvelcsp {

platform::HandleTable<ProviderContext>& Contexts() {
  return platform::HandleTableOf<ProviderContext, 1>();
}
platform::HandleTable<KeyObject>& Keys() { return platform::HandleTableOf<KeyObject, 2>(); }
platform::HandleTable<HashObject>& Hashes() { return platform::HandleTableOf<HashObject, 3>(); }

namespace {

constexpr char kProviderName[] = "OrvelCSP";
// A PIN the card can be sent in one VERIFY.
constexpr std::size_t kMaxPinLength = CCryptoCard::kMaxCommandData;

// Opens the card session of a named container and reads what its key
// records say about the key.
DWORD OpenContainer(const char* name, ProviderContext& context) {
  const auto parsed = ParseContainerName(name);
  if (!parsed) return NTE_BAD_KEYSET;
  context.containerName = name;
  context.container = *parsed;
  if (DWORD error = CCardSession::Open(parsed->serial, &context.session)) return error;

  CCryptoCard& card = context.session->Card();
  KeyRecordInfo privateKey;
  switch (FindKeyRecord(card, kPrivateKeyDirectory, parsed->keyReference, &privateKey)) {
    case LookupResult::Found:
      break;
    case LookupResult::NotFound:
      return NTE_BAD_KEYSET;
    case LookupResult::CardError:
      return NTE_FAIL;
  }
  context.identifierElement = std::move(privateKey.identifierElement);

  // The public-key record carries the roles the key was written in.
  KeyRecordInfo publicKey;
  switch (FindKeyRecord(card, kPublicKeyDirectory, parsed->keyReference, &publicKey)) {
    case LookupResult::Found:
      context.roles = publicKey.usage;
      break;
    case LookupResult::NotFound:
      context.roles = 0;
      break;
    case LookupResult::CardError:
      return NTE_FAIL;
  }
  return ERROR_SUCCESS;
}

DWORD AcquireContext(LPCSTR szContainer, LPCSTR, DWORD dwProvType, DWORD dwFlags,
                     ULONG_PTR* phProv) {
  if (dwProvType != PROV_RSA_FULL) return NTE_PROV_TYPE_NO_MATCH;
  const bool verifyOnly = (dwFlags & CRYPT_VERIFYCONTEXT) == CRYPT_VERIFYCONTEXT;
  const DWORD action = dwFlags & ~(CRYPT_VERIFYCONTEXT | CRYPT_SILENT | CRYPT_MACHINE_KEYSET);
  // Containers are made by writing keys to the card, not through the provider.
  if (action != 0) return NTE_BAD_FLAGS;
  if (phProv == nullptr) return ERROR_INVALID_PARAMETER;

  auto context = std::make_shared<ProviderContext>();
  context->silent = (dwFlags & CRYPT_SILENT) != 0;
  if (!verifyOnly) {
    if (szContainer == nullptr || *szContainer == '\0') return NTE_BAD_KEYSET;
    if (DWORD error = OpenContainer(szContainer, *context)) return error;
  }
  *phProv = Contexts().Add(std::move(context));
  return ERROR_SUCCESS;
}

DWORD GetProvParam(ULONG_PTR hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen, DWORD) {
  auto context = Contexts().Get(hProv);
  if (!context) return NTE_BAD_UID;
  return platform::crypt::GetNameParam(kProviderName, context->containerName, dwParam, pbData,
                                       pdwDataLen);
}

DWORD SetProvParam(ULONG_PTR hProv, DWORD dwParam, const BYTE* pbData, DWORD dwFlags) {
  auto context = Contexts().Get(hProv);
  if (!context) return NTE_BAD_UID;
  // One PIN guards every key of the card.
  if (dwParam != PP_ADMIN_PIN && dwParam != PP_SIGNATURE_PIN && dwParam != PP_KEYEXCHANGE_PIN) {
    return NTE_BAD_TYPE;
  }
  if (dwFlags != 0) return NTE_BAD_FLAGS;
  if (!context->session) return NTE_BAD_KEYSET;
  if (pbData == nullptr) return ERROR_INVALID_PARAMETER;
  const char* pin = reinterpret_cast<const char*>(pbData);
  if (strnlen(pin, kMaxPinLength + 1) > kMaxPinLength) return ERROR_INVALID_PARAMETER;
  std::lock_guard lock(context->cardLock);
  return VerifyCardPin(*context, pin);
}

DWORD GetUserKey(ULONG_PTR hProv, DWORD dwKeySpec, ULONG_PTR* phKey) {
  auto context = Contexts().Get(hProv);
  if (!context) return NTE_BAD_UID;
  if (!context->session) return NTE_NO_KEY;
  WORD role = 0;
  if (dwKeySpec == AT_SIGNATURE) role = kRoleSignature;
  if (dwKeySpec == AT_KEYEXCHANGE) role = kRoleExchange;
  if (role == 0 || (context->roles & role) == 0) return NTE_NO_KEY;
  *phKey = Keys().Add(std::make_shared<KeyObject>(KeyObject{context, dwKeySpec, nullptr}));
  return ERROR_SUCCESS;
}

// The certificate at pbData: its length comes from its own encoding, and it
// must decode as one X.509 certificate of a size this system reads back.
DWORD CertificateAt(const BYTE* pbData, std::span<const BYTE>* certificate) {
  if (pbData == nullptr) return ERROR_INVALID_PARAMETER;
  const auto length = EncodedCertificateLength(pbData);
  if (!length || *length > kMaxCertificateLength) return NTE_BAD_DATA;
  const BYTE* cursor = pbData;
  X509* decoded = d2i_X509(nullptr, &cursor, static_cast<long>(*length));
  const bool whole = decoded != nullptr && cursor == pbData + *length;
  X509_free(decoded);
  if (!whole) return NTE_BAD_DATA;
  *certificate = {pbData, *length};
  return ERROR_SUCCESS;
}

DWORD SetKeyParam(ULONG_PTR hKey, DWORD dwParam, const BYTE* pbData, DWORD dwFlags) {
  auto key = Keys().Get(hKey);
  if (!key) return NTE_BAD_KEY;
  if (dwParam != KP_CERTIFICATE) return NTE_BAD_TYPE;
  if (dwFlags != 0) return NTE_BAD_FLAGS;
  std::span<const BYTE> certificate;
  if (DWORD error = CertificateAt(pbData, &certificate)) return error;
  ProviderContext& context = *key->context;
  std::lock_guard lock(context.cardLock);
  const DWORD error =
      StoreCertificate(context.session->Card(), context.identifierElement, certificate);
  if (error == ERROR_SUCCESS) context.certificateKey = CertificatePublicKey(certificate);
  return error;
}

// A context's card session ends with the last key that uses it.
using HandleOperations =
    platform::crypt::ProviderHandleOperations<Contexts, Keys, Hashes, PublicKeyOf, ImportedKey>;

// Every operation the platform calls runs through this guard: no exception
// leaves the module. Running out of memory is NTE_NO_MEMORY, any other
// exception NTE_FAIL; what the operation held is released while it unwinds.
template <auto Operation>
struct Guarded;
template <class... Args, DWORD (*Operation)(Args...)>
struct Guarded<Operation> {
  static DWORD Call(Args... args) noexcept {
    try {
      return Operation(args...);
    } catch (const std::bad_alloc&) {
      return NTE_NO_MEMORY;
    } catch (...) {
      return NTE_FAIL;
    }
  }
};

constexpr ORVEL_PROVIDER_FUNCTIONS kFunctions = {
    ORVEL_PROVIDER_INTERFACE_VERSION,
    Guarded<AcquireContext>::Call,
    Guarded<HandleOperations::ReleaseContext>::Call,
    Guarded<GetProvParam>::Call,
    Guarded<SetProvParam>::Call,
    Guarded<GetUserKey>::Call,
    Guarded<ExportKey>::Call,
    Guarded<SetKeyParam>::Call,
    Guarded<HandleOperations::DestroyKey>::Call,
    Guarded<HandleOperations::CreateHash>::Call,
    Guarded<HandleOperations::HashData>::Call,
    Guarded<HandleOperations::GetHashParam>::Call,
    Guarded<HandleOperations::DestroyHash>::Call,
    Guarded<HandleOperations::SetHashParam>::Call,
    Guarded<SignHash>::Call,
    Guarded<HandleOperations::VerifySignature>::Call,
    Guarded<Decrypt>::Call,
    Guarded<GetKeyParam>::Call,
    Guarded<HandleOperations::ImportKey>::Call,
};

}  // namespace
}  // namespace orvelcsp

extern "C" __attribute__((visibility("default"))) const ORVEL_PROVIDER_FUNCTIONS*
OrvelGetProviderFunctions() noexcept {
  return &orvelcsp::kFunctions;
}
