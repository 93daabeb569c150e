// The virtual Orvel card: an ISO 7816-4 card over T=0 with the card's own
// class-0x90 commands, a PKCS#15 application and key storage. Thread-safe:
// every public member takes the card's lock, so a vpcd thread and a test
// may use one card at once.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/non_copyable.h"

namespace cardsim {

using Bytes = std::vector<std::uint8_t>;

// What a fresh card is made from.
struct CardSpec {
  std::array<std::uint8_t, 6> serial{};  // bytes 10..15 of the chip information
  std::string pin = "1234";
  int pinTries = 3;  // retry counter when fresh
  // Sizes of the PKCS#15 files (zero-filled when fresh).
  std::size_t odfSize = 64;
  std::size_t prkdfSize = 1024;  // 6001
  std::size_t pukdfSize = 1024;  // 6002
  std::size_t cdfSize = 1024;    // 6004
  std::size_t aodfSize = 256;    // 6000
  std::size_t dodfSize = 256;    // 6005
  // Room for the transparent files made with CREATE FILE (certificate files):
  // the sizes of every transparent file outside the fresh card's own files
  // may add up to at most this many bytes (CREATE FILE answers 6A84 beyond).
  std::size_t certificateSpace = 32768;
};

// Thrown by FromJson / LoadFile for an image that is not valid JSON or does
// not describe a card; what() names the problem ("cardsim: card image: ...").
class CardImageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class KeyRole : std::uint8_t { Exchange = 0x40, Signature = 0x80 };

// One key as the key commands carried it: every part big-endian, exactly the
// bytes sent (the public exponent as its three bytes, least significant first,
// exactly as WRITE KEY PUBLIC PART carries it).
struct StoredKey {
  Bytes modulus;            // tag 14
  Bytes exponent;           // tag 12, as sent
  Bytes prime1, prime2;     // tags 02, 04
  Bytes coefficient;        // tag 06
  Bytes exponent1;          // tag 08
  Bytes exponent2;          // tag 0A
  bool Complete() const;    // every part present
  bool Consistent() const;  // complete and prime1 * prime2 == modulus
};

class VirtualCard : private NonCopyable {
 public:
  static std::shared_ptr<VirtualCard> MakeFresh(const CardSpec& spec);
  static std::shared_ptr<VirtualCard> FromJson(const std::string& json);
  static std::shared_ptr<VirtualCard> LoadFile(const std::filesystem::path& path);
  std::string ToJson() const;
  void SaveFile(const std::filesystem::path& path) const;

  // The card's ATR (T=0 only).
  static Bytes Atr();

  // One command APDU in, the full answer (data, SW1, SW2) out, as a T=0 card
  // answers at the transport level (61xx and 6Cxx are not resolved here).
  // The command is read in place, never copied.
  Bytes Transmit(std::span<const std::uint8_t> apdu);
  Bytes Transmit(const Bytes& apdu) { return Transmit(std::span<const std::uint8_t>(apdu)); }

  // A worn card: filter sees every answer before it leaves the card and may
  // change it (an empty filter ends that). It runs under the card's lock and
  // must not use the card.
  using AnswerFilter = std::function<void(std::span<const std::uint8_t> command, Bytes& answer)>;
  void SetAnswerFilter(AnswerFilter filter);

  // Power down or warm reset: the verified PIN state and the current file end.
  void Reset();

  // Inspection and preparation, bypassing access rules.
  std::array<std::uint8_t, 6> Serial() const;
  Bytes ChipInfo() const;  // the 18 bytes GET CHIP INFO answers
  // Contents of a transparent file reached by identifiers from the master
  // file down, e.g. {0x3F11, 0x3F77}; the application DF is 5015.
  std::optional<Bytes> ReadFile(const std::vector<std::uint16_t>& path) const;
  // Overwrite from offset 0 (never grows the file); false if absent or too long.
  bool WriteFile(const std::vector<std::uint16_t>& path, const Bytes& data);
  // Create a transparent file of that size (zero-filled) under a DF path.
  bool CreateFile(const std::vector<std::uint16_t>& dfPath, std::uint16_t fid, std::size_t size);
  // Identifiers of the files directly under a DF.
  std::vector<std::uint16_t> ListFiles(const std::vector<std::uint16_t>& dfPath) const;
  std::optional<StoredKey> Key(std::uint8_t reference, KeyRole role) const;
  // Stores a key as the key commands would have written it.
  void PutKey(std::uint8_t reference, KeyRole role, StoredKey key);
  std::map<std::pair<std::uint8_t, KeyRole>, StoredKey> Keys() const;
  int PinTriesLeft() const;
  bool PinVerified() const;
  std::size_t CommandCount() const;  // APDUs processed since creation

  ~VirtualCard();

  struct State;  // the card's contents and session state

 private:
  VirtualCard();
  // A member of the state, read under the card's lock.
  template <class T>
  T Read(T State::*member) const;

  mutable std::mutex m_mutex;
  std::unique_ptr<State> m_state;
  AnswerFilter m_filter;
};

// Fixed identifiers of the card's file system.
inline constexpr std::uint16_t kMasterFile = 0x3F00;
inline constexpr std::uint16_t kCryptoDf = 0x3F11;
inline constexpr std::uint16_t kPrivateKeyFile = 0x3F77;
inline constexpr std::uint16_t kPublicKeyFile = 0x3F78;
inline constexpr std::uint16_t kPkcs15Df = 0x5015;
inline constexpr std::uint16_t kOdf = 0x5031;

}  // namespace cardsim
