// Card images: the card as readable JSON (format described in cardsim/README.md).
#include <fstream>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "card_state.h"
#include "common/hex_text.h"

namespace cardsim {

using json = nlohmann::ordered_json;

namespace {

constexpr const char* kFormat = "orvel-cardsim-image";
constexpr int kVersion = 1;

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
  throw CardImageError("cardsim: card image: " + where + ": " + what);
}

std::string Hex16(std::uint16_t v) {
  const std::uint8_t bytes[] = {HighByte(v), LowByte(v)};
  return HexText(bytes);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Hex text; spaces and colons between bytes are allowed for hand-written images.
Bytes ParseHex(const std::string& where, const std::string& text) {
  Bytes out;
  int pending = -1;
  for (char c : text) {
    if (c == ' ' || c == ':' || c == '\n' || c == '\t') {
      if (pending >= 0) Fail(where, "odd number of hex digits");
      continue;
    }
    int d = HexDigit(c);
    if (d < 0) Fail(where, std::string("not a hex digit: '") + c + "'");
    if (pending < 0) {
      pending = d;
    } else {
      out.push_back(static_cast<std::uint8_t>(pending << 4 | d));
      pending = -1;
    }
  }
  if (pending >= 0) Fail(where, "odd number of hex digits");
  return out;
}

bool Printable(const Bytes& b) {
  for (std::uint8_t c : b)
    if (c < 0x20 || c > 0x7E || c == '\\') return false;
  return !b.empty();
}

const json& Member(const json& obj, const std::string& where, const char* name) {
  auto it = obj.find(name);
  if (it == obj.end()) Fail(where, std::string("missing \"") + name + "\"");
  return *it;
}

std::string String(const json& obj, const std::string& where, const char* name) {
  const json& v = Member(obj, where, name);
  if (!v.is_string()) Fail(where + "/" + name, "expected a string");
  return v.get<std::string>();
}

long long Integer(const json& obj, const std::string& where, const char* name, long long lo,
                  long long hi) {
  const json& v = Member(obj, where, name);
  if (!v.is_number_integer()) Fail(where + "/" + name, "expected an integer");
  long long x = v.get<long long>();
  if (x < lo || x > hi)
    Fail(where + "/" + name, "out of range " + std::to_string(lo) + ".." + std::to_string(hi));
  return x;
}

std::uint16_t Fid(const json& obj, const std::string& where) {
  Bytes b = ParseHex(where + "/fid", String(obj, where, "fid"));
  if (b.size() != 2) Fail(where + "/fid", "expected 4 hex digits");
  return static_cast<std::uint16_t>(b[0] << 8 | b[1]);
}

const char* KindName(NodeKind k) {
  switch (k) {
    case NodeKind::Df:
      return "DF";
    case NodeKind::Transparent:
      return "EF";
    case NodeKind::KeyFile:
      return "KeyFile";
  }
  return "?";
}

json NodeToJson(const Node& n) {
  json j;
  j["fid"] = Hex16(n.fid);
  j["type"] = KindName(n.kind);
  switch (n.kind) {
    case NodeKind::Df: {
      if (Printable(n.dfName))
        j["name"] = std::string(n.dfName.begin(), n.dfName.end());
      else
        j["nameHex"] = HexText(n.dfName);
      json children = json::array();
      for (const auto& c : n.children) children.push_back(NodeToJson(*c));
      j["children"] = std::move(children);
      break;
    }
    case NodeKind::Transparent: {
      j["size"] = n.data.size();
      // Trailing zero bytes are left out; loading pads the contents to "size".
      std::size_t used = n.data.size();
      while (used > 0 && n.data[used - 1] == 0) --used;
      j["data"] = HexText(std::span(n.data).first(used));
      break;
    }
    case NodeKind::KeyFile:
      j["size"] = n.keyFileSize;
      break;
  }
  return j;
}

std::unique_ptr<Node> NodeFromJson(const json& j, const std::string& where) {
  if (!j.is_object()) Fail(where, "expected an object");
  auto n = std::make_unique<Node>();
  n->fid = Fid(j, where);
  const std::string type = String(j, where, "type");
  if (type == "DF") {
    n->kind = NodeKind::Df;
    if (j.contains("nameHex"))
      n->dfName = ParseHex(where + "/nameHex", String(j, where, "nameHex"));
    else {
      std::string name = String(j, where, "name");
      n->dfName.assign(name.begin(), name.end());
    }
    if (n->dfName.empty() || n->dfName.size() > 16) Fail(where, "a DF name has 1 to 16 bytes");
    std::set<std::uint16_t> seen;
    if (j.contains("children")) {
      const json& ch = j["children"];
      if (!ch.is_array()) Fail(where + "/children", "expected an array");
      for (std::size_t i = 0; i < ch.size(); ++i) {
        std::string w = where + "/children[" + std::to_string(i) + "]";
        auto child = NodeFromJson(ch[i], w);
        if (!seen.insert(child->fid).second)
          Fail(w, "file identifier " + Hex16(child->fid) + " appears twice in one DF");
        n->AddChild(std::move(child));
      }
    }
  } else if (type == "EF") {
    n->kind = NodeKind::Transparent;
    Bytes data;
    if (j.contains("data")) data = ParseHex(where + "/data", String(j, where, "data"));
    std::size_t size = data.size();
    if (j.contains("size")) size = static_cast<std::size_t>(Integer(j, where, "size", 0, 0xFFFF));
    if (data.size() > size) Fail(where, "data is longer than size");
    data.resize(size, 0);
    n->data = std::move(data);
  } else if (type == "KeyFile") {
    n->kind = NodeKind::KeyFile;
    n->keyFileSize = static_cast<std::size_t>(Integer(j, where, "size", 0, 0xFFFF));
  } else {
    Fail(where + "/type", "expected \"DF\", \"EF\" or \"KeyFile\", not \"" + type + "\"");
  }
  return n;
}

struct PartName {
  const char* name;
  Bytes StoredKey::*member;
};
constexpr PartName kParts[] = {
    {"modulus", &StoredKey::modulus},         {"exponent", &StoredKey::exponent},
    {"prime1", &StoredKey::prime1},           {"prime2", &StoredKey::prime2},
    {"coefficient", &StoredKey::coefficient}, {"exponent1", &StoredKey::exponent1},
    {"exponent2", &StoredKey::exponent2},
};

}  // namespace

std::string VirtualCard::ToJson() const {
  std::lock_guard lock(m_mutex);
  const State& s = *m_state;
  json j;
  j["format"] = kFormat;
  j["version"] = kVersion;
  j["serial"] = HexText(s.serial);
  if (Printable(s.pin))
    j["pin"] = std::string(s.pin.begin(), s.pin.end());
  else
    j["pinHex"] = HexText(s.pin);
  j["pinTriesLeft"] = s.triesLeft;
  j["pinTriesMax"] = s.triesMax;
  j["certificateSpace"] = s.certificateSpace;
  j["files"] = NodeToJson(*s.mf);
  json keys = json::array();
  for (const auto& [id, key] : s.keys) {
    json k;
    k["reference"] = id.first;
    k["role"] = id.second == KeyRole::Exchange ? "exchange" : "signature";
    for (const auto& p : kParts)
      if (!(key.*p.member).empty()) k[p.name] = HexText(key.*p.member);
    // Information for people; ignored when loading.
    k["complete"] = key.Complete();
    k["consistent"] = key.Consistent();
    keys.push_back(std::move(k));
  }
  j["keys"] = std::move(keys);
  return j.dump(2) + "\n";
}

std::shared_ptr<VirtualCard> VirtualCard::FromJson(const std::string& text) {
  json j;
  try {
    j = json::parse(text);
  } catch (const json::exception& e) {
    throw CardImageError(std::string("cardsim: card image: malformed JSON: ") + e.what());
  }
  const std::string root = "$";
  if (!j.is_object()) Fail(root, "expected an object");
  if (j.contains("format") && j["format"] != kFormat)
    Fail(root + "/format", std::string("expected \"") + kFormat + "\"");
  if (j.contains("version") && j["version"] != kVersion)
    Fail(root + "/version", "unsupported version (this build reads version 1)");

  std::shared_ptr<VirtualCard> card(new VirtualCard());
  State& s = *card->m_state;
  Bytes serial = ParseHex(root + "/serial", String(j, root, "serial"));
  if (serial.size() != 6) Fail(root + "/serial", "expected 6 bytes (12 hex digits)");
  std::copy(serial.begin(), serial.end(), s.serial.begin());
  if (j.contains("pinHex")) {
    s.pin = ParseHex(root + "/pinHex", String(j, root, "pinHex"));
  } else {
    std::string pin = String(j, root, "pin");
    s.pin.assign(pin.begin(), pin.end());
  }
  s.triesMax = static_cast<int>(Integer(j, root, "pinTriesMax", 1, 15));
  s.triesLeft = static_cast<int>(Integer(j, root, "pinTriesLeft", 0, s.triesMax));
  if (j.contains("certificateSpace"))
    s.certificateSpace = static_cast<std::size_t>(Integer(j, root, "certificateSpace", 0, 1 << 24));

  s.mf = NodeFromJson(Member(j, root, "files"), root + "/files");
  if (s.mf->fid != kMasterFile || !s.mf->IsDf())
    Fail(root + "/files", "the root must be the DF 3F00");

  if (j.contains("keys")) {
    const json& keys = j["keys"];
    if (!keys.is_array()) Fail(root + "/keys", "expected an array");
    for (std::size_t i = 0; i < keys.size(); ++i) {
      const std::string w = root + "/keys[" + std::to_string(i) + "]";
      const json& k = keys[i];
      if (!k.is_object()) Fail(w, "expected an object");
      auto ref = static_cast<std::uint8_t>(Integer(k, w, "reference", 0, 255));
      const std::string roleText = String(k, w, "role");
      KeyRole role;
      if (roleText == "exchange")
        role = KeyRole::Exchange;
      else if (roleText == "signature")
        role = KeyRole::Signature;
      else
        Fail(w + "/role", "expected \"exchange\" or \"signature\"");
      StoredKey key;
      for (const auto& p : kParts)
        if (k.contains(p.name)) key.*p.member = ParseHex(w + "/" + p.name, String(k, w, p.name));
      if (!s.keys.emplace(std::make_pair(ref, role), std::move(key)).second)
        Fail(w, "key reference " + std::to_string(ref) + " appears twice in role " + roleText);
    }
  }
  s.currentDf = s.mf.get();
  return card;
}

std::shared_ptr<VirtualCard> VirtualCard::LoadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw CardImageError("cardsim: card image: cannot read " + path.string());
  std::ostringstream text;
  text << in.rdbuf();
  try {
    return FromJson(text.str());
  } catch (const CardImageError& e) {
    throw CardImageError(std::string(e.what()) + " (in " + path.string() + ")");
  }
}

void VirtualCard::SaveFile(const std::filesystem::path& path) const {
  const std::string text = ToJson();
  const std::filesystem::path tmp = path.string() + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cardsim: cannot write " + tmp.string());
    out << text;
    out.flush();
    if (!out) throw std::runtime_error("cardsim: cannot write " + tmp.string());
  }
  std::error_code ec;
  std::filesystem::rename(tmp, path, ec);
  if (ec) throw std::runtime_error("cardsim: cannot write " + path.string() + ": " + ec.message());
}

}  // namespace cardsim
