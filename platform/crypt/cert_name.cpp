// CertNameToStrA: the text of an encoded X.500 name.
#include "openssl_types.h"
#include "platform/wincrypt.h"

#include <openssl/objects.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using X509NamePtr = platform::crypt::OsslPtr<X509_NAME, X509_NAME_free>;

// The keys the platform writes for the attributes it knows.
const char* KeyOf(int nid) {
  switch (nid) {
    case NID_commonName:
      return "CN";
    case NID_localityName:
      return "L";
    case NID_organizationName:
      return "O";
    case NID_organizationalUnitName:
      return "OU";
    case NID_pkcs9_emailAddress:
      return "E";
    case NID_countryName:
      return "C";
    case NID_stateOrProvinceName:
      return "S";
    case NID_streetAddress:
      return "STREET";
    case NID_title:
      return "T";
    case NID_givenName:
      return "G";
    case NID_initials:
      return "I";
    case NID_surname:
      return "SN";
    case NID_domainComponent:
      return "DC";
    case NID_serialNumber:
      return "SERIALNUMBER";
    default:
      return nullptr;
  }
}

std::string OidOf(const ASN1_OBJECT* object) {
  char text[128];
  const int length = OBJ_obj2txt(text, sizeof text, object, 1);
  return length > 0 && static_cast<std::size_t>(length) < sizeof text ? text : "";
}

std::string ValueOf(const ASN1_STRING* value) {
  unsigned char* utf8 = nullptr;
  const int length = ASN1_STRING_to_UTF8(&utf8, value);
  if (length < 0) return {};
  std::string text(reinterpret_cast<char*>(utf8), static_cast<std::size_t>(length));
  OPENSSL_free(utf8);
  return text;
}

// Values with separators, quotes or surrounding blanks are quoted, with
// inner quotes doubled.
std::string Quoted(const std::string& value) {
  const bool needs = value.empty() || value.front() == ' ' || value.back() == ' ' ||
                     value.find_first_of(",+=\"\n<>#;\r") != std::string::npos;
  if (!needs) return value;
  std::string out = "\"";
  for (char c : value) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string Format(const X509_NAME* name, DWORD strType) {
  const DWORD type = strType & 0xFFFF;
  const bool reverse = strType & CERT_NAME_STR_REVERSE_FLAG;
  const bool quoting = !(strType & CERT_NAME_STR_NO_QUOTING_FLAG);
  const char* rdnSeparator = (strType & CERT_NAME_STR_SEMICOLON_FLAG) ? "; "
                             : (strType & CERT_NAME_STR_CRLF_FLAG)    ? "\r\n"
                                                                      : ", ";
  const char* attributeSeparator = (strType & CERT_NAME_STR_NO_PLUS_FLAG) ? " " : " + ";

  // Attributes grouped by relative distinguished name, in encoded order.
  std::vector<std::vector<std::string>> rdns;
  int lastSet = -1;
  for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
    const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
    const ASN1_OBJECT* object = X509_NAME_ENTRY_get_object(entry);
    std::string value = ValueOf(X509_NAME_ENTRY_get_data(entry));
    if (quoting) value = Quoted(value);
    std::string text;
    if (type == CERT_SIMPLE_NAME_STR) {
      text = value;
    } else {
      const char* key = type == CERT_X500_NAME_STR ? KeyOf(OBJ_obj2nid(object)) : nullptr;
      text = (key ? std::string(key) : (type == CERT_X500_NAME_STR ? "OID." : "") + OidOf(object)) +
             "=" + value;
    }
    const int set = X509_NAME_ENTRY_set(entry);
    if (set != lastSet || rdns.empty()) rdns.emplace_back();
    rdns.back().push_back(std::move(text));
    lastSet = set;
  }
  if (reverse) std::reverse(rdns.begin(), rdns.end());
  std::string out;
  for (std::size_t r = 0; r < rdns.size(); ++r) {
    if (r) out += rdnSeparator;
    for (std::size_t a = 0; a < rdns[r].size(); ++a) {
      if (a) out += attributeSeparator;
      out += rdns[r][a];
    }
  }
  return out;
}

}  // namespace

extern "C" DWORD CertNameToStrA(DWORD dwCertEncodingType, PCERT_NAME_BLOB pName, DWORD dwStrType,
                                LPSTR psz, DWORD csz) {
  std::string text;
  const DWORD type = dwStrType & 0xFFFF;
  if (pName && pName->pbData && GET_CERT_ENCODING_TYPE(dwCertEncodingType) == X509_ASN_ENCODING &&
      type >= CERT_SIMPLE_NAME_STR && type <= CERT_X500_NAME_STR) {
    const unsigned char* p = pName->pbData;
    X509NamePtr name(d2i_X509_NAME(nullptr, &p, static_cast<long>(pName->cbData)));
    if (name) text = Format(name.get(), dwStrType);
  }
  const auto needed = static_cast<DWORD>(text.size() + 1);
  if (!psz || csz == 0) return needed;
  const DWORD copied = std::min<DWORD>(csz - 1, static_cast<DWORD>(text.size()));
  std::memcpy(psz, text.data(), copied);
  psz[copied] = '\0';
  return copied + 1;
}
