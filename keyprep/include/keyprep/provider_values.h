// Values of variable length from the platform, fetched with its two-call
// pattern (size first, then the value). The buffer is allocated here and
// handed to the caller, who owns it from then on.
#pragma once

#include <memory>

#include "platform/wincrypt.h"

// A provider parameter (PP_NAME, PP_CONTAINER, ...). False when the size
// query fails or reports 0 bytes (nothing is allocated then), when memory
// runs out or when the second call fails. buffer and length are optional.
bool GetProviderParam(HCRYPTPROV provider, DWORD param, std::unique_ptr<BYTE[]>* buffer,
                      DWORD* length);

// A certificate property (CERT_KEY_PROV_INFO_PROP_ID, ...), the same way.
bool GetCertificateProperty(PCCERT_CONTEXT certificate, DWORD propertyId,
                            std::unique_ptr<BYTE[]>* buffer, DWORD* length);
