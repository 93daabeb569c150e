// Opening the stores that are not plain memory stores: the current user's
// system stores, their persistent part alone (the system registry store),
// and the stores of open-store providers found by name.
//
// A system store is a collection of its physical stores: first those
// registered for it (CertRegisterPhysicalStore), highest priority first,
// each opened through its open-store provider, then the user's own
// persistent store of that name. A registered physical store that cannot be
// opened is left out of the collection; the persistent store cannot be.
// A physical store is an open-store provider's store: one that names a
// system store again is left out too, so that no system store contains
// itself.
#include "collection_store.h"
#include "extended_store.h"
#include "persistent_store.h"
#include "physical_stores.h"
#include "platform/copy_out.h"
#include "text_convert.h"

#include <strings.h>

namespace platform::crypt {
namespace {

enum class StoreKind { kSystem, kSystemRegistry, kProvider };

bool IsInt(LPCSTR provider) { return reinterpret_cast<ULONG_PTR>(provider) <= 0xFFFF; }

StoreKind KindOf(LPCSTR provider, bool& wideName) {
  wideName = true;
  if (provider == CERT_STORE_PROV_SYSTEM_A || provider == CERT_STORE_PROV_SYSTEM_REGISTRY_A) {
    wideName = false;
  }
  if (provider == CERT_STORE_PROV_SYSTEM_A || provider == CERT_STORE_PROV_SYSTEM_W)
    return StoreKind::kSystem;
  if (provider == CERT_STORE_PROV_SYSTEM_REGISTRY_A ||
      provider == CERT_STORE_PROV_SYSTEM_REGISTRY_W) {
    return StoreKind::kSystemRegistry;
  }
  if (!IsInt(provider) && strcasecmp(provider, sz_CERT_STORE_PROV_SYSTEM) == 0)
    return StoreKind::kSystem;
  if (!IsInt(provider) && strcasecmp(provider, sz_CERT_STORE_PROV_SYSTEM_REGISTRY) == 0) {
    return StoreKind::kSystemRegistry;
  }
  return StoreKind::kProvider;
}

HCERTSTORE FailOpen(DWORD error) {
  SetLastError(error);
  return nullptr;
}

// The store's own name joined to the physical store's, as a physical store
// with no open parameters of its own is opened with.
std::u16string PhysicalStorePath(const std::string& systemStore, const std::string& physicalStore) {
  return ToUtf16(systemStore + "\\" + physicalStore);
}

// How deep system stores are being opened on this thread: a provider whose
// open function opens the system store it belongs to would otherwise recurse
// without end.
thread_local int t_systemStoreDepth = 0;
constexpr int kMaxSystemStoreDepth = 4;

struct DepthGuard {
  DepthGuard() { ++t_systemStoreDepth; }
  ~DepthGuard() { --t_systemStoreDepth; }
};

HCERTSTORE OpenSystemStore(const std::string& key, DWORD flags) {
  if (t_systemStoreDepth >= kMaxSystemStoreDepth) return FailOpen(ERROR_NOT_SUPPORTED);
  DepthGuard depth;
  const bool readOnly = (flags & CERT_STORE_READONLY_FLAG) != 0;
  std::vector<PhysicalStoreRecord> registered;
  if (DWORD error = ListPhysicalStores(key, registered)) return FailOpen(error);

  std::vector<CollectionMember> members;
  auto closeMembers = [&members] {
    for (const CollectionMember& m : members) CertCloseStore(m.store, 0);
  };
  for (const PhysicalStoreRecord& physical : registered) {
    if (physical.flags & CERT_PHYSICAL_STORE_OPEN_DISABLE_FLAG) continue;
    bool wide = true;
    if (KindOf(physical.openStoreProvider.c_str(), wide) != StoreKind::kProvider) continue;
    const std::u16string path = PhysicalStorePath(key, physical.name);
    const void* parameter = physical.openParameters.empty() ? static_cast<const void*>(path.c_str())
                                                            : physical.openParameters.data();
    const DWORD openFlags =
        physical.openFlags | CERT_SYSTEM_STORE_CURRENT_USER | (flags & CERT_STORE_READONLY_FLAG);
    HCERTSTORE store = CertOpenStore(physical.openStoreProvider.c_str(), physical.openEncodingType,
                                     0, openFlags, parameter);
    if (!store) continue;
    members.push_back(
        {store, !readOnly && (physical.flags & CERT_PHYSICAL_STORE_ADD_ENABLE_FLAG) != 0});
  }
  HCERTSTORE own = OpenPersistentStore(key, readOnly);
  if (!own) {
    const DWORD error = GetLastError();
    closeMembers();
    return FailOpen(error);
  }
  members.push_back({own, !readOnly});
  return OpenCollectionStore(std::move(members), readOnly);
}

}  // namespace

HCERTSTORE OpenExtendedStore(LPCSTR provider, DWORD encodingType, HCRYPTPROV cryptProv, DWORD flags,
                             const void* parameter) {
  bool wideName = true;
  const StoreKind kind = KindOf(provider, wideName);
  if (kind == StoreKind::kProvider) {
    return OpenProviderStore(provider, encodingType, cryptProv, flags, parameter);
  }
  if (DWORD error = CheckCurrentUserLocation(flags)) return FailOpen(error);
  if (flags & CERT_STORE_DELETE_FLAG) return FailOpen(ERROR_CALL_NOT_IMPLEMENTED);
  if (!parameter) return FailOpen(ERROR_INVALID_PARAMETER);
  const auto key = wideName ? SystemStoreKey(static_cast<LPCWSTR>(parameter))
                            : SystemStoreKey(std::string(static_cast<const char*>(parameter)));
  if (!key) return FailOpen(ERROR_INVALID_PARAMETER);
  if (kind == StoreKind::kSystemRegistry) {
    return OpenPersistentStore(*key, (flags & CERT_STORE_READONLY_FLAG) != 0);
  }
  return OpenSystemStore(*key, flags);
}

}  // namespace platform::crypt
