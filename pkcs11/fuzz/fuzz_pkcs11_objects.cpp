// Whole card images, with transport faults, through the PKCS#11 module as a
// client lists them: token information, a session, login, every object found
// and its attributes (lengths first, then values). Input layout as in
// fuzz/card_harness.h.
#include <p11-kit/pkcs11.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "card_harness.h"
#include "orvel_test/registration.h"

extern "C" CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list);

namespace {

constexpr CK_ATTRIBUTE_TYPE kTypes[] = {CKA_CLASS,
                                        CKA_TOKEN,
                                        CKA_PRIVATE,
                                        CKA_LABEL,
                                        CKA_ID,
                                        CKA_VALUE,
                                        CKA_SUBJECT,
                                        CKA_ISSUER,
                                        CKA_SERIAL_NUMBER,
                                        CKA_KEY_TYPE,
                                        CKA_MODULUS,
                                        CKA_PUBLIC_EXPONENT,
                                        CKA_MODULUS_BITS,
                                        CKA_SIGN,
                                        CKA_DECRYPT,
                                        CKA_PRIVATE_EXPONENT,
                                        CKA_CERTIFICATE_TYPE};

void ListObjects(CK_FUNCTION_LIST* f, CK_SESSION_HANDLE session) {
  if (f->C_FindObjectsInit(session, nullptr, 0) != CKR_OK) return;
  CK_OBJECT_HANDLE objects[64];
  CK_ULONG found = 0;
  f->C_FindObjects(session, objects, 64, &found);
  f->C_FindObjectsFinal(session);
  if (found > 64) __builtin_trap();
  for (CK_ULONG i = 0; i < found; ++i) {
    for (CK_ATTRIBUTE_TYPE type : kTypes) {
      CK_ATTRIBUTE attribute{type, nullptr, 0};
      if (f->C_GetAttributeValue(session, objects[i], &attribute, 1) != CKR_OK) continue;
      // Nothing read from the card is larger than a certificate.
      if (attribute.ulValueLen > 4096) __builtin_trap();
      std::vector<unsigned char> value(attribute.ulValueLen);
      attribute.pValue = value.data();
      if (f->C_GetAttributeValue(session, objects[i], &attribute, 1) == CKR_OK &&
          attribute.ulValueLen != value.size()) {
        __builtin_trap();
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orvel_fuzz;
  PrepareProcess();
  static const bool registered = orvel_test::RegisterCardType();
  (void)registered;
  InputReader in(data, size);
  const CardInput input = ReadCardInput(in);
  FuzzCard fake(input);
  if (!fake.Connected()) return 0;

  CK_FUNCTION_LIST* f = nullptr;
  if (C_GetFunctionList(&f) != CKR_OK || f->C_Initialize(nullptr) != CKR_OK) __builtin_trap();
  CK_SLOT_ID slot = 0;
  CK_ULONG count = 1;
  CK_TOKEN_INFO info{};
  CK_SESSION_HANDLE session = 0;
  if (f->C_GetSlotList(CK_TRUE, &slot, &count) == CKR_OK && count == 1 &&
      f->C_GetTokenInfo(slot, &info) == CKR_OK &&
      f->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &session) == CKR_OK) {
    ListObjects(f, session);
    CK_UTF8CHAR pin[] = {'1', '2', '3', '4'};
    if (f->C_Login(session, CKU_USER, pin, sizeof(pin)) == CKR_OK) ListObjects(f, session);
  }
  if (f->C_Finalize(nullptr) != CKR_OK) __builtin_trap();
  return 0;
}
