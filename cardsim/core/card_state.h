// Internal: the contents and session state of a virtual card.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "cardsim/virtual_card.h"

namespace cardsim {

enum class NodeKind : std::uint8_t {
  Df,           // dedicated file (MF included)
  Transparent,  // transparent EF, READ / UPDATE BINARY
  KeyFile,      // internal EF holding keys; not readable or writable
};

struct Node {
  std::uint16_t fid = 0;
  NodeKind kind = NodeKind::Transparent;
  Bytes dfName;                 // DFs only
  Bytes data;                   // transparent EFs: the contents (their size is data.size())
  std::size_t keyFileSize = 0;  // key files: the size the FCI reports
  Node* parent = nullptr;
  std::vector<std::unique_ptr<Node>> children;

  bool IsDf() const { return kind == NodeKind::Df; }
  Node* Child(std::uint16_t id) const {
    for (const auto& c : children)
      if (c->fid == id) return c.get();
    return nullptr;
  }
  Node* AddChild(std::unique_ptr<Node> child) {
    child->parent = this;
    children.push_back(std::move(child));
    return children.back().get();
  }
};

struct VirtualCard::State {
  std::array<std::uint8_t, 6> serial{};
  Bytes pin;
  int triesLeft = 3;
  int triesMax = 3;
  std::size_t certificateSpace = 32768;
  std::unique_ptr<Node> mf;
  std::map<std::pair<std::uint8_t, KeyRole>, StoredKey> keys;

  // Session state (not part of an image).
  bool verified = false;
  Node* currentDf = nullptr;
  Node* currentEf = nullptr;
  Bytes pendingResponse;
  bool hasPendingResponse = false;
  // The keys MANAGE SECURITY ENVIRONMENT chose since the last reset.
  std::optional<std::uint8_t> signatureKey;
  std::optional<std::uint8_t> decipherKey;
  std::size_t commandCount = 0;
};

// Helpers shared by the card and its image code.
// The bytes of a 16-bit value (identifiers, sizes, status words), high first.
inline std::uint8_t HighByte(std::size_t value) { return static_cast<std::uint8_t>(value >> 8); }
inline std::uint8_t LowByte(std::size_t value) { return static_cast<std::uint8_t>(value & 0xFF); }
Node* FindPath(Node* mf, const std::vector<std::uint16_t>& path);
bool IsSystemFile(const Node& node);
std::size_t CertificateSpaceUsed(const Node& mf);
std::unique_ptr<Node> MakeDf(std::uint16_t fid, const std::string& name);
std::unique_ptr<Node> MakeDf(std::uint16_t fid, Bytes name);
std::unique_ptr<Node> MakeEf(std::uint16_t fid, std::size_t size);
std::unique_ptr<Node> MakeKeyFile(std::uint16_t fid, std::size_t size);

// The RSA private-key operation on a big-endian input below the modulus, with
// the key's CRT parts; nullopt for an incomplete key or an input not below
// the modulus. The result has the modulus' length.
std::optional<Bytes> PrivateKeyOperation(const StoredKey& key, std::span<const std::uint8_t> input);

// The 12-byte PKCS#15 application identifier A0 00 00 00 63 "PKCS-15".
const Bytes& Pkcs15Aid();

}  // namespace cardsim
