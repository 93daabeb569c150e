// The virtual card behind the real pcscd: commands through pcsc-lite, two
// readers, insertion and removal events, and a clean end.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "cardsim/pcsc_session.h"
#include "cardsim/pcscd_rig.h"
#include "cardsim/unique_fd.h"

namespace cardsim {
namespace {

std::shared_ptr<VirtualCard> CardWithSerial(std::array<std::uint8_t, 6> serial) {
  CardSpec spec;
  spec.serial = serial;
  return VirtualCard::MakeFresh(spec);
}

const Bytes kSelectMasterFile = {0x00, 0xA4, 0x04, 0x00, 0x0B, 'M', 'a', 's',
                                 't',  'e',  'r',  '.',  'F',  'i', 'l', 'e'};
const Bytes kGetChipInfo = {0x90, 0xB8, 0x00, 0x00, 0x12};

bool SomeoneListens(std::uint16_t port) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

Bytes ChipSerial(const Bytes& answer) { return Bytes(answer.begin() + 10, answer.begin() + 16); }

TEST(PcscdRig, SelectGetResponseAndChipInfoThroughPcscd) {
  auto card = CardWithSerial({0x01, 0x23, 0x45, 0x67, 0x89, 0xAB});
  PcscdRig rig({card});
  rig.Start();
  RecordProperty("startup_ms", static_cast<int>(rig.StartupTime().count()));
  ASSERT_EQ(rig.ReaderNames(),
            (std::vector<std::string>{"Virtual PCD 00 00", "Virtual PCD 00 01"}));

  PcscContext context;
  Bytes atr;
  const DWORD state = context.ReaderState(rig.ReaderName(0), &atr);
  EXPECT_TRUE(state & SCARD_STATE_PRESENT);
  EXPECT_EQ(atr, VirtualCard::Atr());
  EXPECT_TRUE(context.ReaderState(rig.ReaderName(1)) & SCARD_STATE_EMPTY);

  PcscCard connection(context, rig.ReaderName(0));
  EXPECT_EQ(connection.Protocol(), static_cast<DWORD>(SCARD_PROTOCOL_T0));
  EXPECT_EQ(connection.Atr(), VirtualCard::Atr());

  // pcsc-lite leaves 61xx to the caller under T=0.
  const Bytes select = connection.Transmit(kSelectMasterFile);
  ASSERT_EQ(select.size(), 2u);
  ASSERT_EQ(select[0], 0x61);
  const std::uint8_t pending = select[1];
  ASSERT_GT(pending, 0);

  const Bytes fci = connection.Transmit({0x00, 0xC0, 0x00, 0x00, pending});
  ASSERT_EQ(fci.size(), pending + 2u);
  EXPECT_EQ(StatusWord(fci), 0x9000);
  EXPECT_EQ(fci[0], 0x6F);  // file control information template

  const Bytes chip = connection.Transmit(kGetChipInfo);
  ASSERT_EQ(chip.size(), 20u);
  EXPECT_EQ(StatusWord(chip), 0x9000);
  EXPECT_EQ(ChipSerial(chip), (Bytes{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB}));
  EXPECT_EQ(Bytes(chip.begin(), chip.end() - 2), card->ChipInfo());
}

TEST(PcscdRig, TwoReadersHoldTwoCards) {
  auto first = CardWithSerial({0x11, 0x11, 0x11, 0x11, 0x11, 0x11});
  auto second = CardWithSerial({0x22, 0x22, 0x22, 0x22, 0x22, 0x22});
  PcscdRig rig({first, second});
  rig.Start();
  ASSERT_EQ(rig.ReaderCount(), 2u);
  EXPECT_NE(rig.Port(0), rig.Port(1));

  PcscContext context;
  for (std::size_t i = 0; i < 2; ++i) {
    PcscCard connection(context, rig.ReaderName(i));
    const Bytes chip = connection.Transmit(kGetChipInfo);
    ASSERT_EQ(chip.size(), 20u) << rig.ReaderName(i);
    EXPECT_EQ(ChipSerial(chip), Bytes(6, i == 0 ? 0x11 : 0x22)) << rig.ReaderName(i);
  }
  EXPECT_EQ(first->CommandCount(), 1u);
  EXPECT_EQ(second->CommandCount(), 1u);
}

TEST(PcscdRig, RemovalAndInsertionReachGetStatusChange) {
  PcscdRig rig({CardWithSerial({0x42})});
  rig.Start();
  PcscContext context;

  SCARD_READERSTATE state{};
  state.szReader = rig.ReaderName(0).c_str();
  state.dwCurrentState = SCARD_STATE_UNAWARE;
  ASSERT_EQ(SCardGetStatusChange(context.Get(), 0, &state, 1), SCARD_S_SUCCESS);
  ASSERT_TRUE(state.dwEventState & SCARD_STATE_PRESENT);

  rig.Remove(0, /*wait=*/false);
  state.dwCurrentState = state.dwEventState;
  ASSERT_EQ(SCardGetStatusChange(context.Get(), 5000, &state, 1), SCARD_S_SUCCESS);
  EXPECT_EQ(state.dwEventState & 0xFFFF,
            static_cast<DWORD>(SCARD_STATE_EMPTY | SCARD_STATE_CHANGED));

  rig.Insert(0, /*wait=*/false);
  const DWORD eventsBefore = state.dwEventState >> 16;
  state.dwCurrentState = state.dwEventState;
  ASSERT_EQ(SCardGetStatusChange(context.Get(), 5000, &state, 1), SCARD_S_SUCCESS);
  EXPECT_EQ(state.dwEventState & 0xFFFF,
            static_cast<DWORD>(SCARD_STATE_PRESENT | SCARD_STATE_CHANGED));
  EXPECT_GT(state.dwEventState >> 16, eventsBefore);

  // The card answers again after coming back.
  PcscCard connection(context, rig.ReaderName(0));
  EXPECT_EQ(StatusWord(connection.Transmit(kGetChipInfo)), 0x9000);
}

TEST(PcscdRig, WaitingRemoveAndInsertLeaveTheReaderInTheirState) {
  PcscdRig rig({CardWithSerial({0x43})});
  rig.Start();
  PcscContext context;
  rig.Remove(0);
  EXPECT_TRUE(context.ReaderState(rig.ReaderName(0)) & SCARD_STATE_EMPTY);
  try {
    PcscCard connection(context, rig.ReaderName(0));
    ADD_FAILURE() << "connected to an empty reader";
  } catch (const PcscError& e) {
    EXPECT_EQ(e.Result(), SCARD_E_NO_SMARTCARD);
  }
  rig.Insert(0);
  EXPECT_TRUE(context.ReaderState(rig.ReaderName(0)) & SCARD_STATE_PRESENT);
  EXPECT_THROW(rig.Insert(1), std::logic_error);  // the filler reader has no card
}

TEST(PcscdRig, NothingIsLeftRunningAfterTheRig) {
  const bool runDirExisted = std::filesystem::exists("/run/pcscd");
  pid_t pid = -1;
  std::vector<std::uint16_t> ports;
  {
    PcscdRig rig({CardWithSerial({0x44})});
    rig.Start();
    pid = rig.DaemonPid();
    ASSERT_GT(pid, 0);
    ASSERT_EQ(::kill(pid, 0), 0);
    ports = {rig.Port(0), rig.Port(1)};
    EXPECT_TRUE(SomeoneListens(ports[0]));
    EXPECT_TRUE(std::filesystem::exists(PcscdRig::SocketPath()));
    // The daemon's namespace is its own: the real /run is as it was.
    EXPECT_EQ(std::filesystem::exists("/run/pcscd"), runDirExisted);
    EXPECT_FALSE(std::filesystem::exists("/run/pcscd/pcscd.comm") && !runDirExisted);
  }
  EXPECT_EQ(::kill(pid, 0), -1);
  EXPECT_EQ(errno, ESRCH);
  EXPECT_EQ(::kill(-pid, 0), -1);  // nor anything of its process group
  for (std::uint16_t port : ports) EXPECT_FALSE(SomeoneListens(port)) << port;
  EXPECT_FALSE(std::filesystem::exists(PcscdRig::SocketPath()));
}

// A dead process still shows in /proc as a zombie until someone reaps it.
bool ProcessGone(pid_t pid) {
  if (::kill(pid, 0) != 0) return errno == ESRCH;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  const std::size_t close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
}

TEST(PcscdRig, DaemonDiesWithAStarterThatIsKilled) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  UniqueFd readEnd(fds[0]), writeEnd(fds[1]);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Start a rig and die without any cleaning up.
    PcscdRig rig({CardWithSerial({0x48})});
    rig.Start();
    const pid_t daemon = rig.DaemonPid();
    [[maybe_unused]] const ssize_t n = ::write(writeEnd.Get(), &daemon, sizeof daemon);
    ::raise(SIGKILL);
  }
  writeEnd.Reset();
  pid_t daemon = -1;
  ASSERT_EQ(::read(readEnd.Get(), &daemon, sizeof daemon), static_cast<ssize_t>(sizeof daemon));
  ASSERT_GT(daemon, 0);
  ::waitpid(child, nullptr, 0);

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (!ProcessGone(daemon) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_TRUE(ProcessGone(daemon));

  // What the killed one left is cleared by the next rig.
  PcscdRig rig({CardWithSerial({0x49})});
  rig.Start();
}

TEST(PcscdRig, DirectoriesOfDeadRigProcessesAreSwept) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);  // a pid that no longer runs
  const auto temp = std::filesystem::temp_directory_path();
  const auto stale = temp / ("orvel-pcscd-rig." + std::to_string(child));
  const auto alive = temp / "orvel-pcscd-rig.1";  // init never dies
  std::filesystem::create_directories(stale / "run");
  const bool aliveExisted = std::filesystem::exists(alive);
  std::filesystem::create_directories(alive);

  PcscdRig rig({CardWithSerial({0x4A})});
  rig.Start();
  EXPECT_FALSE(std::filesystem::exists(stale));
  EXPECT_TRUE(std::filesystem::exists(alive));
  if (!aliveExisted) std::filesystem::remove_all(alive);
}

TEST(PcscdRig, OneRigAtATimeAndRestartable) {
  PcscdRig first({CardWithSerial({0x45})});
  first.Start();
  PcscdRig second({CardWithSerial({0x46})});
  EXPECT_THROW(second.Start(), std::logic_error);
  first.Stop();
  EXPECT_FALSE(first.Running());
  second.Start();  // the same socket path serves the next daemon
  PcscContext context;
  PcscCard connection(context, second.ReaderName(0));
  const Bytes chip = connection.Transmit(kGetChipInfo);
  ASSERT_EQ(chip.size(), 20u);
  EXPECT_EQ(chip[10], 0x46);
}

TEST(PcscdRig, ServesOneOrTwoCards) {
  EXPECT_THROW(PcscdRig({CardWithSerial({1}), CardWithSerial({2}), CardWithSerial({3})}),
               std::invalid_argument);
  EXPECT_THROW(PcscdRig(std::vector<std::shared_ptr<VirtualCard>>{}), std::invalid_argument);
}

TEST(PcscdRig, ReaderWithoutRigCardWaitsForAnotherServer) {
  // A null card: the reader is there, empty, until someone serves its port.
  auto card = CardWithSerial({0x47});
  PcscdRig rig({nullptr});
  rig.Start();
  PcscContext context;
  EXPECT_TRUE(context.ReaderState(rig.ReaderName(0)) & SCARD_STATE_EMPTY);
  EXPECT_THROW(rig.Remove(0), std::logic_error);

  VpcdClient outside(card, "127.0.0.1", rig.Port(0));
  SCARD_READERSTATE state{};
  state.szReader = rig.ReaderName(0).c_str();
  state.dwCurrentState = SCARD_STATE_EMPTY;
  ASSERT_EQ(SCardGetStatusChange(context.Get(), 5000, &state, 1), SCARD_S_SUCCESS);
  EXPECT_TRUE(state.dwEventState & SCARD_STATE_PRESENT);
}

}  // namespace
}  // namespace cardsim
