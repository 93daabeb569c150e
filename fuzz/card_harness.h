// A virtual card in a fake reader, built from a fuzzer's input: the files of
// the card and, per command, how the transport answers it (normally, a
// transport error, the card pulled or reset, a chosen status word or an
// answer of chosen bytes). Everything is reset for each input.
//
// Input layout read by ReadCardInput, after the target's own fields:
//   fault count (byte, at most kMaxFaults used), then per fault:
//     command number (word, 1-based modulo kFaultWindow), kind (byte),
//     for kind Status a status word (2 bytes, high first),
//     for kind Answer a length byte and that many answer bytes;
//   then files until the end of the input, each:
//     place (byte: application DF, 3F11, master file), file identifier
//     (2 bytes, high first), content length (word), content.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "card/crypto_card.h"
#include "cardsim/virtual_card.h"
#include "common/non_copyable.h"
#include "fuzz_input.h"
#include "platform/handle_guards.h"
#include "platform/winscard_ext.h"

namespace orvel_fuzz {

using Bytes = std::vector<std::uint8_t>;

enum class FaultKind : std::uint8_t {
  None,           // the command reaches the card
  NotTransacted,  // SCARD_E_NOT_TRANSACTED
  Removed,        // card pulled before the command: SCARD_W_REMOVED_CARD
  Reset,          // card reset before the command: SCARD_W_RESET_CARD
  NoCard,         // SCARD_E_NO_SMARTCARD
  Status,         // answered with a status word only, card not asked
  Answer,         // answered with chosen bytes, card not asked
  Count
};

struct TransportFault {
  std::uint16_t command = 1;  // 1-based
  FaultKind kind = FaultKind::None;
  std::uint16_t statusWord = 0x9000;
  Bytes answer;
};

enum class FilePlace : std::uint8_t { Application, CryptoDf, MasterFile, Count };

struct CardFile {
  FilePlace place = FilePlace::Application;
  std::uint16_t id = 0;
  Bytes content;
};

struct CardInput {
  std::vector<TransportFault> faults;
  std::vector<CardFile> files;
};

inline constexpr std::size_t kMaxFaults = 8;
inline constexpr std::size_t kFaultWindow = 512;
inline constexpr std::size_t kMaxFiles = 16;
inline constexpr std::size_t kMaxFileBytes = 8192;

CardInput ReadCardInput(InputReader& in);
// The bytes ReadCardInput reads back as input (for writing seeds).
Bytes EncodeCardInput(const CardInput& input);

// The files of a card as the emulator holds them: the PKCS#15 files, the
// certificate files under 3F11 and whatever else lies in the master file
// (key files 3F77 and 3F78 excepted).
std::vector<CardFile> FilesOfCard(const cardsim::VirtualCard& card);

// One reader holding a card made of the input's files, connected shared
// with T=0, and the input's faults counted from the next command on.
class FuzzCard : private NonCopyable {
 public:
  explicit FuzzCard(const CardInput& input);
  // The card the rest of the input describes (ReadCardInput).
  explicit FuzzCard(InputReader& in) : FuzzCard(ReadCardInput(in)) {}
  ~FuzzCard();

  SCARDHANDLE Handle() const { return m_handle; }
  bool Connected() const { return m_handle != 0; }
  cardsim::VirtualCard& Card() const { return *m_card; }

  static constexpr char kReader[] = "Lector Orvel 0";
  static constexpr char kPin[] = "1234";

 private:
  // Empties the fake resource manager when the card goes, once the context
  // below is released.
  struct FakeReset {
    ~FakeReset();
  } m_fakeReset;
  std::shared_ptr<cardsim::VirtualCard> m_card;
  CResourceManagerContext m_context;
  SCARDHANDLE m_handle = 0;
};

// The card library's object on the card the rest of the input describes,
// handed to use(CCryptoCard&) when the reader connects.
template <typename Use>
void WithInputCard(InputReader& in, Use&& use) {
  FuzzCard fake(in);
  if (!fake.Connected()) return;
  CCryptoCard card(fake.Handle());
  use(card);
}

// Once per process: a private user directory (ORVEL_USER_DIR) and the
// module instance, as the libraries expect of their program.
void PrepareProcess();
// That user directory.
const std::filesystem::path& UserDir();

}  // namespace orvel_fuzz
