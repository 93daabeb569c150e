#include "slot_table.h"

#include <algorithm>
#include <cstring>

#include "card/card_connection.h"

namespace orvel_p11 {
namespace {

// GET CHIP INFO sent afresh: the card object keeps the first answer for its
// whole life, and the identity check must ask the card again.
LONG ReadChipInfoAfresh(SCARDHANDLE handle, ChipInfo* chipInfo) {
  static constexpr BYTE kGetChipInfo[] = {0x90, 0xB8, 0x00, 0x00, kChipInfoSize};
  std::array<BYTE, kChipInfoSize + 2> answer{};
  DWORD length = answer.size();
  const LONG result = SCardTransmit(handle, SCARD_PCI_T0, kGetChipInfo, sizeof(kGetChipInfo),
                                    nullptr, answer.data(), &length);
  if (result != SCARD_S_SUCCESS) return result;
  if (length != answer.size() || answer[kChipInfoSize] != 0x90 ||
      answer[kChipInfoSize + 1] != 0x00) {
    return SCARD_F_UNKNOWN_ERROR;
  }
  std::copy_n(answer.begin(), kChipInfoSize, chipInfo->begin());
  return SCARD_S_SUCCESS;
}

}  // namespace

SlotTable::~SlotTable() { Close(); }

bool SlotTable::Open() {
  if (m_open) return true;
  m_open = EstablishCardContext(&m_context);
  return m_open;
}

void SlotTable::Close() {
  for (Slot& slot : m_slots) Release(slot);
  if (m_open) ReleaseCardContext(m_context);
  m_open = false;
  m_context = 0;
}

void SlotTable::Refresh() {
  if (!m_open) return;
  LPSTR readers = nullptr;
  const auto list = [&] {
    DWORD length = SCARD_AUTOALLOCATE;
    const LONG result =
        SCardListReaders(m_context, nullptr, reinterpret_cast<LPSTR>(&readers), &length);
    if (result != SCARD_S_SUCCESS) readers = nullptr;
    return result;
  };
  const LONG listed = list();
  if (listed == SCARD_E_INVALID_HANDLE || listed == SCARD_E_NO_SERVICE ||
      listed == SCARD_E_SERVICE_STOPPED) {
    // The resource manager was restarted: a new context.
    ReleaseCardContext(m_context);
    m_open = EstablishCardContext(&m_context);
    if (m_open) list();
  }
  for (Slot& slot : m_slots) slot.readerPresent = false;
  if (readers != nullptr) {
    for (const char* name = readers; *name != '\0'; name += std::strlen(name) + 1) {
      auto it = std::find_if(m_slots.begin(), m_slots.end(),
                             [&](const Slot& s) { return s.reader == name; });
      if (it == m_slots.end()) {
        if (m_slots.size() >= kMaxSlots) continue;
        m_slots.emplace_back();
        m_slots.back().reader = name;
        m_pendingEvents.push_back(false);
        it = m_slots.end() - 1;
      }
      it->readerPresent = true;
    }
    SCardFreeMemory(m_context, readers);
  }

  std::vector<SCARD_READERSTATEA> states;
  std::vector<std::size_t> slotOf;
  for (std::size_t i = 0; i < m_slots.size(); ++i) {
    if (!m_slots[i].readerPresent) continue;
    SCARD_READERSTATEA state{};
    state.szReader = m_slots[i].reader.c_str();
    states.push_back(state);
    slotOf.push_back(i);
  }
  const bool located =
      !states.empty() && SCardLocateCardsA(m_context, kCardName, states.data(),
                                           static_cast<DWORD>(states.size())) == SCARD_S_SUCCESS;
  std::vector<bool> present(m_slots.size(), false);
  std::vector<DWORD> counts(m_slots.size(), 0);
  if (located) {
    for (std::size_t k = 0; k < states.size(); ++k) {
      const DWORD event = states[k].dwEventState;
      present[slotOf[k]] =
          (event & SCARD_STATE_PRESENT) != 0 && (event & SCARD_STATE_ATRMATCH) != 0;
      counts[slotOf[k]] = event >> 16;
    }
  }
  for (std::size_t i = 0; i < m_slots.size(); ++i) {
    Slot& slot = m_slots[i];
    const bool changed = present[i] != slot.cardPresent || counts[i] != slot.eventCount;
    if (changed) {
      Release(slot);
      m_pendingEvents[i] = true;
    }
    slot.cardPresent = present[i];
    slot.eventCount = counts[i];
  }
}

bool SlotTable::TakeEvent(CK_SLOT_ID* id) {
  for (std::size_t i = 0; i < m_pendingEvents.size(); ++i) {
    if (m_pendingEvents[i]) {
      m_pendingEvents[i] = false;
      *id = i;
      return true;
    }
  }
  return false;
}

void SlotTable::Release(Slot& slot) {
  const bool hadCard = slot.card != nullptr || slot.handle != 0;
  slot.token.reset();
  slot.card.reset();
  if (slot.handle != 0) {
    DisconnectCard(slot.handle, slot.loggedIn ? SCARD_RESET_CARD : SCARD_LEAVE_CARD);
  }
  slot.handle = 0;
  slot.loggedIn = false;
  slot.pin = {};
  if (hadCard) ++slot.generation;
}

CK_RV SlotTable::Logout(Slot& slot) {
  slot.loggedIn = false;
  if (slot.handle == 0) return CKR_OK;
  DWORD protocol = 0;
  const LONG result = SCardReconnect(slot.handle, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0,
                                     SCARD_RESET_CARD, &protocol);
  if (result != SCARD_S_SUCCESS) {
    Release(slot);
    return CardGone(result) ? CKR_DEVICE_REMOVED : CKR_DEVICE_ERROR;
  }
  return CKR_OK;
}

CK_RV SlotTable::Connect(Slot& slot) {
  SCARDHANDLE handle = 0;
  if (!ConnectReader(m_context, slot.reader.c_str(), &handle)) return CKR_TOKEN_NOT_PRESENT;
  slot.handle = handle;
  slot.card = std::make_unique<CCryptoCard>(handle);
  ChipInfo chipInfo{};
  slot.card->GetChipInfo(&chipInfo);
  if (!slot.card->StepSucceeded()) {
    const LONG result = slot.card->LastResult();
    Release(slot);
    return CardGone(result) ? CKR_DEVICE_REMOVED : CKR_DEVICE_ERROR;
  }
  return CKR_OK;
}

CK_RV SlotTable::ReadToken(Slot& slot) {
  TokenContents contents;
  PinState pin;
  switch (ReadTokenContents(*slot.card, &contents, &pin)) {
    case ReadOutcome::Read:
      break;
    case ReadOutcome::CardGone:
      Release(slot);
      return CKR_DEVICE_REMOVED;
    case ReadOutcome::CardError:
      return CKR_DEVICE_ERROR;
  }
  auto token = std::make_shared<Token>();
  slot.card->GetChipInfo(&token->chipInfo);
  token->objects = BuildObjects(contents);
  token->firstHandle = m_nextHandle;
  m_nextHandle += token->objects.size() + 1;
  slot.token = std::move(token);
  slot.pin = pin;
  slot.mostTriesSeen = std::max(slot.mostTriesSeen, pin.triesLeft);
  return CKR_OK;
}

CK_RV SlotTable::Ensure(CK_SLOT_ID id, bool checkIdentity) {
  Slot* slot = Find(id);
  if (slot == nullptr) return CKR_SLOT_ID_INVALID;
  if (!slot->cardPresent) return CKR_TOKEN_NOT_PRESENT;
  if (slot->card && checkIdentity) {
    ChipInfo now{};
    LONG result = ReadChipInfoAfresh(slot->handle, &now);
    if (result == SCARD_W_RESET_CARD) {
      // Another program reset the card: the login is gone, the card may
      // still be this one.
      DWORD protocol = 0;
      slot->loggedIn = false;
      result = SCardReconnect(slot->handle, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0, SCARD_LEAVE_CARD,
                              &protocol);
      if (result == SCARD_S_SUCCESS) result = ReadChipInfoAfresh(slot->handle, &now);
    }
    ChipInfo known{};
    slot->card->GetChipInfo(&known);
    if (result != SCARD_S_SUCCESS || now != known) {
      const bool gone = CardGone(result);
      Release(*slot);
      if (gone) return CKR_DEVICE_REMOVED;
    }
  }
  if (!slot->card) {
    if (const CK_RV rv = Connect(*slot); rv != CKR_OK) return rv;
  }
  if (!slot->token) return ReadToken(*slot);
  return CKR_OK;
}

}  // namespace orvel_p11
