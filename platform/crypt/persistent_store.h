// The user's own persistent store of a system store (its default physical
// store), kept in UserStateDir()/stores/<NAME>.json:
//   {"certificates": [{"encodingType": 65537, "encoded": "<Base64 DER>",
//                      "keyProvInfo": {"container": "...", "provider": "...",
//                                      "provType": 1, "flags": 0, "keySpec": 1,
//                                      "params": [{"param": 0, "flags": 0, "data": ""}]},
//                      "properties": {"11": "<Base64>"}}]}
// A certificate added to the store is written to the file at once (replacing
// a recorded copy of the same certificate), so that no process loses another
// one's additions. Properties changed on a context after it was added are
// not written.
#pragma once

#include "platform/wincrypt.h"

#include <string>

namespace platform::crypt {

// A memory store filled from the file of the system store key (see
// SystemStoreKey), which adds write to that file. Null, with the last error
// set, when the file cannot be read (it is then left as it is).
HCERTSTORE OpenPersistentStore(const std::string& systemStoreKey, bool readOnly);

}  // namespace platform::crypt
