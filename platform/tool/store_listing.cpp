#include "store_listing.h"

#include <cstddef>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/utf_convert.h"

namespace tool {

std::string SubjectText(PCCERT_CONTEXT certificate) {
  CERT_NAME_BLOB* subject = &certificate->pCertInfo->Subject;
  const DWORD type = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
  std::string text(CertNameToStrA(certificate->dwCertEncodingType, subject, type, nullptr, 0),
                   '\0');
  CertNameToStrA(certificate->dwCertEncodingType, subject, type, text.data(),
                 static_cast<DWORD>(text.size()));
  text.resize(text.size() - 1);
  return text;
}

unsigned long Code(DWORD error) { return static_cast<unsigned long>(error); }

// The current user's system store of that name; null with a message.
HCERTSTORE OpenSystemStore(const char* command, const std::string& name) {
  const std::u16string wide = WideName(name);
  HCERTSTORE store =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, wide.c_str());
  if (!store) {
    std::fprintf(stderr, "%s: cannot open the store %s (0x%08lX)\n", command, name.c_str(),
                 Code(GetLastError()));
  }
  return store;
}

std::optional<std::vector<BYTE>> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<BYTE> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

namespace {

std::string Thumbprint(PCCERT_CONTEXT certificate) {
  BYTE hash[20];
  DWORD size = sizeof hash;
  if (!CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID, hash, &size))
    return "?";
  std::string text;
  for (DWORD i = 0; i < size; ++i) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", hash[i]);
    text += digits;
  }
  return text;
}

std::string Utf8(LPCWSTR text) { return platform::ToUtf8(text).value_or("?"); }

void PrintKeyProvider(PCCERT_CONTEXT certificate) {
  DWORD size = 0;
  if (!CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
    std::printf("  Key provider: none\n");
    return;
  }
  std::vector<std::max_align_t> buffer(size / sizeof(std::max_align_t) + 1);
  if (!CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(),
                                         &size)) {
    std::printf("  Key provider: unreadable\n");
    return;
  }
  const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
  std::printf("  Key provider: %s\n", Utf8(info->pwszProvName).c_str());
  std::printf("  Key container: %s\n", Utf8(info->pwszContainerName).c_str());
  std::printf("  Provider type: %lu\n", static_cast<unsigned long>(info->dwProvType));
  std::printf("  Key spec: %lu\n", static_cast<unsigned long>(info->dwKeySpec));
}

}  // namespace

int PrintStore(HCERTSTORE store, const std::string& name) {
  int count = 0;
  PCCERT_CONTEXT certificate = nullptr;
  while ((certificate = CertEnumCertificatesInStore(store, certificate)) != nullptr) {
    std::printf("Certificate %d\n", ++count);
    std::printf("  Subject: %s\n", SubjectText(certificate).c_str());
    std::printf("  Thumbprint: %s\n", Thumbprint(certificate).c_str());
    PrintKeyProvider(certificate);
  }
  std::printf("%d certificate%s in %s\n", count, count == 1 ? "" : "s", name.c_str());
  std::fflush(stdout);
  return count;
}

std::u16string WideName(const std::string& name) { return platform::ToUtf16(name); }

}  // namespace tool
