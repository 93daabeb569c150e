// What a client does to list a token: slots, token information, a session,
// every object with its label, identifier and value.
#pragma once

#include <p11-kit/pkcs11.h>

#include <vector>

namespace p11_bench {

// The number of objects listed; -1 when a call failed.
inline int ListToken(CK_FUNCTION_LIST* f) {
  CK_SLOT_ID slots[16];
  CK_ULONG count = 16;
  if (f->C_GetSlotList(CK_TRUE, slots, &count) != CKR_OK || count == 0) return -1;
  CK_TOKEN_INFO info{};
  if (f->C_GetTokenInfo(slots[0], &info) != CKR_OK) return -1;
  CK_SESSION_HANDLE session = 0;
  if (f->C_OpenSession(slots[0], CKF_SERIAL_SESSION, nullptr, nullptr, &session) != CKR_OK) {
    return -1;
  }
  f->C_FindObjectsInit(session, nullptr, 0);
  CK_OBJECT_HANDLE objects[64];
  CK_ULONG found = 0;
  f->C_FindObjects(session, objects, 64, &found);
  f->C_FindObjectsFinal(session);
  std::vector<unsigned char> value(4096);
  for (CK_ULONG i = 0; i < found; ++i) {
    for (CK_ATTRIBUTE_TYPE type : {CKA_LABEL, CKA_ID, CKA_VALUE}) {
      CK_ATTRIBUTE attribute{type, value.data(), value.size()};
      f->C_GetAttributeValue(session, objects[i], &attribute, 1);
    }
  }
  f->C_CloseSession(session);
  return static_cast<int>(found);
}

// Initializes the module and opens a session on the first slot's token,
// logged in with the PIN 1234; the session, or 0 when the login failed.
inline CK_SESSION_HANDLE OpenLoggedInSession(CK_FUNCTION_LIST* f) {
  f->C_Initialize(nullptr);
  CK_SLOT_ID slot = 0;
  CK_ULONG count = 1;
  f->C_GetSlotList(CK_TRUE, &slot, &count);
  CK_SESSION_HANDLE session = 0;
  f->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &session);
  CK_UTF8CHAR pin[] = {'1', '2', '3', '4'};
  return f->C_Login(session, CKU_USER, pin, sizeof(pin)) == CKR_OK ? session : 0;
}

// Logs in and signs a SHA-256 hash of data with the first private key.
inline bool LoginAndSign(CK_FUNCTION_LIST* f, CK_SESSION_HANDLE session) {
  CK_OBJECT_CLASS keyClass = CKO_PRIVATE_KEY;
  CK_ATTRIBUTE pattern{CKA_CLASS, &keyClass, sizeof(keyClass)};
  f->C_FindObjectsInit(session, &pattern, 1);
  CK_OBJECT_HANDLE key = 0;
  CK_ULONG found = 0;
  f->C_FindObjects(session, &key, 1, &found);
  f->C_FindObjectsFinal(session);
  if (found != 1) return false;
  CK_MECHANISM mechanism{CKM_SHA256_RSA_PKCS, nullptr, 0};
  unsigned char data[] = "datos";
  unsigned char signature[128];
  CK_ULONG length = sizeof(signature);
  return f->C_SignInit(session, &mechanism, key) == CKR_OK &&
         f->C_Sign(session, data, sizeof(data), signature, &length) == CKR_OK;
}

// Link time of the bytes at 9,600 bit/s, ten bits a byte on T=0.
inline double LinkMilliseconds(double bytes) { return bytes * 10.0 / 9.6; }

}  // namespace p11_bench
