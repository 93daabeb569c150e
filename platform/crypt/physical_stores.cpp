// CertRegisterPhysicalStore and CertUnregisterPhysicalStore.
#include "physical_stores.h"

#include "platform/copy_out.h"
#include "platform/user_state.h"
#include "state_file.h"
#include "text_convert.h"

#include <strings.h>

#include <algorithm>

namespace platform::crypt {
namespace {

StateFile Registrations() { return StateFile(UserStateDir() / "physical_stores.json"); }

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

nlohmann::json ToJson(const PhysicalStoreRecord& r) {
  return {{"name", r.name},
          {"openStoreProvider", r.openStoreProvider},
          {"openEncodingType", r.openEncodingType},
          {"openFlags", r.openFlags},
          {"openParameters", EncodeBase64(r.openParameters.data(), r.openParameters.size())},
          {"flags", r.flags},
          {"priority", r.priority}};
}

std::optional<PhysicalStoreRecord> FromJson(const nlohmann::json& j) {
  PhysicalStoreRecord r;
  try {
    r.name = j.at("name").get<std::string>();
    r.openStoreProvider = j.at("openStoreProvider").get<std::string>();
    r.openEncodingType = j.at("openEncodingType").get<DWORD>();
    r.openFlags = j.at("openFlags").get<DWORD>();
    auto parameters = DecodeBase64(j.at("openParameters").get<std::string>());
    if (!parameters) return std::nullopt;
    r.openParameters = std::move(*parameters);
    r.flags = j.at("flags").get<DWORD>();
    r.priority = j.at("priority").get<DWORD>();
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
  return r;
}

}  // namespace

std::optional<std::string> SystemStoreKey(const std::string& name) {
  if (name.empty() || name.size() > 255 || name == "." || name == ".." ||
      name.find_first_of("/\\") != std::string::npos || name.find('\0') != std::string::npos) {
    return std::nullopt;
  }
  std::string key = name;
  for (char& c : key) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return key;
}

std::optional<std::string> SystemStoreKey(LPCWSTR name) {
  if (!name) return std::nullopt;
  auto text = ToUtf8(name);
  if (!text) return std::nullopt;
  return SystemStoreKey(*text);
}

DWORD CheckCurrentUserLocation(DWORD flags) {
  if (flags & CERT_SYSTEM_STORE_RELOCATE_FLAG) return ERROR_NOT_SUPPORTED;
  const DWORD location = flags & CERT_SYSTEM_STORE_LOCATION_MASK;
  return location == 0 || location == CERT_SYSTEM_STORE_CURRENT_USER ? ERROR_SUCCESS
                                                                     : ERROR_NOT_SUPPORTED;
}

DWORD ListPhysicalStores(const std::string& systemStoreKey, std::vector<PhysicalStoreRecord>& out) {
  out.clear();
  nlohmann::json content;
  if (DWORD error = Registrations().Read(content)) return error;
  if (!content.contains(systemStoreKey)) return ERROR_SUCCESS;
  const auto& list = content.at(systemStoreKey);
  if (!list.is_array()) return ERROR_INVALID_DATA;
  for (const auto& entry : list) {
    auto record = FromJson(entry);
    if (!record) return ERROR_INVALID_DATA;
    out.push_back(std::move(*record));
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const PhysicalStoreRecord& a, const PhysicalStoreRecord& b) {
                     return a.priority > b.priority;
                   });
  return ERROR_SUCCESS;
}

}  // namespace platform::crypt

using namespace platform::crypt;

extern "C" BOOL CertRegisterPhysicalStore(const void* pvSystemStore, DWORD dwFlags,
                                          LPCWSTR pwszStoreName,
                                          PCERT_PHYSICAL_STORE_INFO pStoreInfo, void* pvReserved) {
  if (DWORD error = CheckCurrentUserLocation(dwFlags)) return Fail(error);
  const auto key = SystemStoreKey(static_cast<LPCWSTR>(pvSystemStore));
  const auto name = pwszStoreName ? ToUtf8(pwszStoreName) : std::nullopt;
  if (!key || !name || name->empty() || !pStoreInfo || !pStoreInfo->pszOpenStoreProvider ||
      reinterpret_cast<ULONG_PTR>(pStoreInfo->pszOpenStoreProvider) <= 0xFFFF ||
      (pStoreInfo->OpenParameters.cbData && !pStoreInfo->OpenParameters.pbData)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  PhysicalStoreRecord record;
  record.name = *name;
  record.openStoreProvider = pStoreInfo->pszOpenStoreProvider;
  record.openEncodingType = pStoreInfo->dwOpenEncodingType;
  record.openFlags = pStoreInfo->dwOpenFlags;
  record.openParameters.assign(
      pStoreInfo->OpenParameters.pbData,
      pStoreInfo->OpenParameters.pbData + pStoreInfo->OpenParameters.cbData);
  record.flags = pStoreInfo->dwFlags;
  record.priority = pStoreInfo->dwPriority;
  const bool createNew = (dwFlags & CERT_STORE_CREATE_NEW_FLAG) != 0;
  return Report(Registrations().Update([&](nlohmann::json& content) -> DWORD {
    auto& list = content[*key];
    if (!list.is_array()) list = nlohmann::json::array();
    for (auto& entry : list) {
      if (SameName(entry.at("name").get<std::string>(), record.name)) {
        if (createNew) return ERROR_FILE_EXISTS;
        entry = ToJson(record);
        return ERROR_SUCCESS;
      }
    }
    list.push_back(ToJson(record));
    return ERROR_SUCCESS;
  }));
}

extern "C" BOOL CertUnregisterPhysicalStore(const void* pvSystemStore, DWORD dwFlags,
                                            LPCWSTR pwszStoreName) {
  if (DWORD error = CheckCurrentUserLocation(dwFlags)) return Fail(error);
  const auto key = SystemStoreKey(static_cast<LPCWSTR>(pvSystemStore));
  const auto name = pwszStoreName ? ToUtf8(pwszStoreName) : std::nullopt;
  if (!key || !name || name->empty()) return Fail(ERROR_INVALID_PARAMETER);
  return Report(Registrations().Update([&](nlohmann::json& content) -> DWORD {
    if (!content.contains(*key)) return ERROR_FILE_NOT_FOUND;
    auto& list = content.at(*key);
    for (auto it = list.begin(); it != list.end(); ++it) {
      if (SameName(it->at("name").get<std::string>(), *name)) {
        list.erase(it);
        if (list.empty()) content.erase(*key);
        return ERROR_SUCCESS;
      }
    }
    return ERROR_FILE_NOT_FOUND;
  }));
}
