// The certificates last read from the card in one reader, kept for the life
// of the module so that opening the personal store again does not read the
// card again.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "card/card_types.h"
#include "common/non_copyable.h"
#include "platform/wincrypt.h"

class CCryptoCard;

// Key-container names as the card names them are at most this long,
// terminator included.
inline constexpr std::size_t kContainerNameSize = 128;
// Capacity offered for one certificate read from the card.
inline constexpr DWORD kCertificateBufferSize = 2048;

// One certificate read from the card.
struct CardCertEntry {
  std::unique_ptr<CardCertEntry> next;
  std::unique_ptr<BYTE[]> certificate;  // DER bytes
  DWORD certificateLength = 0;
  char containerName[kContainerNameSize] = {};  // empty: no key on the card
  WORD keyUsage = 0;                            // the private-key record's usage, high byte first
};

class CCardCertCache : private NonCopyable {
 public:
  explicit CCardCertCache(const ChipInfo& cardIdentifier);
  virtual ~CCardCertCache();

  // True when other is a record of the same card (same chip information).
  bool SameCard(const CCardCertCache* other) const;
  // Reads every certificate of the card, unless the list already holds some.
  void ReadFromCard(CCryptoCard& card);
  // Adds the cached certificates to the store, with key-provider information
  // naming the card's provider for those that have a key on the card.
  void AddToStore(HCERTSTORE store) const;
  void Clear();

  bool Empty() const { return m_entries == nullptr; }
  // False when the last read ended on a failed exchange with the card
  // (pulled out, reset, transport error) rather than at the end of its
  // certificate directory: the list may lack certificates.
  bool Complete() const { return m_complete; }
  const CardCertEntry* Entries() const { return m_entries.get(); }
  const ChipInfo& CardIdentifier() const { return m_cardIdentifier; }

 private:
  void Append(std::unique_ptr<CardCertEntry> entry);

  ChipInfo m_cardIdentifier;
  std::unique_ptr<CardCertEntry> m_entries;
  bool m_complete = true;
};

// The key specification the card's key roles give: AT_SIGNATURE for the
// signature role alone, AT_KEYEXCHANGE for the exchange role alone, both
// bits for both, 0 for neither.
DWORD KeySpecFromUsage(WORD keyUsage);
