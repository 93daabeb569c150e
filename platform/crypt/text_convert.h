// The certificate services use the platform's one UTF-16 <-> UTF-8
// conversion under their own namespace.
#pragma once

#include "platform/utf_convert.h"

namespace platform::crypt {

using platform::AppendUtf8;
using platform::ToUtf16;
using platform::ToUtf8;

}  // namespace platform::crypt
