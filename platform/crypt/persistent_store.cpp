#include "persistent_store.h"

#include "cert_context.h"
#include "platform/user_state.h"
#include "state_file.h"
#include "store_impl.h"
#include "text_convert.h"

namespace platform::crypt {
namespace {

std::string Base64Of(const std::vector<BYTE>& bytes) {
  return EncodeBase64(bytes.data(), bytes.size());
}

DWORD ToJson(const CertContextImpl& c, nlohmann::json& out) {
  out = {{"encodingType", c.pub.dwCertEncodingType},
         {"encoded", EncodeBase64(c.pub.pbCertEncoded, c.pub.cbCertEncoded)}};
  if (c.keyProvInfo) {
    const KeyProvInfoValue& k = *c.keyProvInfo;
    auto container = ToUtf8(k.container.c_str());
    auto provider = ToUtf8(k.provider.c_str());
    if (!container || !provider) return ERROR_INVALID_DATA;
    nlohmann::json params = nlohmann::json::array();
    for (const auto& p : k.params) {
      params.push_back({{"param", p.param}, {"flags", p.flags}, {"data", Base64Of(p.data)}});
    }
    out["keyProvInfo"] = {{"container", *container}, {"provider", *provider},
                          {"provType", k.provType},  {"flags", k.flags},
                          {"keySpec", k.keySpec},    {"params", params}};
  }
  nlohmann::json properties = nlohmann::json::object();
  for (const auto& [id, value] : c.blobProperties) properties[std::to_string(id)] = Base64Of(value);
  out["properties"] = properties;
  return ERROR_SUCCESS;
}

// A context of `store` for a recorded certificate; null when the record
// does not hold a certificate.
std::unique_ptr<CertContextImpl> FromJson(const nlohmann::json& j, HCERTSTORE store) {
  auto encoded = DecodeBase64(j.at("encoded").get<std::string>());
  if (!encoded) return nullptr;
  auto decoded = DecodedCertificate::Decode(encoded->data(), encoded->size());
  if (!decoded) return nullptr;
  auto impl = std::make_unique<CertContextImpl>();
  impl->pub.dwCertEncodingType = j.at("encodingType").get<DWORD>();
  impl->pub.pbCertEncoded = decoded->Encoded();
  impl->pub.cbCertEncoded = decoded->EncodedSize();
  impl->pub.pCertInfo = decoded->Info();
  impl->pub.hCertStore = store;
  impl->decoded = std::move(decoded);
  if (j.contains("keyProvInfo")) {
    const auto& k = j.at("keyProvInfo");
    KeyProvInfoValue value;
    value.container = ToUtf16(k.at("container").get<std::string>());
    value.provider = ToUtf16(k.at("provider").get<std::string>());
    value.provType = k.at("provType").get<DWORD>();
    value.flags = k.at("flags").get<DWORD>();
    value.keySpec = k.at("keySpec").get<DWORD>();
    for (const auto& p : k.at("params")) {
      auto data = DecodeBase64(p.at("data").get<std::string>());
      if (!data) return nullptr;
      value.params.push_back(
          {p.at("param").get<DWORD>(), p.at("flags").get<DWORD>(), std::move(*data)});
    }
    impl->keyProvInfo = std::move(value);
  }
  if (j.contains("properties")) {
    for (const auto& [id, text] : j.at("properties").items()) {
      auto data = DecodeBase64(text.get<std::string>());
      if (!data) return nullptr;
      impl->blobProperties[static_cast<DWORD>(std::stoul(id))] = std::move(*data);
    }
  }
  return impl;
}

class FileBacking final : public StoreBacking {
 public:
  explicit FileBacking(std::filesystem::path path) : m_file(std::move(path)) {}

  DWORD Put(const CertContextImpl& certificate) override {
    nlohmann::json record;
    if (DWORD error = ToJson(certificate, record)) return error;
    return m_file.Update([&record](nlohmann::json& content) -> DWORD {
      auto& list = content["certificates"];
      if (!list.is_array()) list = nlohmann::json::array();
      for (auto& entry : list) {
        // Records that hold no certificate are left as they are.
        if (entry.is_object() && entry.contains("encoded") &&
            entry["encoded"] == record.at("encoded")) {
          entry = record;
          return ERROR_SUCCESS;
        }
      }
      list.push_back(record);
      return ERROR_SUCCESS;
    });
  }

  DWORD Load(HCERTSTORE store, std::vector<std::unique_ptr<CertContextImpl>>& out) override {
    out.clear();
    nlohmann::json content;
    if (DWORD error = m_file.Read(content)) return error;
    if (!content.contains("certificates")) return ERROR_SUCCESS;
    try {
      for (const auto& entry : content.at("certificates")) {
        // A record that does not hold a certificate is left out here and
        // left alone in the file.
        try {
          if (auto impl = FromJson(entry, store)) out.push_back(std::move(impl));
        } catch (const std::exception&) {
        }
      }
    } catch (const nlohmann::json::exception&) {
      return ERROR_INVALID_DATA;
    }
    return ERROR_SUCCESS;
  }

 private:
  StateFile m_file;
};

}  // namespace

HCERTSTORE OpenPersistentStore(const std::string& systemStoreKey, bool readOnly) {
  auto store = std::make_unique<StoreImpl>();
  store->backing =
      std::make_unique<FileBacking>(UserStateDir() / "stores" / (systemStoreKey + ".json"));
  store->readOnly = readOnly;
  std::vector<HCRYPTPROV> none;
  std::lock_guard lock(CertificateLock());
  StoreImpl& impl = *store;
  HCERTSTORE handle = RegisterStoreLocked(std::move(store));
  if (DWORD error = ReloadStoreLocked(handle, impl, none)) {
    UnregisterEmptyStoreLocked(handle);
    SetLastError(error);
    return nullptr;
  }
  return handle;
}

}  // namespace platform::crypt
