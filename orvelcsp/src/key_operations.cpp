#include "key_operations.h"

namespace orvelcsp {

// The card's key operations come with the card's security commands.
DWORD SignHash(ULONG_PTR, DWORD, DWORD, BYTE*, DWORD*) { return NTE_NO_KEY; }
DWORD VerifySignature(ULONG_PTR, const BYTE*, DWORD, ULONG_PTR, DWORD) { return NTE_BAD_KEY; }
DWORD Decrypt(ULONG_PTR, BOOL, DWORD, BYTE*, DWORD*) { return NTE_NO_KEY; }
DWORD GetKeyParam(ULONG_PTR, DWORD, BYTE*, DWORD*, DWORD) { return NTE_BAD_TYPE; }
DWORD ImportKey(ULONG_PTR, const BYTE*, DWORD, DWORD, ULONG_PTR*) { return NTE_BAD_TYPE; }

}  // namespace orvelcsp
