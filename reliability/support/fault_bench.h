// A bench for breaking one card command of a whole import: a private user
// directory with the card's provider and card type registered, one reader of
// the fake resource manager holding a fresh virtual card, one PFX (a 1024-bit
// key in both roles and its certificate), the faults the fake library can
// inject, and what an import may leave on the card.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cardsim/virtual_card.h"
#include "common/non_copyable.h"
#include "orvel_test/import_card.h"
#include "platform_test/scoped_user_dir.h"

namespace reliability {

using Bytes = std::vector<std::uint8_t>;

inline constexpr char kPfxPassword[] = "secreto";
inline constexpr std::uint8_t kFirstReference = 0x20;
inline constexpr std::uint16_t kRoleWord = 0x6400;  // digital signature and key encipherment

enum class CardFault { TransportError, CardRemoved, CardReset, Status6A80 };
inline constexpr CardFault kAllFaults[] = {CardFault::TransportError, CardFault::CardRemoved,
                                           CardFault::CardReset, CardFault::Status6A80};
const char* FaultName(CardFault fault);
// Arms the fault at command number `command` (1-based) of what follows.
void InjectFault(std::size_t command, CardFault fault);

// One import of the bench's PFX onto the card, the way a deliverable does it.
struct ImportRun {
  bool succeeded = false;
  std::vector<std::string> failureMessages;  // what the user was told went wrong
  std::vector<std::string> shown;            // everything shown, in order
};

class CImportPath {
 public:
  virtual ~CImportPath() = default;
  virtual ImportRun Import(const Bytes& pfx) = 0;
  // Whether a failed import leaves the software key container in place.
  virtual bool KeepsSoftwareKeyOnFailure() const = 0;
};

// Defined by each test program: the path it exercises.
const char* ImportPathName();
std::unique_ptr<CImportPath> MakeImportPath();

class CFaultBench : private NonCopyable {
 public:
  CFaultBench();
  ~CFaultBench();

  // The same PFX every time (made once per process).
  static const Bytes& Pfx();

  cardsim::VirtualCard& Card() { return *m_card; }
  // Puts the card back into the reader when a fault took it out.
  void ReinsertCardIfRemoved();

 private:
  platform_test::ScopedUserDir m_userDir;
  std::shared_ptr<cardsim::VirtualCard> m_card;
};

// What the card holds besides a fresh card's contents.
struct CardContents {
  std::size_t keyParts = 0;                  // (reference, role) pairs holding key material
  std::vector<std::uint8_t> privateRecords;  // key references of the PrKDF records, in order
  std::vector<std::uint8_t> publicRecords;   // and of the PuKDF records
  std::vector<std::string> recordProblems;   // records not as this system writes them
  bool cdfEmpty = true;
  std::vector<std::uint16_t> certificateFiles;  // files under 3F11 besides the key files
};
CardContents InspectCard(const cardsim::VirtualCard& card);

// The states an interrupted import may leave.
enum class LeftState {
  NothingNew,             // no key material, no record
  KeyWithoutCertificate,  // the key in both roles under kFirstReference, both records, no
                          // certificate
  Installed,              // all of it, the certificate readable
  // Key material under kFirstReference that no private-key record names,
  // with its public-key record or none: what is left when the card is taken
  // out while the key is being written, before the undo can reach it.
  // Nothing finds such a key; a reference without records is written over by
  // the next installation.
  Unreachable,
  Broken,  // anything else
};
const char* LeftStateName(LeftState state);
// Classifies what the card holds after one import of the bench's PFX on a
// fresh card; *why receives the reason for Broken.
LeftState ClassifyCard(const cardsim::VirtualCard& card, std::string* why);

// Checks, through the card library's certificate reader, that the card holds
// the bench's certificate, named with a key container that the card's
// provider opens with the PFX's key in both roles; and that every key a
// private-key record names is there in both roles with its public-key record.
// With unreachableLeftover, key material and public-key records that no
// private-key record names may be there besides.
void ExpectCertificateInstalled(const cardsim::VirtualCard& card, bool unreachableLeftover);

}  // namespace reliability
