// The interface of the test store-provider module (libOrvelTestStore.so):
// what it counts and how the tests steer it. The module behaves like a
// store provider that the platform loads by its registered name: its
// DllMain installs its open function under the provider name
// "OrvelTestStore", its DllRegisterServer registers that provider and a
// physical store "Almacén de prueba" in the user's "MY" store.
//
// Settings come from the environment at each attach (so that programs run by
// the tests can be steered) and from the Set functions below:
//   ORVEL_TEST_STORE_CERT         DER file the open function puts in the store
//   ORVEL_TEST_STORE_RESYNC_CERT  DER file a resync adds
//   ORVEL_TEST_STORE_REFUSE       "1": the write callback refuses everything
//   ORVEL_TEST_STORE_SIGNAL_MS    after a change notification is registered,
//                                 a thread sets the events after this delay
//   ORVEL_TEST_STORE_LOG          file to which every call is appended, a line
//                                 each: attach, detach, open, close,
//                                 write 0x00050001, control 2
#pragma once

#include <array>

#include "platform/wincrypt.h"

extern "C" {

struct TestStoreCounters {
  int attaches;
  int detaches;
  int opens;
  int closes;
  int writes;
  DWORD lastWriteFlags;
  int controls;
  DWORD lastControlType;
  HANDLE lastControlEvent;   // what the control parameter pointed to
  HCERTSTORE lastOpenStore;  // the store the open function was given
  DWORD lastOpenFlags;
  char16_t lastOpenName[128];  // the open parameter, read as a name
};

typedef TestStoreCounters* (*PFN_TEST_STORE_COUNTERS)(void);
typedef void (*PFN_TEST_STORE_RESET)(void);
typedef void (*PFN_TEST_STORE_SET_BOOL)(BOOL value);
typedef void (*PFN_TEST_STORE_SET_BYTES)(const BYTE* data, DWORD size);

}  // extern "C"

// Provider names and the module's registered file name.
inline constexpr char kTestStoreProvider[] = "OrvelTestStore";
inline constexpr char kTestStoreExportProvider[] = "OrvelTestStoreExport";
inline constexpr char16_t kTestStoreModule[] = u"OrvelTestStore.dll";
inline constexpr char16_t kTestStorePhysicalName[] = u"Almacén de prueba";
// The key-provider information the module gives the certificates it puts in
// its store.
inline constexpr char16_t kTestStoreProvName[] = u"TestCSP";
inline constexpr char16_t kTestStoreContainer[] = u"tarjeta-1";

// The callback table of the tests' store providers: close, write and control
// in their CERT_STORE_PROV_* slots, every other slot empty.
using StoreCallbackTable = std::array<void*, CERT_STORE_PROV_FUNC_COUNT>;
template <class Close, class Write, class Control>
StoreCallbackTable StoreCallbacks(Close* close, Write* write, Control* control) {
  StoreCallbackTable table{};
  table[CERT_STORE_PROV_CLOSE_FUNC] = reinterpret_cast<void*>(close);
  table[CERT_STORE_PROV_WRITE_CERT_FUNC] = reinterpret_cast<void*>(write);
  table[CERT_STORE_PROV_CONTROL_FUNC] = reinterpret_cast<void*>(control);
  return table;
}
