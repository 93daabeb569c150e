// The PKCS#11 2.40 entry points. One lock serialises every call (card
// commands included); the module starts no thread. Functions outside what
// the module offers return CKR_FUNCTION_NOT_SUPPORTED.
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <p11-kit/pkcs11.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>

#include "card/pin_text.h"
#include "card_operations.h"
#include "common/hex_text.h"
#include "slot_table.h"

#define ORVEL_P11_EXPORT extern "C" __attribute__((visibility("default")))

namespace orvel_p11 {
namespace {

inline constexpr CK_ULONG kMinPinLength = 1;
inline constexpr CK_ULONG kMaxPinLength = 20;
// PKCS#1 v1.5 leaves 11 bytes of a 128-byte block to the padding.
inline constexpr CK_ULONG kMaxSignInput = kModulusBytes - 11;

// Bytes that are wiped when they go.
struct WipedBytes {
  std::vector<BYTE> bytes;
  WipedBytes() = default;
  WipedBytes(WipedBytes&& other) noexcept : bytes(std::move(other.bytes)) { other.bytes.clear(); }
  WipedBytes& operator=(WipedBytes&& other) noexcept {
    if (this != &other) {
      Clear();
      bytes = std::move(other.bytes);
      other.bytes.clear();
    }
    return *this;
  }
  ~WipedBytes() { Clear(); }
  void Clear() {
    if (!bytes.empty()) OPENSSL_cleanse(bytes.data(), bytes.size());
    bytes.clear();
  }
  void Append(const BYTE* data, std::size_t size) { bytes.insert(bytes.end(), data, data + size); }
};

struct MdContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

enum class OperationKind { None, Sign, Decrypt };

struct Operation {
  OperationKind kind = OperationKind::None;
  CK_MECHANISM_TYPE mechanism = 0;
  BYTE keyReference = 0;
  std::unique_ptr<EVP_MD_CTX, MdContextFree> digest;
  WipedBytes input;
  // A decryption already done for this input, kept for the call that brings
  // a large enough buffer.
  WipedBytes output;
  bool haveOutput = false;
};

struct Session {
  CK_SLOT_ID slot = 0;
  std::uint64_t generation = 0;
  CK_FLAGS flags = 0;
  bool finding = false;
  std::vector<CK_OBJECT_HANDLE> found;
  std::size_t nextFound = 0;
  Operation operation;
};

struct Module {
  std::mutex mutex;
  bool initialized = false;
  SlotTable slots;
  std::map<CK_SESSION_HANDLE, Session> sessions;
  CK_SESSION_HANDLE nextSession = 1;
};

Module& TheModule() {
  static Module module;
  return module;
}

// Text fields of PKCS#11 structures: padded with blanks, not terminated.
template <std::size_t N>
void Pad(unsigned char (&field)[N], std::string_view text) {
  std::memset(field, ' ', N);
  std::memcpy(field, text.data(), std::min(N, text.size()));
}

std::string SerialText(const ChipInfo& chipInfo) {
  return HexText(std::span(chipInfo).subspan(kCardSerialOffset, kCardSerialSize));
}

struct MechanismEntry {
  CK_MECHANISM_TYPE type;
  CK_FLAGS flags;
  const EVP_MD* (*digest)();  // null: the data is signed as given
};

const MechanismEntry kMechanisms[] = {
    {CKM_RSA_PKCS, CKF_HW | CKF_SIGN | CKF_DECRYPT, nullptr},
    {CKM_SHA1_RSA_PKCS, CKF_HW | CKF_SIGN, EVP_sha1},
    {CKM_SHA256_RSA_PKCS, CKF_HW | CKF_SIGN, EVP_sha256},
    {CKM_SHA384_RSA_PKCS, CKF_HW | CKF_SIGN, EVP_sha384},
    {CKM_SHA512_RSA_PKCS, CKF_HW | CKF_SIGN, EVP_sha512},
};

const MechanismEntry* FindMechanism(CK_MECHANISM_TYPE type) {
  for (const MechanismEntry& entry : kMechanisms) {
    if (entry.type == type) return &entry;
  }
  return nullptr;
}

// The session, its slot looked at anew. A session whose card went is closed
// here and reported as CKR_DEVICE_REMOVED once.
CK_RV FindSession(Module& m, CK_SESSION_HANDLE handle, Session** session, Slot** slot) {
  const auto it = m.sessions.find(handle);
  if (it == m.sessions.end()) return CKR_SESSION_HANDLE_INVALID;
  m.slots.Refresh();
  Slot* s = m.slots.Find(it->second.slot);
  if (s == nullptr || !s->cardPresent || s->generation != it->second.generation) {
    m.sessions.erase(it);
    return CKR_DEVICE_REMOVED;
  }
  if (!s->token) {
    const CK_RV rv = m.slots.Ensure(it->second.slot, false);
    if (rv != CKR_OK || s->generation != it->second.generation) {
      m.sessions.erase(it);
      return rv == CKR_OK ? CKR_DEVICE_REMOVED : rv;
    }
  }
  *session = &it->second;
  *slot = s;
  return CKR_OK;
}

std::size_t SessionsOf(const Module& m, CK_SLOT_ID slot) {
  return static_cast<std::size_t>(std::count_if(
      m.sessions.begin(), m.sessions.end(), [&](const auto& s) { return s.second.slot == slot; }));
}

// A slot that holds a card, looked at anew: CKR_SLOT_ID_INVALID for an
// unknown slot, CKR_TOKEN_NOT_PRESENT for an empty one.
CK_RV CheckCardSlot(Module& m, CK_SLOT_ID id) {
  m.slots.Refresh();
  const Slot* slot = m.slots.Find(id);
  if (slot == nullptr) return CKR_SLOT_ID_INVALID;
  return slot->cardPresent ? CKR_OK : CKR_TOKEN_NOT_PRESENT;
}

// A list handed out in the two-call pattern: its length alone when list is
// null, CKR_BUFFER_TOO_SMALL (and the length) when *count is less.
template <class T>
CK_RV CopyList(const std::vector<T>& items, T* list, CK_ULONG_PTR count) {
  if (list != nullptr && *count < items.size()) {
    *count = items.size();
    return CKR_BUFFER_TOO_SMALL;
  }
  if (list != nullptr) std::copy(items.begin(), items.end(), list);
  *count = items.size();
  return CKR_OK;
}

// The object visible in the session, or null.
const TokenObject* FindObject(const Slot& slot, CK_OBJECT_HANDLE handle) {
  const Token* token = slot.token.get();
  if (token == nullptr || handle < token->firstHandle ||
      handle - token->firstHandle >= token->objects.size()) {
    return nullptr;
  }
  const TokenObject& object = token->objects[handle - token->firstHandle];
  if (object.isPrivate && !slot.loggedIn) return nullptr;
  return &object;
}

// A card operation's result as PKCS#11 reports it.
CK_RV CardOperationResult(Module& m, Slot& slot, LONG result, CK_RV badData) {
  if (result == SCARD_W_RESET_CARD) {
    // Another program reset the card: reconnect, the login is gone.
    DWORD protocol = 0;
    slot.loggedIn = false;
    if (SCardReconnect(slot.handle, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0, SCARD_LEAVE_CARD,
                       &protocol) != SCARD_S_SUCCESS) {
      m.slots.Release(slot);
      return CKR_DEVICE_REMOVED;
    }
    return CKR_USER_NOT_LOGGED_IN;
  }
  if (CardGone(result)) {
    m.slots.Release(slot);
    return CKR_DEVICE_REMOVED;
  }
  if (result == SCARD_E_UNSUPPORTED_FEATURE) return CKR_FUNCTION_NOT_SUPPORTED;
  if (result != SCARD_S_SUCCESS) return CKR_DEVICE_ERROR;
  switch (slot.card->Sw()) {
    case 0x9000:
      return CKR_OK;
    case 0x6982:
      slot.loggedIn = false;
      return CKR_USER_NOT_LOGGED_IN;
    case 0x6A88:
      return CKR_KEY_FUNCTION_NOT_PERMITTED;
    case 0x6A80:
      return badData;
    default:
      return CKR_DEVICE_ERROR;
  }
}

void EndOperation(Session& session) { session.operation = Operation{}; }

// The DigestInfo of a hash as PKCS#1 v1.5 signs it: the digest algorithm with
// NULL parameters, then the hash. False when it cannot be encoded.
bool EncodeDigestInfo(const EVP_MD* digest, std::span<const BYTE> hash, WipedBytes* digestInfo) {
  std::unique_ptr<X509_SIG, decltype(&X509_SIG_free)> info(X509_SIG_new(), X509_SIG_free);
  if (!info) return false;
  X509_ALGOR* algorithm = nullptr;
  ASN1_OCTET_STRING* value = nullptr;
  X509_SIG_getm(info.get(), &algorithm, &value);
  if (X509_ALGOR_set0(algorithm, OBJ_nid2obj(EVP_MD_get_type(digest)), V_ASN1_NULL, nullptr) != 1 ||
      ASN1_OCTET_STRING_set(value, hash.data(), static_cast<int>(hash.size())) != 1) {
    return false;
  }
  const int length = i2d_X509_SIG(info.get(), nullptr);
  if (length <= 0) return false;
  digestInfo->bytes.resize(static_cast<std::size_t>(length));
  BYTE* cursor = digestInfo->bytes.data();
  return i2d_X509_SIG(info.get(), &cursor) == length;
}

#define ORVEL_P11_LOCKED()                   \
  Module& m = TheModule();                   \
  std::lock_guard<std::mutex> lock(m.mutex); \
  if (!m.initialized) return CKR_CRYPTOKI_NOT_INITIALIZED

#define ORVEL_P11_SESSION(handle) \
  ORVEL_P11_LOCKED();             \
  Session* session = nullptr;     \
  Slot* slot = nullptr;           \
  if (CK_RV found = FindSession(m, handle, &session, &slot); found != CKR_OK) return found

CK_RV OperationInit(Module& m, Session& session, Slot& slot, OperationKind kind,
                    CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key) {
  if (mechanism == nullptr) return CKR_ARGUMENTS_BAD;
  if (session.operation.kind != OperationKind::None) return CKR_OPERATION_ACTIVE;
  const MechanismEntry* entry = FindMechanism(mechanism->mechanism);
  const CK_FLAGS wanted = kind == OperationKind::Sign ? CKF_SIGN : CKF_DECRYPT;
  if (entry == nullptr || (entry->flags & wanted) == 0) return CKR_MECHANISM_INVALID;
  if (mechanism->pParameter != nullptr || mechanism->ulParameterLen != 0) {
    return CKR_MECHANISM_PARAM_INVALID;
  }
  if (!slot.loggedIn) return CKR_USER_NOT_LOGGED_IN;
  const TokenObject* object = FindObject(slot, key);
  if (object == nullptr) return CKR_KEY_HANDLE_INVALID;
  if (object->objectClass != CKO_PRIVATE_KEY) return CKR_KEY_TYPE_INCONSISTENT;
  if (!(kind == OperationKind::Sign ? object->canSign : object->canDecrypt)) {
    return CKR_KEY_FUNCTION_NOT_PERMITTED;
  }
  Operation& op = session.operation;
  op = Operation{};
  if (entry->digest != nullptr) {
    op.digest.reset(EVP_MD_CTX_new());
    if (!op.digest || EVP_DigestInit_ex(op.digest.get(), entry->digest(), nullptr) != 1) {
      op = Operation{};
      return CKR_HOST_MEMORY;
    }
  }
  op.kind = kind;
  op.mechanism = entry->type;
  op.keyReference = object->keyReference;
  return CKR_OK;
}

CK_RV SignUpdateLocked(Session& session, CK_BYTE_PTR part, CK_ULONG length) {
  Operation& op = session.operation;
  if (op.kind != OperationKind::Sign) return CKR_OPERATION_NOT_INITIALIZED;
  if (part == nullptr && length != 0) {
    EndOperation(session);
    return CKR_ARGUMENTS_BAD;
  }
  if (op.digest) {
    if (length != 0 && EVP_DigestUpdate(op.digest.get(), part, length) != 1) {
      EndOperation(session);
      return CKR_FUNCTION_FAILED;
    }
    return CKR_OK;
  }
  if (length > kMaxSignInput - op.input.bytes.size()) {
    EndOperation(session);
    return CKR_DATA_LEN_RANGE;
  }
  if (length != 0) op.input.Append(part, length);
  return CKR_OK;
}

// Finishes a signature over what the operation holds.
CK_RV SignFinalLocked(Module& m, Session& session, Slot& slot, CK_BYTE_PTR signature,
                      CK_ULONG_PTR signatureLength) {
  Operation& op = session.operation;
  if (op.kind != OperationKind::Sign) return CKR_OPERATION_NOT_INITIALIZED;
  if (signatureLength == nullptr) {
    EndOperation(session);
    return CKR_ARGUMENTS_BAD;
  }
  if (signature == nullptr) {
    *signatureLength = kModulusBytes;
    return CKR_OK;
  }
  if (*signatureLength < kModulusBytes) {
    *signatureLength = kModulusBytes;
    return CKR_BUFFER_TOO_SMALL;
  }
  WipedBytes digestInfo;
  if (op.digest) {
    const MechanismEntry* entry = FindMechanism(op.mechanism);
    std::array<BYTE, EVP_MAX_MD_SIZE> hash{};
    unsigned int hashLength = 0;
    if (EVP_DigestFinal_ex(op.digest.get(), hash.data(), &hashLength) != 1 ||
        !EncodeDigestInfo(entry->digest(), {hash.data(), hashLength}, &digestInfo)) {
      EndOperation(session);
      return CKR_FUNCTION_FAILED;
    }
  } else {
    if (op.input.bytes.empty()) {
      EndOperation(session);
      return CKR_DATA_LEN_RANGE;
    }
    digestInfo.Append(op.input.bytes.data(), op.input.bytes.size());
  }
  std::array<BYTE, kModulusBytes> out{};
  const LONG result = SignWithCardKey(*slot.card, op.keyReference, digestInfo.bytes, out);
  EndOperation(session);
  const CK_RV rv = CardOperationResult(m, slot, result, CKR_DATA_INVALID);
  if (rv == CKR_OK) {
    std::memcpy(signature, out.data(), out.size());
    *signatureLength = kModulusBytes;
  }
  return rv;
}

}  // namespace
}  // namespace orvel_p11

using namespace orvel_p11;

// --- General ---------------------------------------------------------------

ORVEL_P11_EXPORT CK_RV C_Initialize(CK_VOID_PTR initArgs) {
  if (initArgs != nullptr) {
    const auto* args = static_cast<const CK_C_INITIALIZE_ARGS*>(initArgs);
    if (args->pReserved != nullptr) return CKR_ARGUMENTS_BAD;
    const int given = (args->CreateMutex != nullptr) + (args->DestroyMutex != nullptr) +
                      (args->LockMutex != nullptr) + (args->UnlockMutex != nullptr);
    if (given != 0 && given != 4) return CKR_ARGUMENTS_BAD;
    // The module locks with the operating system's primitives only.
    if (given == 4 && (args->flags & CKF_OS_LOCKING_OK) == 0) return CKR_CANT_LOCK;
  }
  Module& m = TheModule();
  std::lock_guard<std::mutex> lock(m.mutex);
  if (m.initialized) return CKR_CRYPTOKI_ALREADY_INITIALIZED;
  // Without a resource manager the module runs with no slots; it may come
  // later.
  m.slots.Open();
  m.initialized = true;
  return CKR_OK;
}

ORVEL_P11_EXPORT CK_RV C_Finalize(CK_VOID_PTR reserved) {
  if (reserved != nullptr) return CKR_ARGUMENTS_BAD;
  ORVEL_P11_LOCKED();
  m.sessions.clear();
  m.slots.Close();
  m.initialized = false;
  return CKR_OK;
}

ORVEL_P11_EXPORT CK_RV C_GetInfo(CK_INFO_PTR info) {
  ORVEL_P11_LOCKED();
  if (info == nullptr) return CKR_ARGUMENTS_BAD;
  std::memset(info, 0, sizeof(*info));
  info->cryptokiVersion = {CRYPTOKI_VERSION_MAJOR, CRYPTOKI_VERSION_MINOR};
  Pad(info->manufacturerID, "Orvel");
  Pad(info->libraryDescription, "Orvel card PKCS#11 module");
  info->libraryVersion = {1, 0};
  return CKR_OK;
}

// --- Slots and tokens ------------------------------------------------------

ORVEL_P11_EXPORT CK_RV C_GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR list,
                                     CK_ULONG_PTR count) {
  ORVEL_P11_LOCKED();
  if (count == nullptr) return CKR_ARGUMENTS_BAD;
  if (m.slots.Count() == 0 || list == nullptr) m.slots.Refresh();
  std::vector<CK_SLOT_ID> ids;
  for (CK_SLOT_ID id = 0; id < m.slots.Count(); ++id) {
    const Slot* slot = m.slots.Find(id);
    if (slot->readerPresent && (tokenPresent == CK_FALSE || slot->cardPresent)) ids.push_back(id);
  }
  return CopyList(ids, list, count);
}

ORVEL_P11_EXPORT CK_RV C_GetSlotInfo(CK_SLOT_ID id, CK_SLOT_INFO_PTR info) {
  ORVEL_P11_LOCKED();
  if (info == nullptr) return CKR_ARGUMENTS_BAD;
  m.slots.Refresh();
  const Slot* slot = m.slots.Find(id);
  if (slot == nullptr) return CKR_SLOT_ID_INVALID;
  std::memset(info, 0, sizeof(*info));
  Pad(info->slotDescription, slot->reader);
  Pad(info->manufacturerID, "Orvel");
  info->flags = CKF_REMOVABLE_DEVICE | CKF_HW_SLOT | (slot->cardPresent ? CKF_TOKEN_PRESENT : 0);
  info->hardwareVersion = {1, 0};
  info->firmwareVersion = {1, 0};
  return CKR_OK;
}

ORVEL_P11_EXPORT CK_RV C_GetTokenInfo(CK_SLOT_ID id, CK_TOKEN_INFO_PTR info) {
  ORVEL_P11_LOCKED();
  if (info == nullptr) return CKR_ARGUMENTS_BAD;
  m.slots.Refresh();
  if (const CK_RV rv = m.slots.Ensure(id, false); rv != CKR_OK) return rv;
  const Slot* slot = m.slots.Find(id);
  const std::string serial = SerialText(slot->token->chipInfo);
  std::memset(info, 0, sizeof(*info));
  Pad(info->label, "Orvel " + serial);
  Pad(info->manufacturerID, "Orvel");
  Pad(info->model, "Orvel");
  Pad(info->serialNumber, serial);
  info->flags =
      CKF_TOKEN_INITIALIZED | CKF_LOGIN_REQUIRED | CKF_USER_PIN_INITIALIZED | CKF_WRITE_PROTECTED;
  const PinState& pin = slot->pin;
  if (pin.locked) {
    info->flags |= CKF_USER_PIN_LOCKED;
  } else if (pin.triesLeft == 1) {
    info->flags |= CKF_USER_PIN_FINAL_TRY | CKF_USER_PIN_COUNT_LOW;
  } else if (pin.triesLeft > 0 && pin.triesLeft < std::max(slot->mostTriesSeen, 3)) {
    info->flags |= CKF_USER_PIN_COUNT_LOW;
  }
  info->ulMaxSessionCount = CK_EFFECTIVELY_INFINITE;
  info->ulSessionCount = SessionsOf(m, id);
  info->ulMaxRwSessionCount = CK_EFFECTIVELY_INFINITE;
  info->ulRwSessionCount =
      static_cast<CK_ULONG>(std::count_if(m.sessions.begin(), m.sessions.end(), [&](const auto& s) {
        return s.second.slot == id && (s.second.flags & CKF_RW_SESSION) != 0;
      }));
  info->ulMaxPinLen = kMaxPinLength;
  info->ulMinPinLen = kMinPinLength;
  info->ulTotalPublicMemory = CK_UNAVAILABLE_INFORMATION;
  info->ulFreePublicMemory = CK_UNAVAILABLE_INFORMATION;
  info->ulTotalPrivateMemory = CK_UNAVAILABLE_INFORMATION;
  info->ulFreePrivateMemory = CK_UNAVAILABLE_INFORMATION;
  info->hardwareVersion = {1, 0};
  info->firmwareVersion = {1, 0};
  std::memset(info->utcTime, ' ', sizeof(info->utcTime));
  return CKR_OK;
}

ORVEL_P11_EXPORT CK_RV C_WaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID_PTR slotId,
                                          CK_VOID_PTR reserved) {
  ORVEL_P11_LOCKED();
  if (slotId == nullptr || reserved != nullptr) return CKR_ARGUMENTS_BAD;
  // Waiting would hold the module's lock; only polling is offered.
  if ((flags & CKF_DONT_BLOCK) == 0) return CKR_FUNCTION_NOT_SUPPORTED;
  m.slots.Refresh();
  return m.slots.TakeEvent(slotId) ? CKR_OK : CKR_NO_EVENT;
}

ORVEL_P11_EXPORT CK_RV C_GetMechanismList(CK_SLOT_ID id, CK_MECHANISM_TYPE_PTR list,
                                          CK_ULONG_PTR count) {
  ORVEL_P11_LOCKED();
  if (count == nullptr) return CKR_ARGUMENTS_BAD;
  if (const CK_RV rv = CheckCardSlot(m, id); rv != CKR_OK) return rv;
  std::vector<CK_MECHANISM_TYPE> types;
  for (const MechanismEntry& entry : kMechanisms) types.push_back(entry.type);
  return CopyList(types, list, count);
}

ORVEL_P11_EXPORT CK_RV C_GetMechanismInfo(CK_SLOT_ID id, CK_MECHANISM_TYPE type,
                                          CK_MECHANISM_INFO_PTR info) {
  ORVEL_P11_LOCKED();
  if (info == nullptr) return CKR_ARGUMENTS_BAD;
  if (const CK_RV rv = CheckCardSlot(m, id); rv != CKR_OK) return rv;
  const MechanismEntry* entry = FindMechanism(type);
  if (entry == nullptr) return CKR_MECHANISM_INVALID;
  info->ulMinKeySize = kModulusBits;
  info->ulMaxKeySize = kModulusBits;
  info->flags = entry->flags;
  return CKR_OK;
}

// --- Sessions and login ----------------------------------------------------

ORVEL_P11_EXPORT CK_RV C_OpenSession(CK_SLOT_ID id, CK_FLAGS flags, CK_VOID_PTR, CK_NOTIFY,
                                     CK_SESSION_HANDLE_PTR handle) {
  ORVEL_P11_LOCKED();
  if (handle == nullptr) return CKR_ARGUMENTS_BAD;
  if ((flags & CKF_SERIAL_SESSION) == 0) return CKR_SESSION_PARALLEL_NOT_SUPPORTED;
  m.slots.Refresh();
  if (m.slots.Find(id) == nullptr) return CKR_SLOT_ID_INVALID;
  // Each new session checks that the card is still the one whose objects are
  // kept: GET CHIP INFO, nothing more when it is.
  if (const CK_RV rv = m.slots.Ensure(id, true); rv != CKR_OK) return rv;
  // Read-write sessions are opened as clients ask for them (OpenSSH and
  // pkcs11-tool do); the token refuses every write all the same.
  Session session;
  session.slot = id;
  session.generation = m.slots.Find(id)->generation;
  session.flags = flags;
  *handle = m.nextSession++;
  m.sessions.emplace(*handle, std::move(session));
  return CKR_OK;
}

namespace {

// Closing the last session of a slot ends its login.
void AfterClose(Module& m, CK_SLOT_ID id) {
  Slot* slot = m.slots.Find(id);
  if (slot != nullptr && slot->loggedIn && SessionsOf(m, id) == 0) m.slots.Logout(*slot);
}

}  // namespace

ORVEL_P11_EXPORT CK_RV C_CloseSession(CK_SESSION_HANDLE handle) {
  ORVEL_P11_LOCKED();
  const auto it = m.sessions.find(handle);
  if (it == m.sessions.end()) return CKR_SESSION_HANDLE_INVALID;
  const CK_SLOT_ID id = it->second.slot;
  m.sessions.erase(it);
  AfterClose(m, id);
  return CKR_OK;
}

ORVEL_P11_EXPORT CK_RV C_CloseAllSessions(CK_SLOT_ID id) {
  ORVEL_P11_LOCKED();
  if (m.slots.Find(id) == nullptr) return CKR_SLOT_ID_INVALID;
  std::erase_if(m.sessions, [&](const auto& s) { return s.second.slot == id; });
  AfterClose(m, id);
  return CKR_OK;
}

ORVEL_P11_EXPORT CK_RV C_GetSessionInfo(CK_SESSION_HANDLE handle, CK_SESSION_INFO_PTR info) {
  ORVEL_P11_SESSION(handle);
  if (info == nullptr) return CKR_ARGUMENTS_BAD;
  info->slotID = session->slot;
  const bool rw = (session->flags & CKF_RW_SESSION) != 0;
  info->state = slot->loggedIn ? (rw ? CKS_RW_USER_FUNCTIONS : CKS_RO_USER_FUNCTIONS)
                               : (rw ? CKS_RW_PUBLIC_SESSION : CKS_RO_PUBLIC_SESSION);
  info->flags = session->flags;
  info->ulDeviceError = 0;
  return CKR_OK;
}

ORVEL_P11_EXPORT CK_RV C_Login(CK_SESSION_HANDLE handle, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pin,
                               CK_ULONG pinLength) {
  ORVEL_P11_SESSION(handle);
  if (userType == CKU_CONTEXT_SPECIFIC) return CKR_OPERATION_NOT_INITIALIZED;
  if (userType != CKU_USER) return CKR_USER_TYPE_INVALID;
  if (slot->loggedIn) return CKR_USER_ALREADY_LOGGED_IN;
  if (pin == nullptr) return CKR_ARGUMENTS_BAD;
  if (pinLength < kMinPinLength || pinLength > kMaxPinLength) return CKR_PIN_LEN_RANGE;
  const std::string_view typed(reinterpret_cast<const char*>(pin), pinLength);
  if (typed.find('\0') != std::string_view::npos) return CKR_PIN_INVALID;
  const CPinText text(typed);
  const LONG result = slot->card->VerifyPin(text.c_str());
  if (result != SCARD_S_SUCCESS && result != SCARD_E_INVALID_PARAMETER) {
    return CardOperationResult(m, *slot, result, CKR_DEVICE_ERROR);
  }
  const WORD sw = slot->card->Sw();
  PinState state = PinStateFromStatus(sw);
  if (sw == 0x9000) {
    slot->loggedIn = true;
    slot->pin = {};
    slot->pin.known = true;
    return CKR_OK;
  }
  if (!state.known) return CKR_DEVICE_ERROR;
  slot->pin = state;
  slot->mostTriesSeen = std::max(slot->mostTriesSeen, state.triesLeft + 1);
  return state.locked ? CKR_PIN_LOCKED : CKR_PIN_INCORRECT;
}

ORVEL_P11_EXPORT CK_RV C_Logout(CK_SESSION_HANDLE handle) {
  ORVEL_P11_SESSION(handle);
  if (!slot->loggedIn) return CKR_USER_NOT_LOGGED_IN;
  for (auto& [h, s] : m.sessions) {
    if (s.slot == session->slot) EndOperation(s);
  }
  return m.slots.Logout(*slot);
}

// --- Objects ---------------------------------------------------------------

ORVEL_P11_EXPORT CK_RV C_FindObjectsInit(CK_SESSION_HANDLE handle, CK_ATTRIBUTE_PTR pattern,
                                         CK_ULONG count) {
  ORVEL_P11_SESSION(handle);
  if (pattern == nullptr && count != 0) return CKR_ARGUMENTS_BAD;
  if (session->finding) return CKR_OPERATION_ACTIVE;
  session->found.clear();
  session->nextFound = 0;
  const std::span<const CK_ATTRIBUTE> wanted(pattern, count);
  const Token& token = *slot->token;
  for (std::size_t i = 0; i < token.objects.size(); ++i) {
    const TokenObject& object = token.objects[i];
    if (object.isPrivate && !slot->loggedIn) continue;
    if (object.Matches(wanted)) session->found.push_back(token.firstHandle + i);
  }
  session->finding = true;
  return CKR_OK;
}

ORVEL_P11_EXPORT CK_RV C_FindObjects(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE_PTR objects,
                                     CK_ULONG maxCount, CK_ULONG_PTR count) {
  ORVEL_P11_SESSION(handle);
  if (!session->finding) return CKR_OPERATION_NOT_INITIALIZED;
  if (count == nullptr || (objects == nullptr && maxCount != 0)) return CKR_ARGUMENTS_BAD;
  const std::size_t n = std::min<std::size_t>(maxCount, session->found.size() - session->nextFound);
  std::copy_n(session->found.begin() + static_cast<std::ptrdiff_t>(session->nextFound), n, objects);
  session->nextFound += n;
  *count = n;
  return CKR_OK;
}

ORVEL_P11_EXPORT CK_RV C_FindObjectsFinal(CK_SESSION_HANDLE handle) {
  ORVEL_P11_SESSION(handle);
  if (!session->finding) return CKR_OPERATION_NOT_INITIALIZED;
  session->finding = false;
  session->found.clear();
  return CKR_OK;
}

ORVEL_P11_EXPORT CK_RV C_GetAttributeValue(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE object,
                                           CK_ATTRIBUTE_PTR attributes, CK_ULONG count) {
  ORVEL_P11_SESSION(handle);
  if (attributes == nullptr && count != 0) return CKR_ARGUMENTS_BAD;
  const TokenObject* found = FindObject(*slot, object);
  if (found == nullptr) return CKR_OBJECT_HANDLE_INVALID;
  return found->GetAttributes({attributes, count});
}

ORVEL_P11_EXPORT CK_RV C_GetObjectSize(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE object,
                                       CK_ULONG_PTR size) {
  ORVEL_P11_SESSION(handle);
  if (size == nullptr) return CKR_ARGUMENTS_BAD;
  if (FindObject(*slot, object) == nullptr) return CKR_OBJECT_HANDLE_INVALID;
  *size = CK_UNAVAILABLE_INFORMATION;
  return CKR_OK;
}

// --- Signing and decryption ------------------------------------------------

ORVEL_P11_EXPORT CK_RV C_SignInit(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism,
                                  CK_OBJECT_HANDLE key) {
  ORVEL_P11_SESSION(handle);
  return OperationInit(m, *session, *slot, OperationKind::Sign, mechanism, key);
}

ORVEL_P11_EXPORT CK_RV C_Sign(CK_SESSION_HANDLE handle, CK_BYTE_PTR data, CK_ULONG dataLength,
                              CK_BYTE_PTR signature, CK_ULONG_PTR signatureLength) {
  ORVEL_P11_SESSION(handle);
  if (session->operation.kind != OperationKind::Sign) return CKR_OPERATION_NOT_INITIALIZED;
  if (signatureLength == nullptr) {
    EndOperation(*session);
    return CKR_ARGUMENTS_BAD;
  }
  // A length query leaves the data to the call that brings the buffer.
  if (signature == nullptr || *signatureLength < kModulusBytes) {
    return SignFinalLocked(m, *session, *slot, signature, signatureLength);
  }
  if (const CK_RV rv = SignUpdateLocked(*session, data, dataLength); rv != CKR_OK) return rv;
  return SignFinalLocked(m, *session, *slot, signature, signatureLength);
}

ORVEL_P11_EXPORT CK_RV C_SignUpdate(CK_SESSION_HANDLE handle, CK_BYTE_PTR part, CK_ULONG length) {
  ORVEL_P11_SESSION(handle);
  return SignUpdateLocked(*session, part, length);
}

ORVEL_P11_EXPORT CK_RV C_SignFinal(CK_SESSION_HANDLE handle, CK_BYTE_PTR signature,
                                   CK_ULONG_PTR signatureLength) {
  ORVEL_P11_SESSION(handle);
  return SignFinalLocked(m, *session, *slot, signature, signatureLength);
}

ORVEL_P11_EXPORT CK_RV C_DecryptInit(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism,
                                     CK_OBJECT_HANDLE key) {
  ORVEL_P11_SESSION(handle);
  return OperationInit(m, *session, *slot, OperationKind::Decrypt, mechanism, key);
}

ORVEL_P11_EXPORT CK_RV C_Decrypt(CK_SESSION_HANDLE handle, CK_BYTE_PTR encrypted,
                                 CK_ULONG encryptedLength, CK_BYTE_PTR data,
                                 CK_ULONG_PTR dataLength) {
  ORVEL_P11_SESSION(handle);
  Operation& op = session->operation;
  if (op.kind != OperationKind::Decrypt) return CKR_OPERATION_NOT_INITIALIZED;
  if (dataLength == nullptr || encrypted == nullptr) {
    EndOperation(*session);
    return CKR_ARGUMENTS_BAD;
  }
  if (encryptedLength != kModulusBytes) {
    EndOperation(*session);
    return CKR_ENCRYPTED_DATA_LEN_RANGE;
  }
  // The card deciphers once; the plaintext is kept (wiped later) for the call
  // that brings a buffer large enough.
  const bool sameInput = op.haveOutput && op.input.bytes.size() == encryptedLength &&
                         std::memcmp(op.input.bytes.data(), encrypted, encryptedLength) == 0;
  if (!sameInput) {
    op.input.Clear();
    op.input.Append(encrypted, encryptedLength);
    op.output.Clear();
    const LONG result = DecipherWithCardKey(
        *slot->card, op.keyReference,
        std::span<const BYTE, kModulusBytes>(encrypted, kModulusBytes), &op.output.bytes);
    const CK_RV rv = CardOperationResult(m, *slot, result, CKR_ENCRYPTED_DATA_INVALID);
    if (rv != CKR_OK) {
      EndOperation(*session);
      return rv;
    }
    op.haveOutput = true;
  }
  const CK_ULONG needed = op.output.bytes.size();
  if (data == nullptr) {
    *dataLength = needed;
    return CKR_OK;
  }
  if (*dataLength < needed) {
    *dataLength = needed;
    return CKR_BUFFER_TOO_SMALL;
  }
  if (needed != 0) std::memcpy(data, op.output.bytes.data(), needed);
  *dataLength = needed;
  EndOperation(*session);
  return CKR_OK;
}

// --- Everything else -------------------------------------------------------

namespace {

CK_RV NotSupported() {
  Module& m = TheModule();
  std::lock_guard<std::mutex> lock(m.mutex);
  return m.initialized ? CKR_FUNCTION_NOT_SUPPORTED : CKR_CRYPTOKI_NOT_INITIALIZED;
}

// An entry point the module does not offer, given by its parameter types.
#define ORVEL_P11_NOT_SUPPORTED(name, ...) \
  ORVEL_P11_EXPORT CK_RV name(__VA_ARGS__) { return NotSupported(); }
// The parameters of the functions that take data and give output in the
// two-call pattern.
#define ORVEL_P11_DATA_TO_OUTPUT CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR

}  // namespace

ORVEL_P11_NOT_SUPPORTED(C_InitToken, CK_SLOT_ID, CK_UTF8CHAR_PTR, CK_ULONG, CK_UTF8CHAR_PTR)
ORVEL_P11_NOT_SUPPORTED(C_InitPIN, CK_SESSION_HANDLE, CK_UTF8CHAR_PTR, CK_ULONG)
ORVEL_P11_NOT_SUPPORTED(C_SetPIN, CK_SESSION_HANDLE, CK_UTF8CHAR_PTR, CK_ULONG, CK_UTF8CHAR_PTR,
                        CK_ULONG)
ORVEL_P11_NOT_SUPPORTED(C_GetOperationState, CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR)
ORVEL_P11_NOT_SUPPORTED(C_SetOperationState, CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG,
                        CK_OBJECT_HANDLE, CK_OBJECT_HANDLE)
ORVEL_P11_NOT_SUPPORTED(C_CreateObject, CK_SESSION_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG,
                        CK_OBJECT_HANDLE_PTR)
ORVEL_P11_NOT_SUPPORTED(C_CopyObject, CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR,
                        CK_ULONG, CK_OBJECT_HANDLE_PTR)
ORVEL_P11_NOT_SUPPORTED(C_DestroyObject, CK_SESSION_HANDLE, CK_OBJECT_HANDLE)
ORVEL_P11_NOT_SUPPORTED(C_SetAttributeValue, CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR,
                        CK_ULONG)
ORVEL_P11_NOT_SUPPORTED(C_EncryptInit, CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE)
ORVEL_P11_NOT_SUPPORTED(C_Encrypt, ORVEL_P11_DATA_TO_OUTPUT)
ORVEL_P11_NOT_SUPPORTED(C_EncryptUpdate, ORVEL_P11_DATA_TO_OUTPUT)
ORVEL_P11_NOT_SUPPORTED(C_EncryptFinal, CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR)
ORVEL_P11_NOT_SUPPORTED(C_DecryptUpdate, ORVEL_P11_DATA_TO_OUTPUT)
ORVEL_P11_NOT_SUPPORTED(C_DecryptFinal, CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR)
ORVEL_P11_NOT_SUPPORTED(C_DigestInit, CK_SESSION_HANDLE, CK_MECHANISM_PTR)
ORVEL_P11_NOT_SUPPORTED(C_Digest, ORVEL_P11_DATA_TO_OUTPUT)
ORVEL_P11_NOT_SUPPORTED(C_DigestUpdate, CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG)
ORVEL_P11_NOT_SUPPORTED(C_DigestKey, CK_SESSION_HANDLE, CK_OBJECT_HANDLE)
ORVEL_P11_NOT_SUPPORTED(C_DigestFinal, CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR)
ORVEL_P11_NOT_SUPPORTED(C_SignRecoverInit, CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE)
ORVEL_P11_NOT_SUPPORTED(C_SignRecover, ORVEL_P11_DATA_TO_OUTPUT)
ORVEL_P11_NOT_SUPPORTED(C_VerifyInit, CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE)
ORVEL_P11_NOT_SUPPORTED(C_Verify, CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG)
ORVEL_P11_NOT_SUPPORTED(C_VerifyUpdate, CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG)
ORVEL_P11_NOT_SUPPORTED(C_VerifyFinal, CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG)
ORVEL_P11_NOT_SUPPORTED(C_VerifyRecoverInit, CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE)
ORVEL_P11_NOT_SUPPORTED(C_VerifyRecover, ORVEL_P11_DATA_TO_OUTPUT)
ORVEL_P11_NOT_SUPPORTED(C_DigestEncryptUpdate, ORVEL_P11_DATA_TO_OUTPUT)
ORVEL_P11_NOT_SUPPORTED(C_DecryptDigestUpdate, ORVEL_P11_DATA_TO_OUTPUT)
ORVEL_P11_NOT_SUPPORTED(C_SignEncryptUpdate, ORVEL_P11_DATA_TO_OUTPUT)
ORVEL_P11_NOT_SUPPORTED(C_DecryptVerifyUpdate, ORVEL_P11_DATA_TO_OUTPUT)
ORVEL_P11_NOT_SUPPORTED(C_GenerateKey, CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_ATTRIBUTE_PTR,
                        CK_ULONG, CK_OBJECT_HANDLE_PTR)
ORVEL_P11_NOT_SUPPORTED(C_GenerateKeyPair, CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_ATTRIBUTE_PTR,
                        CK_ULONG, CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR,
                        CK_OBJECT_HANDLE_PTR)
ORVEL_P11_NOT_SUPPORTED(C_WrapKey, CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE,
                        CK_OBJECT_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR)
ORVEL_P11_NOT_SUPPORTED(C_UnwrapKey, CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE,
                        CK_BYTE_PTR, CK_ULONG, CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR)
ORVEL_P11_NOT_SUPPORTED(C_DeriveKey, CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE,
                        CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR)

// The token has no random number generator (no CKF_RNG): the standard's
// answer for that, which clients take as "not available" rather than failure.
ORVEL_P11_EXPORT CK_RV C_SeedRandom(CK_SESSION_HANDLE handle, CK_BYTE_PTR, CK_ULONG) {
  ORVEL_P11_SESSION(handle);
  return CKR_RANDOM_NO_RNG;
}

ORVEL_P11_EXPORT CK_RV C_GenerateRandom(CK_SESSION_HANDLE handle, CK_BYTE_PTR, CK_ULONG) {
  ORVEL_P11_SESSION(handle);
  return CKR_RANDOM_NO_RNG;
}

ORVEL_P11_NOT_SUPPORTED(C_GetFunctionStatus, CK_SESSION_HANDLE)
ORVEL_P11_NOT_SUPPORTED(C_CancelFunction, CK_SESSION_HANDLE)

namespace {

CK_FUNCTION_LIST kFunctionList = {
    {CRYPTOKI_VERSION_MAJOR, CRYPTOKI_VERSION_MINOR},
    C_Initialize,
    C_Finalize,
    C_GetInfo,
    C_GetFunctionList,
    C_GetSlotList,
    C_GetSlotInfo,
    C_GetTokenInfo,
    C_GetMechanismList,
    C_GetMechanismInfo,
    C_InitToken,
    C_InitPIN,
    C_SetPIN,
    C_OpenSession,
    C_CloseSession,
    C_CloseAllSessions,
    C_GetSessionInfo,
    C_GetOperationState,
    C_SetOperationState,
    C_Login,
    C_Logout,
    C_CreateObject,
    C_CopyObject,
    C_DestroyObject,
    C_GetObjectSize,
    C_GetAttributeValue,
    C_SetAttributeValue,
    C_FindObjectsInit,
    C_FindObjects,
    C_FindObjectsFinal,
    C_EncryptInit,
    C_Encrypt,
    C_EncryptUpdate,
    C_EncryptFinal,
    C_DecryptInit,
    C_Decrypt,
    C_DecryptUpdate,
    C_DecryptFinal,
    C_DigestInit,
    C_Digest,
    C_DigestUpdate,
    C_DigestKey,
    C_DigestFinal,
    C_SignInit,
    C_Sign,
    C_SignUpdate,
    C_SignFinal,
    C_SignRecoverInit,
    C_SignRecover,
    C_VerifyInit,
    C_Verify,
    C_VerifyUpdate,
    C_VerifyFinal,
    C_VerifyRecoverInit,
    C_VerifyRecover,
    C_DigestEncryptUpdate,
    C_DecryptDigestUpdate,
    C_SignEncryptUpdate,
    C_DecryptVerifyUpdate,
    C_GenerateKey,
    C_GenerateKeyPair,
    C_WrapKey,
    C_UnwrapKey,
    C_DeriveKey,
    C_SeedRandom,
    C_GenerateRandom,
    C_GetFunctionStatus,
    C_CancelFunction,
    C_WaitForSlotEvent,
};

}  // namespace

ORVEL_P11_EXPORT CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list) {
  if (list == nullptr) return CKR_ARGUMENTS_BAD;
  *list = &kFunctionList;
  return CKR_OK;
}
