// The virtual Orvel card: command interpreter, file system and key store.
// The command set with its status words is documented in cardsim/README.md.
#include "cardsim/virtual_card.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "card_state.h"

namespace cardsim {

namespace {

constexpr std::uint16_t kSwOk = 0x9000;
constexpr std::uint16_t kSwWrongLength = 0x6700;
constexpr std::uint16_t kSwIncompatibleStructure = 0x6981;
constexpr std::uint16_t kSwSecurityNotSatisfied = 0x6982;
constexpr std::uint16_t kSwPinBlocked = 0x6983;
constexpr std::uint16_t kSwConditionsNotSatisfied = 0x6985;
constexpr std::uint16_t kSwNoCurrentEf = 0x6986;
constexpr std::uint16_t kSwWrongData = 0x6A80;
constexpr std::uint16_t kSwFileNotFound = 0x6A82;
constexpr std::uint16_t kSwNotEnoughMemory = 0x6A84;
constexpr std::uint16_t kSwIncorrectP1P2 = 0x6A86;
constexpr std::uint16_t kSwReferenceNotFound = 0x6A88;
constexpr std::uint16_t kSwFileExists = 0x6A89;
constexpr std::uint16_t kSwWrongP1P2 = 0x6B00;
constexpr std::uint16_t kSwInsNotSupported = 0x6D00;
constexpr std::uint16_t kSwClaNotSupported = 0x6E00;

constexpr std::size_t kKeyFileSize = 0x0418;
constexpr std::size_t kModulusSize =
    128;  // 1024-bit keys  // the path length the key records carry

Bytes Sw(std::uint16_t sw) { return {HighByte(sw), LowByte(sw)}; }

// Answers are built with room for their status word, so that appending it
// does not move them: the emulator runs under the fuzzers for every command.
Bytes DataSw(Bytes data, std::uint16_t sw) {
  data.push_back(HighByte(sw));
  data.push_back(LowByte(sw));
  return data;
}

Bytes DataSw(std::span<const std::uint8_t> data, std::uint16_t sw) {
  Bytes out;
  out.reserve(data.size() + 2);
  out.assign(data.begin(), data.end());
  return DataSw(std::move(out), sw);
}

Bytes NameBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Bytes 0..9 and 16..17 of the chip information: fixed, none of them zero.
constexpr std::array<std::uint8_t, 10> kChipInfoHead = {0x4F, 0x52, 0x56, 0x01, 0x02,
                                                        0x10, 0x13, 0x07, 0x91, 0x0A};
constexpr std::array<std::uint8_t, 2> kChipInfoTail = {0x5A, 0xA5};

// The 18 bytes of chip information of a card with that serial.
Bytes ChipInfoOf(const std::array<std::uint8_t, 6>& serial) {
  Bytes info(kChipInfoHead.begin(), kChipInfoHead.end());
  info.insert(info.end(), serial.begin(), serial.end());
  info.insert(info.end(), kChipInfoTail.begin(), kChipInfoTail.end());
  return info;
}

// File control information of a file, as GET RESPONSE gives it after a SELECT.
Bytes Fci(const Node& n) {
  Bytes fci;
  fci.reserve(16 + n.dfName.size());  // the template, its status word when sent
  fci = {0x6F, 0x00, 0x83, 0x02, HighByte(n.fid), LowByte(n.fid)};
  if (n.IsDf()) {
    fci.insert(fci.end(), {0x82, 0x01, 0x38});
    fci.push_back(0x84);
    fci.push_back(static_cast<std::uint8_t>(n.dfName.size()));
    fci.insert(fci.end(), n.dfName.begin(), n.dfName.end());
  } else {
    std::size_t size = n.kind == NodeKind::KeyFile ? n.keyFileSize : n.data.size();
    fci.insert(fci.end(), {0x80, 0x02, HighByte(size), LowByte(size)});
    // File descriptor byte: 01 working transparent EF, 09 internal EF.
    fci.insert(fci.end(),
               {0x82, 0x01, n.kind == NodeKind::KeyFile ? std::uint8_t{0x09} : std::uint8_t{0x01}});
  }
  fci[1] = static_cast<std::uint8_t>(fci.size() - 2);
  return fci;
}

Bytes OdfEntry(std::uint8_t tag, std::uint16_t fid) {
  return {tag, 0x06, 0x30, 0x04, 0x04, 0x02, HighByte(fid), LowByte(fid)};
}

struct Apdu {
  std::uint8_t cla = 0, ins = 0, p1 = 0, p2 = 0, p3 = 0;
  bool hasP3 = false;  // 5 or more bytes
  // Bytes after P3, in the caller's command (not copied: they may be a PIN
  // or key material).
  std::span<const std::uint8_t> data;
};

class Interpreter {
 public:
  explicit Interpreter(VirtualCard::State& s) : m_s(s) {}

  Bytes Run(std::span<const std::uint8_t> raw) {
    if (raw.size() < 4) return Sw(kSwWrongLength);
    Apdu a;
    a.cla = raw[0];
    a.ins = raw[1];
    a.p1 = raw[2];
    a.p2 = raw[3];
    if (raw.size() >= 5) {
      a.hasP3 = true;
      a.p3 = raw[4];
      a.data = raw.subspan(5);
    }
    const bool getResponse = a.cla == 0x00 && a.ins == 0xC0;
    if (!getResponse) {
      m_s.hasPendingResponse = false;
      m_s.pendingResponse.clear();
    }
    using Handler = Bytes (Interpreter::*)(const Apdu&);
    static constexpr struct {
      std::uint8_t cla, ins;
      Handler handler;
    } kCommands[] = {
        {0x00, 0xA4, &Interpreter::Select},
        {0x00, 0xC0, &Interpreter::GetResponse},
        {0x00, 0xB0, &Interpreter::ReadBinary},
        {0x00, 0xD6, &Interpreter::UpdateBinary},
        {0x00, 0x20, &Interpreter::Verify},
        {0x00, 0x22, &Interpreter::ManageSecurityEnvironment},
        {0x00, 0x2A, &Interpreter::PerformSecurityOperation},
        {0x90, 0xB8, &Interpreter::GetChipInfo},
        {0x90, 0x50, &Interpreter::WriteKeyPublic},
        {0x90, 0x52, &Interpreter::WriteKeyPrivate},
        {0x90, 0x54, &Interpreter::EraseKey},
        {0x80, 0xE0, &Interpreter::CreateFile},
        {0x80, 0xE4, &Interpreter::DeleteFile},
    };
    const auto command = std::ranges::find_if(
        kCommands, [&a](const auto& c) { return c.cla == a.cla && c.ins == a.ins; });
    if (command == std::end(kCommands)) {
      const bool knownClass =
          std::ranges::any_of(kCommands, [&a](const auto& c) { return c.cla == a.cla; });
      return Sw(knownClass ? kSwInsNotSupported : kSwClaNotSupported);
    }
    // Under T=0 P3 counts the data bytes that follow; a mismatch is a wrong length.
    if (!a.data.empty() && a.data.size() != a.p3) return Sw(kSwWrongLength);
    return (this->*command->handler)(a);
  }

 private:
  // Commands that carry data must carry at least one byte.
  static bool HasData(const Apdu& a) { return !a.data.empty(); }
  // Commands that expect no data (P3 is Le, or Lc = 0).
  static bool NoData(const Apdu& a) { return a.data.empty(); }

  // 61xx: the response waits for GET RESPONSE.
  Bytes Pending(Bytes response) {
    m_s.pendingResponse = std::move(response);
    m_s.hasPendingResponse = true;
    return Sw(static_cast<std::uint16_t>(0x6100 | (m_s.pendingResponse.size() & 0xFF)));
  }

  Bytes Answer(const Node& selected, std::uint8_t p2) {
    if (p2 == 0x0C) return Sw(kSwOk);  // no FCI wanted
    return Pending(Fci(selected));
  }

  Bytes Select(const Apdu& a) {
    if (a.p2 != 0x00 && a.p2 != 0x0C) return Sw(kSwIncorrectP1P2);
    Node* mf = m_s.mf.get();
    if (a.p1 == 0x04) {
      if (!HasData(a)) return Sw(kSwWrongLength);
      Node* found = nullptr;
      if (std::ranges::equal(mf->dfName, a.data)) {
        found = mf;
      } else {
        auto search = [&](Node* df) -> Node* {
          if (!df) return nullptr;
          if (std::ranges::equal(df->dfName, a.data)) return df;
          for (const auto& c : df->children)
            if (c->IsDf() && std::ranges::equal(c->dfName, a.data)) return c.get();
          return nullptr;
        };
        found = search(mf);
        if (!found && m_s.currentDf != mf) found = search(m_s.currentDf);
      }
      if (!found) return Sw(kSwFileNotFound);
      m_s.currentDf = found;
      m_s.currentEf = nullptr;
      return Answer(*found, a.p2);
    }
    if (a.p1 == 0x00) {
      if (a.data.size() != 2) return Sw(kSwWrongLength);
      const std::uint16_t fid = static_cast<std::uint16_t>(a.data[0] << 8 | a.data[1]);
      Node* cur = m_s.currentDf;
      Node* found = nullptr;
      if (fid == kMasterFile) found = mf;
      if (!found) found = cur->Child(fid);
      if (!found && cur->fid == fid) found = cur;
      if (!found && cur->parent && cur->parent->fid == fid) found = cur->parent;
      if (!found) return Sw(kSwFileNotFound);
      if (found->IsDf()) {
        m_s.currentDf = found;
        m_s.currentEf = nullptr;
      } else {
        m_s.currentEf = found;
      }
      return Answer(*found, a.p2);
    }
    return Sw(kSwIncorrectP1P2);
  }

  Bytes GetResponse(const Apdu& a) {
    if (a.p1 != 0 || a.p2 != 0) return Sw(kSwIncorrectP1P2);
    if (!NoData(a)) return Sw(kSwWrongLength);
    if (!m_s.hasPendingResponse) return Sw(kSwConditionsNotSatisfied);
    const std::size_t le = a.p3 == 0 ? 256 : a.p3;
    const std::size_t avail = m_s.pendingResponse.size();
    if (le != avail) return Sw(static_cast<std::uint16_t>(0x6C00 | (avail & 0xFF)));
    Bytes out = std::move(m_s.pendingResponse);
    m_s.pendingResponse.clear();
    m_s.hasPendingResponse = false;
    return DataSw(std::move(out), kSwOk);
  }

  Bytes ReadBinary(const Apdu& a) {
    if (a.p1 & 0x80) return Sw(kSwIncorrectP1P2);  // short EF identifiers: not supported
    if (!NoData(a)) return Sw(kSwWrongLength);
    if (!m_s.currentEf) return Sw(kSwNoCurrentEf);
    if (m_s.currentEf->kind != NodeKind::Transparent) return Sw(kSwIncompatibleStructure);
    const Bytes& d = m_s.currentEf->data;
    const std::size_t offset = static_cast<std::size_t>(a.p1) << 8 | a.p2;
    const std::size_t le = a.p3 == 0 ? 256 : a.p3;
    if (offset >= d.size()) return Sw(kSwWrongP1P2);
    const std::size_t avail = d.size() - offset;
    if (le > avail) return Sw(static_cast<std::uint16_t>(0x6C00 | (avail & 0xFF)));
    return DataSw(std::span<const std::uint8_t>(d).subspan(offset, le), kSwOk);
  }

  Bytes UpdateBinary(const Apdu& a) {
    if (a.p1 & 0x80) return Sw(kSwIncorrectP1P2);
    if (!HasData(a)) return Sw(kSwWrongLength);
    if (!m_s.currentEf) return Sw(kSwNoCurrentEf);
    if (m_s.currentEf->kind != NodeKind::Transparent) return Sw(kSwIncompatibleStructure);
    if (!m_s.verified) return Sw(kSwSecurityNotSatisfied);
    Bytes& d = m_s.currentEf->data;
    const std::size_t offset = static_cast<std::size_t>(a.p1) << 8 | a.p2;
    if (offset >= d.size()) return Sw(kSwWrongP1P2);
    if (offset + a.data.size() > d.size()) return Sw(kSwNotEnoughMemory);
    std::copy(a.data.begin(), a.data.end(), d.begin() + static_cast<std::ptrdiff_t>(offset));
    return Sw(kSwOk);
  }

  bool InCryptoDf() const {
    const Node* df = m_s.currentDf;
    return df && df->fid == kCryptoDf && df->parent == m_s.mf.get();
  }

  Bytes Verify(const Apdu& a) {
    if (a.p1 != 0x00 || a.p2 != 0x00) return Sw(kSwIncorrectP1P2);
    // Five bytes with P3 > 0 announce data that is missing.
    if (a.hasP3 && a.data.empty() && a.p3 != 0) return Sw(kSwWrongLength);
    if (!InCryptoDf()) return Sw(kSwConditionsNotSatisfied);
    if (m_s.triesLeft <= 0) return Sw(kSwPinBlocked);
    if (a.data.empty()) {  // report the counter, verify nothing
      if (m_s.verified) return Sw(kSwOk);
      return Sw(static_cast<std::uint16_t>(0x63C0 | (m_s.triesLeft & 0x0F)));
    }
    if (std::ranges::equal(a.data, m_s.pin)) {
      m_s.triesLeft = m_s.triesMax;
      m_s.verified = true;
      return Sw(kSwOk);
    }
    m_s.verified = false;
    --m_s.triesLeft;
    if (m_s.triesLeft <= 0) {
      m_s.triesLeft = 0;
      return Sw(kSwPinBlocked);
    }
    return Sw(static_cast<std::uint16_t>(0x63C0 | (m_s.triesLeft & 0x0F)));
  }

  Bytes GetChipInfo(const Apdu& a) {
    if (a.p1 != 0 || a.p2 != 0) return Sw(kSwIncorrectP1P2);
    if (!NoData(a)) return Sw(kSwWrongLength);
    if (a.p3 != 0x12) return Sw(0x6C12);
    return DataSw(ChipInfoOf(m_s.serial), kSwOk);
  }

  static bool ValidRole(std::uint8_t p1) { return p1 == 0x40 || p1 == 0x80; }

  Bytes WriteKeyPublic(const Apdu& a) {
    if (!ValidRole(a.p1)) return Sw(kSwIncorrectP1P2);
    if (!HasData(a)) return Sw(kSwWrongLength);
    if (!m_s.verified) return Sw(kSwSecurityNotSatisfied);
    const std::span<const std::uint8_t> d = a.data;
    if (d.size() < 2 || d[1] != d.size() - 2) return Sw(kSwWrongData);
    Bytes StoredKey::*part = nullptr;
    if (d[0] == 0x14 && d[1] == 0x80)
      part = &StoredKey::modulus;
    else if (d[0] == 0x12 && d[1] == 0x03)
      part = &StoredKey::exponent;
    else
      return Sw(kSwWrongData);
    StoredKey& key = m_s.keys[{a.p2, static_cast<KeyRole>(a.p1)}];
    key.*part = Bytes(d.begin() + 2, d.end());
    return Sw(kSwOk);
  }

  Bytes WriteKeyPrivate(const Apdu& a) {
    if (!ValidRole(a.p1)) return Sw(kSwIncorrectP1P2);
    if (a.data.size() != 0x42) return Sw(kSwWrongLength);
    if (!m_s.verified) return Sw(kSwSecurityNotSatisfied);
    const std::span<const std::uint8_t> d = a.data;
    if (d[1] != 0x40) return Sw(kSwWrongData);
    // The part each tag carries.
    static constexpr std::pair<std::uint8_t, Bytes StoredKey::*> kParts[] = {
        {0x02, &StoredKey::prime1},
        {0x04, &StoredKey::prime2},
        {0x06, &StoredKey::coefficient},
        {0x08, &StoredKey::exponent1},
        {0x0A, &StoredKey::exponent2}};
    const auto found =
        std::ranges::find(kParts, d[0], &std::pair<std::uint8_t, Bytes StoredKey::*>::first);
    if (found == std::end(kParts)) return Sw(kSwWrongData);
    Bytes StoredKey::*part = found->second;
    StoredKey& key = m_s.keys[{a.p2, static_cast<KeyRole>(a.p1)}];
    key.*part = Bytes(d.begin() + 2, d.end());
    return Sw(kSwOk);
  }

  Bytes EraseKey(const Apdu& a) {
    if (a.p1 != 0x40) return Sw(kSwIncorrectP1P2);
    if (!NoData(a) || a.p3 != 0) return Sw(kSwWrongLength);
    if (!m_s.verified) return Sw(kSwSecurityNotSatisfied);
    m_s.keys.erase({a.p2, KeyRole::Exchange});
    m_s.keys.erase({a.p2, KeyRole::Signature});
    return Sw(kSwOk);
  }

  // The 1024-bit key of that role under reference, when every part is there.
  const StoredKey* CompleteKey(std::uint8_t reference, KeyRole role) const {
    const auto it = m_s.keys.find({reference, role});
    if (it == m_s.keys.end() || !it->second.Complete() || it->second.modulus.size() != kModulusSize)
      return nullptr;
    return &it->second;
  }

  // SET for a signature (B6) or for deciphering (B8): 84 01 rr chooses the
  // key of that role under rr.
  Bytes ManageSecurityEnvironment(const Apdu& a) {
    if (a.p1 != 0x41 || (a.p2 != 0xB6 && a.p2 != 0xB8)) return Sw(kSwIncorrectP1P2);
    if (!HasData(a)) return Sw(kSwWrongLength);
    if (a.data.size() != 3 || a.data[0] != 0x84 || a.data[1] != 0x01) return Sw(kSwWrongData);
    const bool signature = a.p2 == 0xB6;
    const std::uint8_t reference = a.data[2];
    if (!CompleteKey(reference, signature ? KeyRole::Signature : KeyRole::Exchange))
      return Sw(kSwReferenceNotFound);
    (signature ? m_s.signatureKey : m_s.decipherKey) = reference;
    return Sw(kSwOk);
  }

  // COMPUTE DIGITAL SIGNATURE (9E 9A) over a DigestInfo padded with PKCS#1
  // v1.5 type 1, or DECIPHER (80 86) of 00 + a cryptogram with type 2
  // padding; the result waits for GET RESPONSE.
  Bytes PerformSecurityOperation(const Apdu& a) {
    const bool sign = a.p1 == 0x9E && a.p2 == 0x9A;
    const bool decipher = a.p1 == 0x80 && a.p2 == 0x86;
    if (!sign && !decipher) return Sw(kSwIncorrectP1P2);
    if (!m_s.verified) return Sw(kSwSecurityNotSatisfied);
    const std::optional<std::uint8_t>& chosen = sign ? m_s.signatureKey : m_s.decipherKey;
    if (!chosen) return Sw(kSwConditionsNotSatisfied);
    const StoredKey* key = CompleteKey(*chosen, sign ? KeyRole::Signature : KeyRole::Exchange);
    if (!key) return Sw(kSwReferenceNotFound);

    std::optional<Bytes> result;
    if (sign) {
      if (a.data.empty() || a.data.size() > kModulusSize - 11) return Sw(kSwWrongData);
      Bytes block(kModulusSize, 0xFF);
      block[0] = 0x00;
      block[1] = 0x01;
      block[kModulusSize - a.data.size() - 1] = 0x00;
      std::copy(a.data.begin(), a.data.end(),
                block.end() - static_cast<std::ptrdiff_t>(a.data.size()));
      result = PrivateKeyOperation(*key, block);
      if (!result) return Sw(kSwWrongData);
    } else {
      if (a.data.size() != kModulusSize + 1 || a.data[0] != 0x00) return Sw(kSwWrongData);
      const std::optional<Bytes> block = PrivateKeyOperation(*key, a.data.subspan(1));
      // 00 02, at least eight nonzero padding bytes, 00, the plaintext.
      if (!block || (*block)[0] != 0x00 || (*block)[1] != 0x02) return Sw(kSwWrongData);
      const auto separator = std::find(block->begin() + 2, block->end(), std::uint8_t{0});
      if (separator == block->end() || separator - block->begin() < 2 + 8) return Sw(kSwWrongData);
      result = Bytes(separator + 1, block->end());
      if (result->empty()) return Sw(kSwOk);
    }
    return Pending(std::move(*result));
  }

  Bytes CreateFile(const Apdu& a) {
    if (a.p1 != 0 || a.p2 != 0) return Sw(kSwIncorrectP1P2);
    if (a.data.size() != 4) return Sw(kSwWrongLength);
    if (!m_s.verified) return Sw(kSwSecurityNotSatisfied);
    const std::uint16_t fid = static_cast<std::uint16_t>(a.data[0] << 8 | a.data[1]);
    const std::size_t size = static_cast<std::size_t>(a.data[2]) << 8 | a.data[3];
    if (fid == kMasterFile || fid == 0xFFFF || fid == 0x3FFF || size == 0) return Sw(kSwWrongData);
    Node* df = m_s.currentDf;
    if (df->Child(fid) || df->fid == fid || (df->parent && df->parent->fid == fid))
      return Sw(kSwFileExists);
    if (CertificateSpaceUsed(*m_s.mf) + size > m_s.certificateSpace) return Sw(kSwNotEnoughMemory);
    m_s.currentEf = df->AddChild(MakeEf(fid, size));
    return Sw(kSwOk);
  }

  Bytes DeleteFile(const Apdu& a) {
    if (a.p1 != 0 || a.p2 != 0) return Sw(kSwIncorrectP1P2);
    if (a.data.size() != 2) return Sw(kSwWrongLength);
    if (!m_s.verified) return Sw(kSwSecurityNotSatisfied);
    const std::uint16_t fid = static_cast<std::uint16_t>(a.data[0] << 8 | a.data[1]);
    Node* df = m_s.currentDf;
    Node* target = df->Child(fid);
    if (!target) return Sw(kSwFileNotFound);
    if (target->IsDf() || IsSystemFile(*target)) return Sw(kSwConditionsNotSatisfied);
    if (m_s.currentEf == target) m_s.currentEf = nullptr;
    auto& ch = df->children;
    ch.erase(std::remove_if(ch.begin(), ch.end(),
                            [&](const std::unique_ptr<Node>& n) { return n.get() == target; }),
             ch.end());
    return Sw(kSwOk);
  }

  VirtualCard::State& m_s;
};

}  // namespace

// ---------------------------------------------------------------- helpers

const Bytes& Pkcs15Aid() {
  static const Bytes aid = {0xA0, 0x00, 0x00, 0x00, 0x63, 0x50, 0x4B, 0x43, 0x53, 0x2D, 0x31, 0x35};
  return aid;
}

namespace {

std::unique_ptr<Node> MakeNode(std::uint16_t fid, NodeKind kind) {
  auto n = std::make_unique<Node>();
  n->fid = fid;
  n->kind = kind;
  return n;
}

}  // namespace

std::unique_ptr<Node> MakeDf(std::uint16_t fid, const std::string& name) {
  return MakeDf(fid, NameBytes(name));
}

std::unique_ptr<Node> MakeDf(std::uint16_t fid, Bytes name) {
  auto n = MakeNode(fid, NodeKind::Df);
  n->dfName = std::move(name);
  return n;
}

std::unique_ptr<Node> MakeEf(std::uint16_t fid, std::size_t size) {
  auto n = MakeNode(fid, NodeKind::Transparent);
  n->data.assign(size, 0);
  return n;
}

std::unique_ptr<Node> MakeKeyFile(std::uint16_t fid, std::size_t size) {
  auto n = MakeNode(fid, NodeKind::KeyFile);
  n->keyFileSize = size;
  return n;
}

Node* FindPath(Node* mf, const std::vector<std::uint16_t>& path) {
  Node* n = mf;
  std::size_t i = 0;
  if (!path.empty() && path[0] == kMasterFile) i = 1;  // an explicit 3F00 is allowed
  for (; i < path.size(); ++i) {
    if (!n || !n->IsDf()) return nullptr;
    n = n->Child(path[i]);
  }
  return n;
}

bool IsSystemFile(const Node& node) {
  if (node.kind != NodeKind::Transparent) return true;
  const Node* p = node.parent;
  if (p && p->fid == kPkcs15Df && p->parent && !p->parent->parent) {
    switch (node.fid) {
      case kOdf:
      case 0x6000:
      case 0x6001:
      case 0x6002:
      case 0x6004:
      case 0x6005:
        return true;
      default:
        break;
    }
  }
  return false;
}

std::size_t CertificateSpaceUsed(const Node& n) {
  std::size_t total = 0;
  if (n.kind == NodeKind::Transparent && !IsSystemFile(n)) total += n.data.size();
  for (const auto& c : n.children) total += CertificateSpaceUsed(*c);
  return total;
}

// ---------------------------------------------------------------- VirtualCard

VirtualCard::VirtualCard() : m_state(std::make_unique<State>()) {}
VirtualCard::~VirtualCard() = default;

std::shared_ptr<VirtualCard> VirtualCard::MakeFresh(const CardSpec& spec) {
  std::shared_ptr<VirtualCard> card(new VirtualCard());
  State& s = *card->m_state;
  s.serial = spec.serial;
  s.pin = NameBytes(spec.pin);
  s.triesMax = std::clamp(spec.pinTries, 1, 15);
  s.triesLeft = s.triesMax;
  s.certificateSpace = spec.certificateSpace;

  s.mf = MakeDf(kMasterFile, "Master.File");
  Node* crypto = s.mf->AddChild(MakeDf(kCryptoDf, "ICC.Crypto"));
  crypto->AddChild(MakeKeyFile(kPrivateKeyFile, kKeyFileSize));
  crypto->AddChild(MakeKeyFile(kPublicKeyFile, kKeyFileSize));

  Node* p15 = s.mf->AddChild(MakeDf(kPkcs15Df, Pkcs15Aid()));

  // ODF: the five entries the library parses, then FF (end of the object directory).
  Bytes odf;
  for (const Bytes& e : {OdfEntry(0xA0, 0x6001), OdfEntry(0xA1, 0x6002), OdfEntry(0xA4, 0x6004),
                         OdfEntry(0xA7, 0x6005), OdfEntry(0xA8, 0x6000)})
    odf.insert(odf.end(), e.begin(), e.end());
  odf.resize(std::max<std::size_t>(spec.odfSize, 1), 0xFF);
  Node* odfNode = p15->AddChild(MakeEf(kOdf, 0));
  odfNode->data = std::move(odf);
  p15->AddChild(MakeEf(0x6000, spec.aodfSize));
  p15->AddChild(MakeEf(0x6001, spec.prkdfSize));
  p15->AddChild(MakeEf(0x6002, spec.pukdfSize));
  p15->AddChild(MakeEf(0x6004, spec.cdfSize));
  p15->AddChild(MakeEf(0x6005, spec.dodfSize));

  s.currentDf = s.mf.get();
  return card;
}

Bytes VirtualCard::Atr() {
  // TS 3B, T0 08 (no interface bytes: T=0 only, 8 historical bytes), "DRAV-NOR".
  return {0x3B, 0x08, 0x44, 0x52, 0x41, 0x56, 0x2D, 0x4E, 0x4F, 0x52};
}

Bytes VirtualCard::Transmit(std::span<const std::uint8_t> apdu) {
  std::lock_guard lock(m_mutex);
  ++m_state->commandCount;
  Bytes answer = Interpreter(*m_state).Run(apdu);
  if (m_filter) m_filter(apdu, answer);
  return answer;
}

void VirtualCard::SetAnswerFilter(AnswerFilter filter) {
  std::lock_guard lock(m_mutex);
  m_filter = std::move(filter);
}

void VirtualCard::Reset() {
  std::lock_guard lock(m_mutex);
  m_state->verified = false;
  m_state->signatureKey.reset();
  m_state->decipherKey.reset();
  m_state->currentDf = m_state->mf.get();
  m_state->currentEf = nullptr;
  m_state->hasPendingResponse = false;
  m_state->pendingResponse.clear();
}

template <class T>
T VirtualCard::Read(T State::*member) const {
  std::lock_guard lock(m_mutex);
  return (*m_state).*member;
}

std::array<std::uint8_t, 6> VirtualCard::Serial() const { return Read(&State::serial); }

Bytes VirtualCard::ChipInfo() const {
  std::lock_guard lock(m_mutex);
  return ChipInfoOf(m_state->serial);
}

std::optional<Bytes> VirtualCard::ReadFile(const std::vector<std::uint16_t>& path) const {
  std::lock_guard lock(m_mutex);
  const Node* n = FindPath(m_state->mf.get(), path);
  if (!n || n->kind != NodeKind::Transparent) return std::nullopt;
  return n->data;
}

bool VirtualCard::WriteFile(const std::vector<std::uint16_t>& path, const Bytes& data) {
  std::lock_guard lock(m_mutex);
  Node* n = FindPath(m_state->mf.get(), path);
  if (!n || n->kind != NodeKind::Transparent || data.size() > n->data.size()) return false;
  std::copy(data.begin(), data.end(), n->data.begin());
  return true;
}

bool VirtualCard::CreateFile(const std::vector<std::uint16_t>& dfPath, std::uint16_t fid,
                             std::size_t size) {
  std::lock_guard lock(m_mutex);
  Node* df = FindPath(m_state->mf.get(), dfPath);
  if (!df || !df->IsDf() || df->Child(fid) || fid == kMasterFile) return false;
  df->AddChild(MakeEf(fid, size));
  return true;
}

std::vector<std::uint16_t> VirtualCard::ListFiles(const std::vector<std::uint16_t>& dfPath) const {
  std::lock_guard lock(m_mutex);
  std::vector<std::uint16_t> out;
  const Node* df = FindPath(m_state->mf.get(), dfPath);
  if (!df || !df->IsDf()) return out;
  for (const auto& c : df->children) out.push_back(c->fid);
  return out;
}

std::optional<StoredKey> VirtualCard::Key(std::uint8_t reference, KeyRole role) const {
  std::lock_guard lock(m_mutex);
  auto it = m_state->keys.find({reference, role});
  if (it == m_state->keys.end()) return std::nullopt;
  return it->second;
}

void VirtualCard::PutKey(std::uint8_t reference, KeyRole role, StoredKey key) {
  std::lock_guard lock(m_mutex);
  m_state->keys[{reference, role}] = std::move(key);
}

std::map<std::pair<std::uint8_t, KeyRole>, StoredKey> VirtualCard::Keys() const {
  return Read(&State::keys);
}

int VirtualCard::PinTriesLeft() const { return Read(&State::triesLeft); }

bool VirtualCard::PinVerified() const { return Read(&State::verified); }

std::size_t VirtualCard::CommandCount() const { return Read(&State::commandCount); }

}  // namespace cardsim
