// The built-in software RSA provider (PROV_RSA_FULL), reached through the same
// operation table as a provider module. Its keys live in the persistent key
// containers of the current user.
#pragma once

#include "platform/provider_module.h"

namespace platform::crypt {

const ORVEL_PROVIDER_FUNCTIONS* SoftwareProviderFunctions();

}  // namespace platform::crypt
