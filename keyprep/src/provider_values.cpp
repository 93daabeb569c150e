// The platform's two-call pattern for values of variable length.
#include "keyprep/provider_values.h"

#include <new>

namespace {

// Asks for the size, allocates, asks for the value. fetch(buffer, length)
// performs the platform call.
template <class Fetch>
bool FetchValue(Fetch fetch, std::unique_ptr<BYTE[]>* buffer, DWORD* length) {
  DWORD size = 0;
  if (!fetch(nullptr, &size) || size == 0) return false;
  std::unique_ptr<BYTE[]> value;
  try {
    value = std::make_unique_for_overwrite<BYTE[]>(size);
  } catch (const std::bad_alloc&) {
    return false;
  }
  DWORD filled = size;
  if (!fetch(value.get(), &filled)) return false;
  if (buffer != nullptr) *buffer = std::move(value);
  if (length != nullptr) *length = filled;
  return true;
}

}  // namespace

bool GetProviderParam(HCRYPTPROV provider, DWORD param, std::unique_ptr<BYTE[]>* buffer,
                      DWORD* length) {
  return FetchValue(
      [&](BYTE* data, DWORD* size) {
        return CryptGetProvParam(provider, param, data, size, 0) == TRUE;
      },
      buffer, length);
}

bool GetCertificateProperty(PCCERT_CONTEXT certificate, DWORD propertyId,
                            std::unique_ptr<BYTE[]>* buffer, DWORD* length) {
  if (certificate == nullptr) return false;
  return FetchValue(
      [&](BYTE* data, DWORD* size) {
        return CertGetCertificateContextProperty(certificate, propertyId, data, size) == TRUE;
      },
      buffer, length);
}
