// The module's view of the resource manager: one slot per reader (at most
// kMaxSlots, kept for the life of the module so that slot identifiers stay
// put), the connection to the card in each reader, and the token read from it.
// Not locked: the module calls it under its one lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "card/crypto_card.h"
#include "common/non_copyable.h"
#include "object_attributes.h"
#include "token_contents.h"

namespace orvel_p11 {

inline constexpr std::size_t kMaxSlots = 16;

// A token as read from one card: its objects and their handles.
struct Token {
  ChipInfo chipInfo{};
  std::vector<TokenObject> objects;
  CK_OBJECT_HANDLE firstHandle = 0;  // objects[i] has firstHandle + i
};

struct Slot {
  std::string reader;
  bool readerPresent = false;
  bool cardPresent = false;  // a card the card database knows as the card
  DWORD eventCount = 0;      // the reader's event counter when last looked at
  // The connection, while a token is in use; dropped when the card goes.
  SCARDHANDLE handle = 0;
  std::unique_ptr<CCryptoCard> card;
  std::shared_ptr<const Token> token;
  PinState pin;
  int mostTriesSeen = 0;
  bool loggedIn = false;
  // Changes whenever the card is let go: sessions opened before are gone.
  std::uint64_t generation = 1;
};

class SlotTable : private NonCopyable {
 public:
  SlotTable() = default;
  ~SlotTable();

  // Opens the resource manager; false when it cannot be reached.
  bool Open();
  // Disconnects every card (resetting those logged in) and closes the
  // resource manager.
  void Close();

  // Looks at the readers and their cards now; slots whose card went or
  // changed are let go.
  void Refresh();
  std::size_t Count() const { return m_slots.size(); }
  Slot* Find(CK_SLOT_ID id) { return id < m_slots.size() ? &m_slots[id] : nullptr; }

  // The token of the slot, connected and read (once per card); with
  // checkIdentity the chip information is asked afresh and a different card
  // (or none) is read anew. CKR_OK, CKR_TOKEN_NOT_PRESENT, CKR_DEVICE_REMOVED
  // or CKR_DEVICE_ERROR.
  CK_RV Ensure(CK_SLOT_ID id, bool checkIdentity);
  // Lets the card of the slot go: the token, the login and the connection
  // (reset when logged in).
  void Release(Slot& slot);
  // Ends the verified state: the card is reset.
  CK_RV Logout(Slot& slot);

  // Changes reported by Refresh since the last call, for C_WaitForSlotEvent.
  bool TakeEvent(CK_SLOT_ID* id);

 private:
  CK_RV Connect(Slot& slot);
  CK_RV ReadToken(Slot& slot);

  SCARDCONTEXT m_context = 0;
  bool m_open = false;
  std::vector<Slot> m_slots;
  std::vector<bool> m_pendingEvents;
  CK_OBJECT_HANDLE m_nextHandle = 1;
};

}  // namespace orvel_p11
