// A collection of stores, as a system store is made of its physical stores.
#pragma once

#include "extended_store.h"

#include <vector>

namespace platform::crypt {

struct CollectionMember {
  HCERTSTORE store;  // owned by the collection: closed with it
  bool addEnabled;   // offered the certificates added to the collection
};

// Adding offers the certificate to the add-enabled members in order; the
// first that accepts it keeps it. Enumeration lists the members in order,
// each certificate once, from the first member that holds it.
HCERTSTORE OpenCollectionStore(std::vector<CollectionMember> members, bool readOnly);

}  // namespace platform::crypt
