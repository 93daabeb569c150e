// The in-process fake PC/SC library: pcsc-lite's SCard* functions (prototypes
// checked against <winscard.h>) over scripted readers holding virtual cards,
// plus the control API of cardsim/fake_pcsc.h. One mutex guards everything;
// SCardGetStatusChange waits on a condition variable. Behaviour and choices
// are documented in cardsim/README.md.
#include "cardsim/fake_pcsc.h"

#include <reader.h>
#include <winscard.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <thread>

extern "C" {
const SCARD_IO_REQUEST g_rgSCardT0Pci = {SCARD_PROTOCOL_T0, sizeof(SCARD_IO_REQUEST)};
const SCARD_IO_REQUEST g_rgSCardT1Pci = {SCARD_PROTOCOL_T1, sizeof(SCARD_IO_REQUEST)};
const SCARD_IO_REQUEST g_rgSCardRawPci = {SCARD_PROTOCOL_RAW, sizeof(SCARD_IO_REQUEST)};
}

namespace {

using cardsim::Bytes;
using cardsim::VirtualCard;

constexpr std::size_t kMaxReaders = 17;
constexpr const char* kPnpReader = "\\\\?PnP?\\Notification";
// What SCardStatus reports for a connected card.
constexpr DWORD kStatusPresent = SCARD_PRESENT | SCARD_POWERED | SCARD_SPECIFIC;

struct ReaderRec {
  std::uint64_t id = 0;
  std::string name;
  std::shared_ptr<VirtualCard> card;
  bool heldByOther = false;
  DWORD eventCounter = 0;       // insertions and removals (pcsc-lite shows 16 bits)
  std::uint64_t insertion = 0;  // identity of the card's current presence
  std::uint64_t resets = 0;     // resets and power-downs while present
  SCARDHANDLE transactionOwner = 0;
};

struct HandleRec {
  SCARDCONTEXT context = 0;
  std::uint64_t readerId = 0;
  DWORD shareMode = 0;
  DWORD protocol = 0;
  std::uint64_t insertion = 0;
  std::uint64_t resetsSeen = 0;
};

struct ContextRec {
  std::uint64_t cancels = 0;
};

enum class FaultKind { Transport, Status, Remove, Reset, Answer };
struct Fault {
  FaultKind kind = FaultKind::Transport;
  LONG error = 0;
  std::uint16_t sw = 0;
  Bytes answer;  // FaultKind::Answer: returned as it is
};

struct World {
  std::mutex mu;
  std::condition_variable cv;
  std::vector<ReaderRec> readers;
  std::map<SCARDCONTEXT, ContextRec> contexts;
  std::map<SCARDHANDLE, HandleRec> handles;
  bool failUser = false, failSystem = false;
  LONG listError = 0;
  std::map<std::size_t, Fault> faults;
  std::map<std::size_t, std::function<void()>> actions;  // run before command n
  std::size_t faultCounter = 0;
  std::vector<fakepcsc::TraceEntry> trace;
  std::size_t traceCounter = 0;
  bool tracing = true;
  std::atomic<std::chrono::microseconds> transmitDelay{std::chrono::microseconds(0)};
  long nextId = 0x0A0B0000;
  std::uint64_t nextReaderId = 1;
  std::uint64_t nextInsertion = 1;
};

World& W() {
  static World* w = new World;  // never destroyed: usable from atexit handlers and threads
  return *w;
}

ReaderRec* FindReader(World& w, const std::string& name) {
  for (auto& r : w.readers)
    if (r.name == name) return &r;
  return nullptr;
}

ReaderRec* FindReader(World& w, std::uint64_t id) {
  for (auto& r : w.readers)
    if (r.id == id) return &r;
  return nullptr;
}

ReaderRec& RequireReader(World& w, const std::string& name) {
  ReaderRec* r = FindReader(w, name);
  if (!r) throw std::invalid_argument("fakepcsc: no reader named \"" + name + "\"");
  return *r;
}

void PullCard(World& w, ReaderRec& r) {
  if (!r.card) return;
  r.card.reset();
  ++r.eventCounter;
  r.insertion = w.nextInsertion++;
  if (r.transactionOwner) r.transactionOwner = 0;
}

void ResetCard(ReaderRec& r) {
  if (!r.card) return;
  r.card->Reset();
  ++r.resets;
}

bool ValidShareMode(DWORD m) {
  return m == SCARD_SHARE_EXCLUSIVE || m == SCARD_SHARE_SHARED || m == SCARD_SHARE_DIRECT;
}

bool ValidDisposition(DWORD d) {
  return d == SCARD_LEAVE_CARD || d == SCARD_RESET_CARD || d == SCARD_UNPOWER_CARD ||
         d == SCARD_EJECT_CARD;
}

// Connections of this library on a reader, other than `except`.
void CountConnections(const World& w, std::uint64_t readerId, SCARDHANDLE except, int* total,
                      bool* exclusive) {
  *total = 0;
  *exclusive = false;
  for (const auto& [h, rec] : w.handles) {
    if (h == except || rec.readerId != readerId) continue;
    ++*total;
    if (rec.shareMode == SCARD_SHARE_EXCLUSIVE) *exclusive = true;
  }
}

// The sharing check of SCardConnect / SCardReconnect.
LONG CheckSharing(const World& w, const ReaderRec& r, SCARDHANDLE except, DWORD shareMode) {
  if (r.heldByOther) return SCARD_E_SHARING_VIOLATION;
  int total = 0;
  bool exclusive = false;
  CountConnections(w, r.id, except, &total, &exclusive);
  if (exclusive) return SCARD_E_SHARING_VIOLATION;
  if (shareMode == SCARD_SHARE_EXCLUSIVE && total > 0) return SCARD_E_SHARING_VIOLATION;
  return SCARD_S_SUCCESS;
}

// Protocol negotiation: the card speaks T=0 only.
LONG ChooseProtocol(DWORD shareMode, DWORD preferred, DWORD* active) {
  if (shareMode == SCARD_SHARE_DIRECT && preferred == 0) {
    *active = SCARD_PROTOCOL_UNDEFINED;
    return SCARD_S_SUCCESS;
  }
  if (preferred & SCARD_PROTOCOL_T0) {
    *active = SCARD_PROTOCOL_T0;
    return SCARD_S_SUCCESS;
  }
  if (preferred == 0) return SCARD_E_INVALID_VALUE;
  return SCARD_E_PROTO_MISMATCH;
}

// Whether a handle's card is still the one it connected to, unreset.
LONG HandleCardState(const ReaderRec* r, const HandleRec& h) {
  if (!r) return SCARD_E_READER_UNAVAILABLE;
  if (!r->card || r->insertion != h.insertion) return SCARD_W_REMOVED_CARD;
  if (r->resets != h.resetsSeen) return SCARD_W_RESET_CARD;
  return SCARD_S_SUCCESS;
}

// What SCardConnect and SCardReconnect check before a connection is attached
// to the reader: a card unless the connection is direct, the sharing, the
// protocol.
LONG CheckAttach(const World& w, const ReaderRec& r, SCARDHANDLE self, DWORD shareMode,
                 DWORD preferred, DWORD* protocol) {
  if (!r.card && shareMode != SCARD_SHARE_DIRECT) return SCARD_E_NO_SMARTCARD;
  if (LONG rv = CheckSharing(w, r, self, shareMode); rv != SCARD_S_SUCCESS) return rv;
  return ChooseProtocol(shareMode, preferred, protocol);
}

// Attaches a connection to the card the reader holds now.
void Attach(HandleRec& h, const ReaderRec& r, DWORD shareMode, DWORD protocol) {
  h.readerId = r.id;
  h.shareMode = shareMode;
  h.protocol = protocol;
  h.insertion = r.insertion;
  h.resetsSeen = r.resets;
}

// A call on a connection, with the world locked: the connection's record
// (null for an unknown handle) and its reader (null when it is gone).
struct ConnectionCall {
  explicit ConnectionCall(SCARDHANDLE hCard) : w(W()), lock(w.mu) {
    if (auto it = w.handles.find(hCard); it != w.handles.end()) {
      handle = &it->second;
      reader = FindReader(w, handle->readerId);
    }
  }

  World& w;
  std::lock_guard<std::mutex> lock;
  HandleRec* handle = nullptr;
  ReaderRec* reader = nullptr;
};

// Copies `data` out under pcsc-lite's buffer rules (SCARD_AUTOALLOCATE, size query,
// SCARD_E_INSUFFICIENT_BUFFER). `length` may be absent (nothing is returned then).
LONG CopyOut(const void* data, DWORD size, void* buffer, LPDWORD length) {
  if (!length) return SCARD_S_SUCCESS;
  if (*length == SCARD_AUTOALLOCATE) {
    if (!buffer) return SCARD_E_INVALID_PARAMETER;
    void* mem = std::malloc(size ? size : 1);
    if (!mem) return SCARD_E_NO_MEMORY;
    std::memcpy(mem, data, size);
    *static_cast<void**>(buffer) = mem;
    *length = size;
    return SCARD_S_SUCCESS;
  }
  if (!buffer) {
    *length = size;
    return SCARD_S_SUCCESS;
  }
  if (*length < size) {
    *length = size;
    return SCARD_E_INSUFFICIENT_BUFFER;
  }
  std::memcpy(buffer, data, size);
  *length = size;
  return SCARD_S_SUCCESS;
}

// Fills one SCARD_READERSTATE as pcsc-lite does; true when it reports a change.
bool EvaluateReaderState(World& w, SCARD_READERSTATE& rs) {
  const DWORD cur = rs.dwCurrentState;
  if (cur & SCARD_STATE_IGNORE) {
    rs.dwEventState = SCARD_STATE_IGNORE;
    return false;
  }
  if (std::strcmp(rs.szReader, kPnpReader) == 0) {
    // The reader count in the upper 16 bits; a different count is a change.
    const DWORD count = static_cast<DWORD>(w.readers.size());
    rs.dwEventState = count << 16;
    if (((cur >> 16) & 0xFFFF) != count) {
      rs.dwEventState |= SCARD_STATE_CHANGED;
      return true;
    }
    return false;
  }
  ReaderRec* r = FindReader(w, std::string(rs.szReader));
  if (!r) {
    rs.cbAtr = 0;
    if (cur & SCARD_STATE_UNKNOWN) {
      rs.dwEventState = SCARD_STATE_UNKNOWN;
      return false;
    }
    rs.dwEventState = SCARD_STATE_UNKNOWN | SCARD_STATE_CHANGED;
    return true;
  }
  const DWORD counter = r->eventCounter & 0xFFFF;
  DWORD ev = 0;
  bool changed = false;
  if ((cur & 0xFFFF0000) && ((cur >> 16) & 0xFFFF) != counter) changed = true;
  if (cur & SCARD_STATE_UNAVAILABLE) changed = true;
  if (!r->card) {
    ev |= SCARD_STATE_EMPTY;
    rs.cbAtr = 0;
    if (cur & SCARD_STATE_PRESENT) changed = true;
    if (cur & (SCARD_STATE_INUSE | SCARD_STATE_EXCLUSIVE)) changed = true;
  } else {
    ev |= SCARD_STATE_PRESENT;
    const Bytes atr = VirtualCard::Atr();
    rs.cbAtr = static_cast<DWORD>(atr.size());
    std::memcpy(rs.rgbAtr, atr.data(), atr.size());
    if (cur & (SCARD_STATE_EMPTY | SCARD_STATE_MUTE)) changed = true;
    int total = 0;
    bool exclusive = false;
    CountConnections(w, r->id, 0, &total, &exclusive);
    if (exclusive || r->heldByOther) {
      ev |= SCARD_STATE_EXCLUSIVE;
      if (cur & SCARD_STATE_INUSE) changed = true;
    } else if (total > 0) {
      ev |= SCARD_STATE_INUSE;
      if (cur & SCARD_STATE_EXCLUSIVE) changed = true;
    } else if (cur & (SCARD_STATE_INUSE | SCARD_STATE_EXCLUSIVE)) {
      changed = true;
    }
  }
  if (cur == SCARD_STATE_UNAWARE) changed = true;
  if (changed) ev |= SCARD_STATE_CHANGED;
  rs.dwEventState = ev | (counter << 16);
  return changed;
}

void Record(World& w, const ReaderRec* reader, std::span<const std::uint8_t> cmd,
            const Bytes& answer, LONG rv) {
  if (!w.tracing) return;
  w.trace.push_back(fakepcsc::TraceEntry{reader ? reader->name : std::string(),
                                         Bytes(cmd.begin(), cmd.end()), answer, rv,
                                         std::chrono::steady_clock::now()});
}

}  // namespace

// ====================================================================== pcsc-lite API

extern "C" {

LONG SCardEstablishContext(DWORD dwScope, LPCVOID /*pvReserved1*/, LPCVOID /*pvReserved2*/,
                           LPSCARDCONTEXT phContext) {
  World& w = W();
  std::lock_guard lock(w.mu);
  if (!phContext) return SCARD_E_INVALID_PARAMETER;
  if (dwScope > SCARD_SCOPE_GLOBAL) return SCARD_E_INVALID_VALUE;
  bool fail = false;
  if (dwScope == SCARD_SCOPE_USER)
    fail = w.failUser;
  else if (dwScope == SCARD_SCOPE_SYSTEM)
    fail = w.failSystem;
  else
    fail = w.failUser && w.failSystem;  // terminal and global scopes
  if (fail) return SCARD_E_NO_SERVICE;
  const SCARDCONTEXT ctx = w.nextId++;
  w.contexts[ctx] = ContextRec{};
  *phContext = ctx;
  return SCARD_S_SUCCESS;
}

LONG SCardReleaseContext(SCARDCONTEXT hContext) {
  World& w = W();
  std::lock_guard lock(w.mu);
  auto it = w.contexts.find(hContext);
  if (it == w.contexts.end()) return SCARD_E_INVALID_HANDLE;
  // Its connections end as with SCARD_LEAVE_CARD.
  for (auto h = w.handles.begin(); h != w.handles.end();) {
    if (h->second.context == hContext) {
      if (ReaderRec* r = FindReader(w, h->second.readerId); r && r->transactionOwner == h->first)
        r->transactionOwner = 0;
      h = w.handles.erase(h);
    } else {
      ++h;
    }
  }
  w.contexts.erase(it);
  w.cv.notify_all();
  return SCARD_S_SUCCESS;
}

LONG SCardIsValidContext(SCARDCONTEXT hContext) {
  World& w = W();
  std::lock_guard lock(w.mu);
  return w.contexts.count(hContext) ? SCARD_S_SUCCESS : SCARD_E_INVALID_HANDLE;
}

LONG SCardListReaders(SCARDCONTEXT hContext, LPCSTR /*mszGroups*/, LPSTR mszReaders,
                      LPDWORD pcchReaders) {
  World& w = W();
  std::lock_guard lock(w.mu);
  if (!w.contexts.count(hContext)) return SCARD_E_INVALID_HANDLE;
  if (!pcchReaders) return SCARD_E_INVALID_PARAMETER;
  if (w.listError != 0) return w.listError;
  if (w.readers.empty()) return SCARD_E_NO_READERS_AVAILABLE;
  std::string multi;
  for (const auto& r : w.readers) {
    multi += r.name;
    multi.push_back('\0');
  }
  multi.push_back('\0');
  return CopyOut(multi.data(), static_cast<DWORD>(multi.size()), mszReaders, pcchReaders);
}

LONG SCardListReaderGroups(SCARDCONTEXT hContext, LPSTR mszGroups, LPDWORD pcchGroups) {
  World& w = W();
  std::lock_guard lock(w.mu);
  if (!w.contexts.count(hContext)) return SCARD_E_INVALID_HANDLE;
  if (!pcchGroups) return SCARD_E_INVALID_PARAMETER;
  static const char groups[] = "SCard$DefaultReaders\0";  // plus the literal's own NUL
  return CopyOut(groups, sizeof groups, mszGroups, pcchGroups);
}

LONG SCardFreeMemory(SCARDCONTEXT /*hContext*/, LPCVOID pvMem) {
  std::free(const_cast<void*>(pvMem));
  return SCARD_S_SUCCESS;
}

LONG SCardConnect(SCARDCONTEXT hContext, LPCSTR szReader, DWORD dwShareMode,
                  DWORD dwPreferredProtocols, LPSCARDHANDLE phCard, LPDWORD pdwActiveProtocol) {
  World& w = W();
  std::lock_guard lock(w.mu);
  if (!w.contexts.count(hContext)) return SCARD_E_INVALID_HANDLE;
  if (!szReader || !phCard || !pdwActiveProtocol) return SCARD_E_INVALID_PARAMETER;
  *phCard = 0;
  if (!ValidShareMode(dwShareMode)) return SCARD_E_INVALID_VALUE;
  ReaderRec* r = FindReader(w, std::string(szReader));
  if (!r) return SCARD_E_UNKNOWN_READER;
  DWORD protocol = 0;
  if (LONG rv = CheckAttach(w, *r, 0, dwShareMode, dwPreferredProtocols, &protocol);
      rv != SCARD_S_SUCCESS)
    return rv;
  const SCARDHANDLE h = w.nextId++;
  HandleRec rec;
  rec.context = hContext;
  Attach(rec, *r, dwShareMode, protocol);
  w.handles[h] = rec;
  *phCard = h;
  *pdwActiveProtocol = protocol;
  w.cv.notify_all();
  return SCARD_S_SUCCESS;
}

LONG SCardReconnect(SCARDHANDLE hCard, DWORD dwShareMode, DWORD dwPreferredProtocols,
                    DWORD dwInitialization, LPDWORD pdwActiveProtocol) {
  ConnectionCall call(hCard);
  if (!call.handle) return SCARD_E_INVALID_HANDLE;
  if (!pdwActiveProtocol) return SCARD_E_INVALID_PARAMETER;
  if (!ValidShareMode(dwShareMode) || !ValidDisposition(dwInitialization))
    return SCARD_E_INVALID_VALUE;
  ReaderRec* r = call.reader;
  if (!r) return SCARD_E_READER_UNAVAILABLE;
  DWORD protocol = 0;
  if (LONG rv = CheckAttach(call.w, *r, hCard, dwShareMode, dwPreferredProtocols, &protocol);
      rv != SCARD_S_SUCCESS)
    return rv;
  if (dwInitialization != SCARD_LEAVE_CARD) ResetCard(*r);
  Attach(*call.handle, *r, dwShareMode, protocol);
  *pdwActiveProtocol = protocol;
  call.w.cv.notify_all();
  return SCARD_S_SUCCESS;
}

LONG SCardDisconnect(SCARDHANDLE hCard, DWORD dwDisposition) {
  ConnectionCall call(hCard);
  if (!call.handle) return SCARD_E_INVALID_HANDLE;
  if (!ValidDisposition(dwDisposition)) return SCARD_E_INVALID_VALUE;
  if (ReaderRec* r = call.reader) {
    if (r->transactionOwner == hCard) r->transactionOwner = 0;
    // Reset, power down and eject (the fake reader cannot eject: the card is
    // powered down and stays) all end the card's session state.
    if (dwDisposition != SCARD_LEAVE_CARD && r->card && r->insertion == call.handle->insertion)
      ResetCard(*r);
  }
  call.w.handles.erase(hCard);
  call.w.cv.notify_all();
  return SCARD_S_SUCCESS;
}

LONG SCardBeginTransaction(SCARDHANDLE hCard) {
  ConnectionCall call(hCard);
  if (!call.handle) return SCARD_E_INVALID_HANDLE;
  ReaderRec* r = call.reader;
  if (LONG rv = HandleCardState(r, *call.handle); rv != SCARD_S_SUCCESS) return rv;
  if (r->heldByOther) return SCARD_E_SHARING_VIOLATION;
  if (r->transactionOwner && r->transactionOwner != hCard) return SCARD_E_SHARING_VIOLATION;
  r->transactionOwner = hCard;
  return SCARD_S_SUCCESS;
}

LONG SCardEndTransaction(SCARDHANDLE hCard, DWORD dwDisposition) {
  ConnectionCall call(hCard);
  if (!call.handle) return SCARD_E_INVALID_HANDLE;
  if (!ValidDisposition(dwDisposition)) return SCARD_E_INVALID_VALUE;
  ReaderRec* r = call.reader;
  if (LONG rv = HandleCardState(r, *call.handle); rv != SCARD_S_SUCCESS) return rv;
  if (r->transactionOwner != hCard) return SCARD_E_NOT_TRANSACTED;
  r->transactionOwner = 0;
  if (dwDisposition != SCARD_LEAVE_CARD) {
    ResetCard(*r);
    call.handle->resetsSeen = r->resets;  // the caller itself is not told
  }
  return SCARD_S_SUCCESS;
}

LONG SCardStatus(SCARDHANDLE hCard, LPSTR mszReaderName, LPDWORD pcchReaderLen, LPDWORD pdwState,
                 LPDWORD pdwProtocol, LPBYTE pbAtr, LPDWORD pcbAtrLen) {
  ConnectionCall call(hCard);
  if (!call.handle) return SCARD_E_INVALID_HANDLE;
  if (LONG rv = HandleCardState(call.reader, *call.handle); rv != SCARD_S_SUCCESS) return rv;
  const std::string name = call.reader->name;
  const Bytes atr = VirtualCard::Atr();
  if (pdwState) *pdwState = kStatusPresent;
  if (pdwProtocol) *pdwProtocol = call.handle->protocol;
  LONG rv =
      CopyOut(name.c_str(), static_cast<DWORD>(name.size() + 1), mszReaderName, pcchReaderLen);
  if (rv != SCARD_S_SUCCESS) return rv;
  return CopyOut(atr.data(), static_cast<DWORD>(atr.size()), pbAtr, pcbAtrLen);
}

LONG SCardGetStatusChange(SCARDCONTEXT hContext, DWORD dwTimeout, SCARD_READERSTATE* rgReaderStates,
                          DWORD cReaders) {
  World& w = W();
  std::unique_lock lock(w.mu);
  auto ctx = w.contexts.find(hContext);
  if (ctx == w.contexts.end()) return SCARD_E_INVALID_HANDLE;
  if (!rgReaderStates && cReaders > 0) return SCARD_E_INVALID_PARAMETER;
  for (DWORD i = 0; i < cReaders; ++i)
    if (!rgReaderStates[i].szReader) return SCARD_E_INVALID_VALUE;
  const std::uint64_t cancels = ctx->second.cancels;
  using Clock = std::chrono::steady_clock;
  const bool infinite = dwTimeout == INFINITE;
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(infinite ? 0 : dwTimeout);

  if (cReaders > 0) {
    bool allIgnored = true;
    for (DWORD i = 0; i < cReaders; ++i)
      if (!(rgReaderStates[i].dwCurrentState & SCARD_STATE_IGNORE)) allIgnored = false;
    if (allIgnored) {
      for (DWORD i = 0; i < cReaders; ++i) rgReaderStates[i].dwEventState = SCARD_STATE_IGNORE;
      return SCARD_S_SUCCESS;
    }
  }
  for (;;) {
    bool changed = false;
    for (DWORD i = 0; i < cReaders; ++i)
      changed = EvaluateReaderState(w, rgReaderStates[i]) || changed;
    if (changed) return SCARD_S_SUCCESS;
    if (!infinite && Clock::now() >= deadline) return SCARD_E_TIMEOUT;
    if (infinite)
      w.cv.wait(lock);
    else
      w.cv.wait_until(lock, deadline);
    ctx = w.contexts.find(hContext);
    if (ctx == w.contexts.end()) return SCARD_E_INVALID_HANDLE;
    if (ctx->second.cancels != cancels) return SCARD_E_CANCELLED;
  }
}

LONG SCardCancel(SCARDCONTEXT hContext) {
  World& w = W();
  std::lock_guard lock(w.mu);
  auto it = w.contexts.find(hContext);
  if (it == w.contexts.end()) return SCARD_E_INVALID_HANDLE;
  ++it->second.cancels;
  w.cv.notify_all();
  return SCARD_S_SUCCESS;
}

LONG SCardTransmit(SCARDHANDLE hCard, const SCARD_IO_REQUEST* pioSendPci, LPCBYTE pbSendBuffer,
                   DWORD cbSendLength, SCARD_IO_REQUEST* pioRecvPci, LPBYTE pbRecvBuffer,
                   LPDWORD pcbRecvLength) {
  World& w = W();
  if (const auto delay = w.transmitDelay.load(); delay.count() > 0) {
    std::this_thread::sleep_for(delay);
  }
  // Another program's turn, without the lock: it may use the fake itself.
  std::function<void()> action;
  {
    std::lock_guard lock(w.mu);
    if (auto a = w.actions.find(w.faultCounter + 1); a != w.actions.end()) {
      action = std::move(a->second);
      w.actions.erase(a);
    }
  }
  if (action) action();
  ConnectionCall call(hCard);
  if (!call.handle) return SCARD_E_INVALID_HANDLE;
  if (!pioSendPci || !pbSendBuffer || !pbRecvBuffer || !pcbRecvLength || cbSendLength == 0)
    return SCARD_E_INVALID_PARAMETER;
  if (cbSendLength > MAX_BUFFER_SIZE) return SCARD_E_INSUFFICIENT_BUFFER;
  HandleRec& h = *call.handle;
  if (pioSendPci->dwProtocol != SCARD_PROTOCOL_T0 || h.protocol != SCARD_PROTOCOL_T0)
    return SCARD_E_PROTO_MISMATCH;

  // Read in place: a copy per command is only made when the trace is kept.
  const std::span<const std::uint8_t> command(pbSendBuffer, cbSendLength);
  const std::size_t n = ++w.faultCounter;
  ++w.traceCounter;
  ReaderRec* r = call.reader;

  std::optional<Fault> fault;
  if (auto f = w.faults.find(n); f != w.faults.end()) fault = f->second;
  if (fault && r) {
    if (fault->kind == FaultKind::Remove) {
      PullCard(w, *r);
      w.cv.notify_all();
    } else if (fault->kind == FaultKind::Reset) {
      ResetCard(*r);
    }
  }

  Bytes answer;
  LONG rv = HandleCardState(r, h);
  if (rv == SCARD_S_SUCCESS) {
    if (r->heldByOther || (r->transactionOwner != 0 && r->transactionOwner != hCard)) {
      rv = SCARD_E_SHARING_VIOLATION;
    } else if (fault && fault->kind == FaultKind::Transport) {
      rv = fault->error;
    } else if (fault && fault->kind == FaultKind::Status) {
      answer = {static_cast<std::uint8_t>(fault->sw >> 8),
                static_cast<std::uint8_t>(fault->sw & 0xFF)};
    } else if (fault && fault->kind == FaultKind::Answer) {
      answer = fault->answer;
    } else {
      answer = r->card->Transmit(command);
    }
  }
  if (rv == SCARD_S_SUCCESS && answer.size() > *pcbRecvLength) {
    // The card has processed the command; its answer does not fit.
    *pcbRecvLength = static_cast<DWORD>(answer.size());
    Record(w, r, command, {}, SCARD_E_INSUFFICIENT_BUFFER);
    return SCARD_E_INSUFFICIENT_BUFFER;
  }
  if (rv != SCARD_S_SUCCESS) {
    *pcbRecvLength = 0;
    Record(w, r, command, {}, rv);
    return rv;
  }
  // Traced before the answer is copied out: the caller may receive into the
  // buffer it sent from.
  Record(w, r, command, answer, rv);
  if (!answer.empty()) std::memcpy(pbRecvBuffer, answer.data(), answer.size());
  *pcbRecvLength = static_cast<DWORD>(answer.size());
  if (pioRecvPci) {
    pioRecvPci->dwProtocol = SCARD_PROTOCOL_T0;
    pioRecvPci->cbPciLength = sizeof(SCARD_IO_REQUEST);
  }
  return SCARD_S_SUCCESS;
}

LONG SCardControl(SCARDHANDLE hCard, DWORD /*dwControlCode*/, LPCVOID /*pbSendBuffer*/,
                  DWORD /*cbSendLength*/, LPVOID /*pbRecvBuffer*/, DWORD /*cbRecvLength*/,
                  LPDWORD lpBytesReturned) {
  if (!ConnectionCall(hCard).handle) return SCARD_E_INVALID_HANDLE;
  if (lpBytesReturned) *lpBytesReturned = 0;
  return SCARD_E_UNSUPPORTED_FEATURE;
}

LONG SCardGetAttrib(SCARDHANDLE hCard, DWORD dwAttrId, LPBYTE pbAttr, LPDWORD pcbAttrLen) {
  ConnectionCall call(hCard);
  if (!call.handle) return SCARD_E_INVALID_HANDLE;
  if (!pcbAttrLen) return SCARD_E_INVALID_PARAMETER;
  ReaderRec* r = call.reader;
  if (!r) return SCARD_E_READER_UNAVAILABLE;
  if (dwAttrId == SCARD_ATTR_ATR_STRING) {
    if (LONG rv = HandleCardState(r, *call.handle); rv != SCARD_S_SUCCESS) return rv;
    const Bytes atr = VirtualCard::Atr();
    return CopyOut(atr.data(), static_cast<DWORD>(atr.size()), pbAttr, pcbAttrLen);
  }
  if (dwAttrId == SCARD_ATTR_DEVICE_FRIENDLY_NAME) {
    return CopyOut(r->name.c_str(), static_cast<DWORD>(r->name.size() + 1), pbAttr, pcbAttrLen);
  }
  return SCARD_E_UNSUPPORTED_FEATURE;
}

LONG SCardSetAttrib(SCARDHANDLE hCard, DWORD /*dwAttrId*/, LPCBYTE /*pbAttr*/,
                    DWORD /*cbAttrLen*/) {
  return ConnectionCall(hCard).handle ? SCARD_E_UNSUPPORTED_FEATURE : SCARD_E_INVALID_HANDLE;
}

const char* pcsc_stringify_error(const LONG pcscError) {
  switch (pcscError) {
#define FAKEPCSC_CASE(code, text) \
  case code:                      \
    return text " (" #code ")";
    FAKEPCSC_CASE(SCARD_S_SUCCESS, "Command successful.")
    FAKEPCSC_CASE(SCARD_F_INTERNAL_ERROR, "Internal error.")
    FAKEPCSC_CASE(SCARD_E_CANCELLED, "Command cancelled.")
    FAKEPCSC_CASE(SCARD_E_INVALID_HANDLE, "Invalid handle.")
    FAKEPCSC_CASE(SCARD_E_INVALID_PARAMETER, "Invalid parameter given.")
    FAKEPCSC_CASE(SCARD_E_INVALID_TARGET, "Invalid target given.")
    FAKEPCSC_CASE(SCARD_E_NO_MEMORY, "Not enough memory.")
    FAKEPCSC_CASE(SCARD_F_WAITED_TOO_LONG, "Waited too long.")
    FAKEPCSC_CASE(SCARD_E_INSUFFICIENT_BUFFER, "Insufficient buffer.")
    FAKEPCSC_CASE(SCARD_E_UNKNOWN_READER, "Unknown reader specified.")
    FAKEPCSC_CASE(SCARD_E_TIMEOUT, "Command timeout.")
    FAKEPCSC_CASE(SCARD_E_SHARING_VIOLATION, "Sharing violation.")
    FAKEPCSC_CASE(SCARD_E_NO_SMARTCARD, "No smart card inserted.")
    FAKEPCSC_CASE(SCARD_E_UNKNOWN_CARD, "Unknown card.")
    FAKEPCSC_CASE(SCARD_E_CANT_DISPOSE, "Cannot dispose handle.")
    FAKEPCSC_CASE(SCARD_E_PROTO_MISMATCH, "Card protocol mismatch.")
    FAKEPCSC_CASE(SCARD_E_NOT_READY, "Subsystem not ready.")
    FAKEPCSC_CASE(SCARD_E_INVALID_VALUE, "Invalid value given.")
    FAKEPCSC_CASE(SCARD_E_SYSTEM_CANCELLED, "System cancelled.")
    FAKEPCSC_CASE(SCARD_F_COMM_ERROR, "RPC transport error.")
    FAKEPCSC_CASE(SCARD_F_UNKNOWN_ERROR, "Unknown error.")
    FAKEPCSC_CASE(SCARD_E_INVALID_ATR, "Invalid ATR.")
    FAKEPCSC_CASE(SCARD_E_NOT_TRANSACTED, "Transaction failed.")
    FAKEPCSC_CASE(SCARD_E_READER_UNAVAILABLE, "Reader is unavailable.")
    FAKEPCSC_CASE(SCARD_E_PCI_TOO_SMALL, "PCI struct too small.")
    FAKEPCSC_CASE(SCARD_E_READER_UNSUPPORTED, "Reader is unsupported.")
    FAKEPCSC_CASE(SCARD_E_DUPLICATE_READER, "Reader already exists.")
    FAKEPCSC_CASE(SCARD_E_CARD_UNSUPPORTED, "Card is unsupported.")
    FAKEPCSC_CASE(SCARD_E_NO_SERVICE, "Service not available.")
    FAKEPCSC_CASE(SCARD_E_SERVICE_STOPPED, "Service was stopped.")
    FAKEPCSC_CASE(SCARD_E_NO_READERS_AVAILABLE, "Cannot find a smart card reader.")
    FAKEPCSC_CASE(SCARD_E_UNSUPPORTED_FEATURE, "Feature not supported.")
    FAKEPCSC_CASE(SCARD_W_UNSUPPORTED_CARD, "Card is not supported.")
    FAKEPCSC_CASE(SCARD_W_UNRESPONSIVE_CARD, "Card is unresponsive.")
    FAKEPCSC_CASE(SCARD_W_UNPOWERED_CARD, "Card is unpowered.")
    FAKEPCSC_CASE(SCARD_W_RESET_CARD, "Card was reset.")
    FAKEPCSC_CASE(SCARD_W_REMOVED_CARD, "Card was removed.")
#undef FAKEPCSC_CASE
    default: {
      thread_local char buffer[64];
      std::snprintf(buffer, sizeof buffer, "Unknown error: 0x%08lX",
                    static_cast<unsigned long>(pcscError) & 0xFFFFFFFFUL);
      return buffer;
    }
  }
}

}  // extern "C"

// ====================================================================== control API

namespace fakepcsc {

void Reset() {
  World& w = W();
  std::lock_guard lock(w.mu);
  w.readers.clear();
  w.contexts.clear();
  w.handles.clear();
  w.failUser = w.failSystem = false;
  w.listError = 0;
  w.faults.clear();
  w.actions.clear();
  w.faultCounter = 0;
  w.trace.clear();
  w.traceCounter = 0;
  w.tracing = true;
  w.transmitDelay.store(std::chrono::microseconds(0));
  w.cv.notify_all();
}

void AddReader(const std::string& name) {
  World& w = W();
  std::lock_guard lock(w.mu);
  if (name.empty()) throw std::invalid_argument("fakepcsc: a reader needs a name");
  if (FindReader(w, name)) throw std::invalid_argument("fakepcsc: reader \"" + name + "\" exists");
  if (w.readers.size() >= kMaxReaders) throw std::length_error("fakepcsc: at most 17 readers");
  ReaderRec r;
  r.id = w.nextReaderId++;
  r.name = name;
  r.insertion = w.nextInsertion++;
  w.readers.push_back(std::move(r));
  w.cv.notify_all();
}

void RemoveReader(const std::string& name) {
  World& w = W();
  std::lock_guard lock(w.mu);
  RequireReader(w, name);
  w.readers.erase(std::remove_if(w.readers.begin(), w.readers.end(),
                                 [&](const ReaderRec& r) { return r.name == name; }),
                  w.readers.end());
  w.cv.notify_all();
}

void InsertCard(const std::string& reader, std::shared_ptr<cardsim::VirtualCard> card) {
  World& w = W();
  std::lock_guard lock(w.mu);
  ReaderRec& r = RequireReader(w, reader);
  PullCard(w, r);
  if (card) {
    card->Reset();  // power-up on insertion
    r.card = std::move(card);
    ++r.eventCounter;
    r.insertion = w.nextInsertion++;
  }
  w.cv.notify_all();
}

void RemoveCard(const std::string& reader) {
  World& w = W();
  std::lock_guard lock(w.mu);
  PullCard(w, RequireReader(w, reader));
  w.cv.notify_all();
}

std::shared_ptr<cardsim::VirtualCard> CardIn(const std::string& reader) {
  World& w = W();
  std::lock_guard lock(w.mu);
  ReaderRec* r = FindReader(w, reader);
  return r ? r->card : nullptr;
}

void SetHeldByOtherProgram(const std::string& reader, bool held) {
  World& w = W();
  std::lock_guard lock(w.mu);
  RequireReader(w, reader).heldByOther = held;
  w.cv.notify_all();
}

void FailEstablishContext(bool userScope, bool systemScope) {
  World& w = W();
  std::lock_guard lock(w.mu);
  w.failUser = userScope;
  w.failSystem = systemScope;
}

void FailListReaders(LONG error) {
  World& w = W();
  std::lock_guard lock(w.mu);
  w.listError = error;
}

void FailTransmitAt(std::size_t n, LONG transportError) {
  World& w = W();
  std::lock_guard lock(w.mu);
  w.faults[n] = Fault{FaultKind::Transport, transportError, 0, {}};
}

void AnswerStatusAt(std::size_t n, std::uint16_t statusWord) {
  World& w = W();
  std::lock_guard lock(w.mu);
  w.faults[n] = Fault{FaultKind::Status, 0, statusWord, {}};
}

void ReplaceAnswerAt(std::size_t n, const cardsim::Bytes& answer) {
  World& w = W();
  std::lock_guard lock(w.mu);
  w.faults[n] = Fault{FaultKind::Answer, 0, 0, answer};
}

void RemoveCardAt(std::size_t n) {
  World& w = W();
  std::lock_guard lock(w.mu);
  w.faults[n] = Fault{FaultKind::Remove, 0, 0, {}};
}

void ResetCardAt(std::size_t n) {
  World& w = W();
  std::lock_guard lock(w.mu);
  w.faults[n] = Fault{FaultKind::Reset, 0, 0, {}};
}

void BeforeCommand(std::size_t n, std::function<void()> action) {
  World& w = W();
  std::lock_guard lock(w.mu);
  w.actions[n] = std::move(action);
}

void ClearFaults() {
  World& w = W();
  std::lock_guard lock(w.mu);
  w.faults.clear();
  w.actions.clear();
  w.faultCounter = 0;
}

void SetTransmitDelay(std::chrono::microseconds delay) { W().transmitDelay.store(delay); }

std::vector<TraceEntry> Trace() {
  World& w = W();
  std::lock_guard lock(w.mu);
  return w.trace;
}

void ClearTrace() {
  World& w = W();
  std::lock_guard lock(w.mu);
  w.trace.clear();
  w.traceCounter = 0;
}

void SetTracing(bool on) {
  World& w = W();
  std::lock_guard lock(w.mu);
  w.tracing = on;
}

std::size_t TransmitCount() {
  World& w = W();
  std::lock_guard lock(w.mu);
  return w.traceCounter;
}

}  // namespace fakepcsc
