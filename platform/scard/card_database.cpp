// The card database file: {"cards": {"NAME": {"atr": "3B..", "mask": "FF.."}}}.
// Written whole to a temporary file and renamed over the old one, so a
// reader never sees half a database. Beneath it, read only, the system-wide
// one of the same form (SystemDefaultsDir()/smartcards.json): a name the user
// registered hides the system-wide entry of that name.
#include "platform/card_database.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <mutex>
#include <system_error>

#include "common/hex_text.h"
#include "platform/user_state.h"

namespace platform {
namespace {

constexpr std::size_t kMaxAtrLength = 33;

std::mutex& DatabaseMutex() {
  static std::mutex mutex;
  return mutex;
}

std::filesystem::path DatabasePath() { return UserStateDir() / "smartcards.json"; }

nlohmann::json LoadJson(const std::filesystem::path& path = DatabasePath()) {
  std::ifstream in(path);
  if (!in) return nlohmann::json::object();
  nlohmann::json doc = nlohmann::json::parse(in, nullptr, /*allow_exceptions=*/false);
  if (!doc.is_object()) return nlohmann::json::object();
  return doc;
}

bool SaveJson(const nlohmann::json& doc) {
  const auto path = DatabasePath();
  auto temp = path;
  temp += ".tmp";
  {
    std::ofstream out(temp, std::ios::trunc);
    if (!out) return false;
    out << doc.dump(2) << '\n';
    if (!out) return false;
  }
  std::error_code ec;
  std::filesystem::rename(temp, path, ec);
  if (ec) {
    std::filesystem::remove(temp, ec);
    return false;
  }
  return true;
}

std::optional<CardType> FromJson(const std::string& name, const nlohmann::json& entry) {
  if (!entry.is_object()) return std::nullopt;
  const auto atrText = entry.find("atr");
  const auto maskText = entry.find("mask");
  if (atrText == entry.end() || !atrText->is_string()) return std::nullopt;
  auto atr = ParseHexBytes(atrText->get<std::string>());
  if (!atr || atr->empty() || atr->size() > kMaxAtrLength) return std::nullopt;
  std::vector<std::uint8_t> mask(atr->size(), 0xFF);
  if (maskText != entry.end()) {
    if (!maskText->is_string()) return std::nullopt;
    auto parsed = ParseHexBytes(maskText->get<std::string>());
    if (!parsed || parsed->size() != atr->size()) return std::nullopt;
    mask = std::move(*parsed);
  }
  return CardType{name, std::move(*atr), std::move(mask)};
}

}  // namespace

std::optional<std::vector<std::uint8_t>> ParseHexBytes(const std::string& text) {
  std::vector<std::uint8_t> bytes;
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == ':' || c == '\t') {
      if (high >= 0) return std::nullopt;  // a lone digit before a separator
      continue;
    }
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    const int digit = std::isdigit(static_cast<unsigned char>(c))
                          ? c - '0'
                          : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<std::uint8_t>(high * 16 + digit));
      high = -1;
    }
  }
  if (high >= 0) return std::nullopt;
  return bytes;
}

std::vector<CardType> ListCardTypes() {
  std::lock_guard lock(DatabaseMutex());
  std::map<std::string, CardType> byName;
  const std::filesystem::path system = SystemDefaultsDir();
  // The system-wide entries first, so that the user's replace them.
  for (const nlohmann::json& doc :
       {system.empty() ? nlohmann::json::object() : LoadJson(system / "smartcards.json"),
        LoadJson()}) {
    const auto cards = doc.find("cards");
    if (cards == doc.end() || !cards->is_object()) continue;
    for (const auto& [name, entry] : cards->items()) {
      if (auto type = FromJson(name, entry)) byName.insert_or_assign(name, std::move(*type));
    }
  }
  std::vector<CardType> types;
  for (auto& [name, type] : byName) types.push_back(std::move(type));
  return types;
}

std::optional<CardType> FindCardType(const std::string& name) {
  for (CardType& type : ListCardTypes()) {
    if (type.name == name) return std::move(type);
  }
  return std::nullopt;
}

bool RegisterCardType(const CardType& type) {
  if (type.name.empty() || type.atr.empty() || type.atr.size() > kMaxAtrLength ||
      type.mask.size() != type.atr.size()) {
    return false;
  }
  std::lock_guard lock(DatabaseMutex());
  nlohmann::json doc = LoadJson();
  if (!doc["cards"].is_object()) doc["cards"] = nlohmann::json::object();
  doc["cards"][type.name] = {{"atr", HexText(type.atr)}, {"mask", HexText(type.mask)}};
  return SaveJson(doc);
}

bool ForgetCardType(const std::string& name) {
  std::lock_guard lock(DatabaseMutex());
  nlohmann::json doc = LoadJson();
  auto cards = doc.find("cards");
  if (cards == doc.end() || !cards->is_object() || cards->erase(name) == 0) return false;
  return SaveJson(doc);
}

bool AtrMatches(const CardType& type, const std::uint8_t* atr, std::size_t atrLength) {
  if (atr == nullptr || atrLength != type.atr.size() || type.mask.size() != type.atr.size()) {
    return false;
  }
  for (std::size_t i = 0; i < atrLength; ++i) {
    if ((atr[i] & type.mask[i]) != (type.atr[i] & type.mask[i])) return false;
  }
  return true;
}

}  // namespace platform
