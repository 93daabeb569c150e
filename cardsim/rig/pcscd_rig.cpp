#include "cardsim/pcscd_rig.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "cardsim/pcsc_session.h"
#include "private_pcscd.h"

namespace cardsim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kStartTimeout = std::chrono::seconds(10);
constexpr auto kCardTimeout = std::chrono::seconds(5);
constexpr auto kStopGrace = std::chrono::milliseconds(2000);
constexpr auto kUnreachableSocketTimeout = std::chrono::milliseconds(2000);
constexpr auto kPollInterval = std::chrono::milliseconds(1);
constexpr const char* kVpcdDriver = "/usr/lib/pcsc/drivers/serial/libifdvpcd.so";
constexpr const char* kFriendlyName = "Virtual PCD";
// The vpcd driver serves two slots per configured reader, on PORT and PORT+1.
constexpr std::size_t kSlotsPerReader = 2;

// One rig at a time per process: the client library keeps the socket path.
std::atomic<bool> rigRunning{false};

constexpr const char* kDirectoryPrefix = "orvel-pcscd-rig.";

const std::filesystem::path& RigDirectory() {
  static const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / (kDirectoryPrefix + std::to_string(::getpid()));
  return dir;
}

// Directories left by rig processes that were killed before they could
// clean up (their daemons died with them).
void RemoveStaleDirectories() {
  std::error_code ec;
  const std::string prefix = kDirectoryPrefix;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::filesystem::temp_directory_path(), ec)) {
    const std::string name = entry.path().filename().string();
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string digits = name.substr(prefix.size());
    if (digits.empty() || digits.size() > 9 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
      continue;
    const pid_t owner = static_cast<pid_t>(std::stol(digits));
    if (owner == ::getpid() || ::kill(owner, 0) == 0 || errno != ESRCH) continue;
    std::error_code ignored;
    std::filesystem::remove_all(entry.path(), ignored);
  }
}

// pcscd's name for a slot: friendly name, reader number, slot number.
std::string SlotReaderName(std::size_t reader, std::size_t slot) {
  char name[64];
  std::snprintf(name, sizeof name, "%s %02zX %02zX", kFriendlyName, reader, slot);
  return name;
}

}  // namespace

PcscdRig::PcscdRig(std::vector<std::shared_ptr<VirtualCard>> cards) {
  // The driver keeps its slots in globals indexed by slot number, so a second
  // configured reader would take over the first one's slots: one configured
  // reader, two slots, is what a daemon can have.
  if (cards.empty() || cards.size() > kSlotsPerReader)
    throw std::invalid_argument("PcscdRig serves one or two readers");
  cards.resize(kSlotsPerReader);
  m_readers.resize(kSlotsPerReader);
  for (std::size_t i = 0; i < kSlotsPerReader; ++i) {
    m_readers[i].card = std::move(cards[i]);
    m_readers[i].name = SlotReaderName(0, i);
  }
}

PcscdRig::~PcscdRig() { Stop(); }

std::filesystem::path PcscdRig::SocketPath() { return RigDirectory() / "run" / "pcscd.comm"; }

void PcscdRig::Start() {
  if (Running()) return;
  bool expected = false;
  if (!rigRunning.compare_exchange_strong(expected, true))
    throw std::logic_error("another PcscdRig of this process is running");
  m_ownsProcessSlot = true;

  const auto started = Clock::now();
  try {
    if (::access(kVpcdDriver, R_OK) != 0)
      throw std::runtime_error(std::string("vpcd driver missing: ") + kVpcdDriver);
    RemoveStaleDirectories();
    m_dir = RigDirectory();
    std::filesystem::remove_all(m_dir);
    std::filesystem::create_directory(m_dir);
    std::filesystem::create_directory(m_dir / "run");
    std::filesystem::create_directory(m_dir / "conf");

    const std::uint16_t base = rig::PickFreePorts(m_readers.size());
    for (std::size_t i = 0; i < m_readers.size(); ++i)
      m_readers[i].port = static_cast<std::uint16_t>(base + i);
    WriteReaderConfig();
    if (::setenv("PCSCLITE_CSOCK_NAME", SocketPath().c_str(), 1) != 0)
      throw std::runtime_error("cannot set PCSCLITE_CSOCK_NAME");

    // The clients start first and keep trying, so a card is there the moment
    // its reader starts listening.
    for (Reader& reader : m_readers)
      if (reader.card)
        reader.client = std::make_unique<VpcdClient>(reader.card, "127.0.0.1", reader.port);
    LaunchDaemon();
    WaitUntilReady(started + kStartTimeout);
  } catch (...) {
    Stop();
    throw;
  }
  m_startupTime = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
}

void PcscdRig::WriteReaderConfig() const {
  // One configured reader: the driver serves its slots on PORT and PORT+1.
  std::ofstream out(m_dir / "conf" / "vpcd");
  out << "FRIENDLYNAME \"" << kFriendlyName << "\"\n"
      << "DEVICENAME   /dev/null:" << m_readers[0].port << "\n"
      << "LIBPATH      " << kVpcdDriver << "\n";
  out.close();
  if (!out) throw std::runtime_error("cannot write the reader configuration in " + m_dir.string());
}

void PcscdRig::LaunchDaemon() {
  m_pid = rig::SpawnPrivatePcscd(m_dir / "run", m_dir / "conf", m_dir / "pcscd.log");
}

void PcscdRig::WaitUntilReady(Clock::time_point deadline) {
  // The daemon's socket, then a context.
  std::unique_ptr<PcscContext> context;
  std::optional<Clock::time_point> socketSeen;
  while (!context) {
    if (rig::ProcessEnded(m_pid)) Fail("pcscd ended during start-up");
    if (Clock::now() > deadline) Fail("pcscd did not open its socket");
    if (socketSeen || std::filesystem::exists(SocketPath())) {
      if (!socketSeen) socketSeen = Clock::now();
      try {
        context = std::make_unique<PcscContext>();
        break;
      } catch (const PcscError&) {
        // Socket made but not yet served: try again, but not for long.
        if (Clock::now() - *socketSeen > kUnreachableSocketTimeout)
          Fail("pcscd listens at " + SocketPath().string() +
               " but the PC/SC client library of this process does not reach it: it reads "
               "PCSCLITE_CSOCK_NAME only once, at its first use, so the first rig of a process "
               "must start before the process's first SCard call");
      }
    }
    std::this_thread::sleep_for(kPollInterval);
  }

  // Every reader listed.
  for (;;) {
    const std::vector<std::string> listed = context->ListReaders();
    std::size_t found = 0;
    for (const Reader& reader : m_readers)
      for (const std::string& name : listed)
        if (name == reader.name) ++found;
    if (found == m_readers.size()) break;
    if (rig::ProcessEnded(m_pid)) Fail("pcscd ended during start-up");
    if (Clock::now() > deadline) Fail("the vpcd readers did not appear");
    std::this_thread::sleep_for(kPollInterval);
  }

  // Every card present.
  for (std::size_t i = 0; i < m_readers.size(); ++i)
    if (m_readers[i].card) WaitForState(i, true, deadline);
}

void PcscdRig::WaitForState(std::size_t i, bool present, Clock::time_point deadline) {
  PcscContext context;
  SCARD_READERSTATE state{};
  state.szReader = m_readers[i].name.c_str();
  state.dwCurrentState = SCARD_STATE_UNAWARE;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    const LONG rv = SCardGetStatusChange(context.Get(), static_cast<DWORD>(left), &state, 1);
    if (rv == SCARD_E_TIMEOUT) break;
    if (rv != SCARD_S_SUCCESS) Fail(PcscError("SCardGetStatusChange", rv).what());
    const bool isPresent = (state.dwEventState & SCARD_STATE_PRESENT) != 0;
    if (isPresent == present) return;
    state.dwCurrentState = state.dwEventState & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
  }
  Fail(m_readers[i].name + (present ? ": the card did not arrive" : ": the card did not leave"));
}

void PcscdRig::Insert(std::size_t i, bool wait) { MoveCard(i, true, wait); }

void PcscdRig::Remove(std::size_t i, bool wait) { MoveCard(i, false, wait); }

void PcscdRig::MoveCard(std::size_t i, bool present, bool wait) {
  if (!Running()) {
    throw std::logic_error(std::string("PcscdRig::") + (present ? "Insert" : "Remove") +
                           " before Start()");
  }
  Reader& reader = m_readers.at(i);
  if (!reader.client) throw std::logic_error("reader " + reader.name + " has no card of the rig");
  if (present) {
    reader.client->Insert();
  } else {
    reader.client->Remove();
  }
  if (wait) WaitForState(i, present, Clock::now() + kCardTimeout);
}

void PcscdRig::Stop() {
  for (Reader& reader : m_readers) reader.client.reset();
  if (m_pid > 0) {
    rig::StopProcessGroup(m_pid, kStopGrace);
    m_pid = -1;
  }
  if (!m_dir.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(m_dir, ignored);
    m_dir.clear();
  }
  if (m_ownsProcessSlot) {
    m_ownsProcessSlot = false;
    rigRunning = false;
  }
}

void PcscdRig::Fail(const std::string& what) {
  throw std::runtime_error("PcscdRig: " + what + "\n--- pcscd log ---\n" + DaemonLog());
}

std::string PcscdRig::DaemonLog() const {
  if (m_dir.empty()) return {};
  std::ifstream in(m_dir / "pcscd.log");
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> PcscdRig::ReaderNames() const {
  std::vector<std::string> names;
  for (const Reader& reader : m_readers) names.push_back(reader.name);
  return names;
}

const std::string& PcscdRig::ReaderName(std::size_t i) const { return m_readers.at(i).name; }
std::uint16_t PcscdRig::Port(std::size_t i) const { return m_readers.at(i).port; }
const std::shared_ptr<VirtualCard>& PcscdRig::Card(std::size_t i) const {
  return m_readers.at(i).card;
}

}  // namespace cardsim
