// orvelcard serve against a pcscd of the rig's: the card reaches PC/SC,
// changes are saved to the image at once, and the commands on standard
// input take the card out and put it back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "cardsim/pcsc_session.h"
#include "cardsim/pcscd_rig.h"
#include "cardsim/unique_fd.h"
#include "orvel_test/file_text.h"
#include "orvel_test/temp_dir.h"

namespace cardsim {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const Bytes kSelectCryptoDf = {0x00, 0xA4, 0x04, 0x00, 0x0A, 'I', 'C', 'C',
                               '.',  'C',  'r',  'y',  'p',  't', 'o'};
const Bytes kVerifyWrong = {0x00, 0x20, 0x00, 0x00, 0x04, '9', '9', '9', '9'};

using orvel_test::ReadText;
using orvel_test::TempDir;

// orvelcard serve as a child process with a pipe on its standard input; killed
// if the test leaves early.
class ServeProcess {
 public:
  ServeProcess(const std::vector<std::string>& args, const fs::path& output) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    UniqueFd readEnd(fds[0]);
    m_input.Reset(fds[1]);
    std::vector<std::string> argv = {ORVELCARD_PATH, "serve"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (std::string& arg : argv) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    const std::string out = output.string();
    m_pid = ::fork();
    if (m_pid == 0) {
      const int log = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(readEnd.Get(), STDIN_FILENO);
      ::dup2(log, STDOUT_FILENO);
      ::dup2(log, STDERR_FILENO);
      ::execv(pointers[0], pointers.data());
      ::_exit(127);
    }
  }
  ~ServeProcess() {
    if (m_pid > 0) {
      ::kill(m_pid, SIGKILL);
      ::waitpid(m_pid, nullptr, 0);
    }
  }

  void Say(const std::string& line) {
    const std::string text = line + "\n";
    ASSERT_EQ(::write(m_input.Get(), text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  void CloseInput() { m_input.Reset(); }

  // The exit status, or -1 when the process has not ended within the time.
  int WaitExit(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(5ms);
    }
    return -1;
  }
  pid_t Pid() const { return m_pid; }

 private:
  pid_t m_pid = -1;
  UniqueFd m_input;
};

DWORD WaitForChange(const PcscContext& context, const std::string& reader, DWORD current) {
  SCARD_READERSTATE state{};
  state.szReader = reader.c_str();
  state.dwCurrentState = current;
  const LONG rv = SCardGetStatusChange(context.Get(), 5000, &state, 1);
  EXPECT_EQ(rv, SCARD_S_SUCCESS) << pcsc_stringify_error(rv);
  return state.dwEventState;
}

int TriesInImage(const fs::path& image) {
  try {
    return VirtualCard::LoadFile(image)->PinTriesLeft();
  } catch (const std::exception&) {
    return -1;  // caught between two writes: the file is replaced whole, so try again
  }
}

bool WaitForTries(const fs::path& image, int tries) {
  const auto deadline = std::chrono::steady_clock::now() + 3s;
  while (std::chrono::steady_clock::now() < deadline) {
    if (TriesInImage(image) == tries) return true;
    std::this_thread::sleep_for(5ms);
  }
  return false;
}

TEST(OrvelcardServe, ServesSavesAndObeysItsCommands) {
  TempDir dir;
  const fs::path image = dir.Path() / "card.json";
  CardSpec spec;
  spec.serial = {0xCA, 0xFE, 0x00, 0x00, 0x00, 0x01};
  VirtualCard::MakeFresh(spec)->SaveFile(image);

  PcscdRig rig({nullptr});  // the reader's card comes from orvelcard
  rig.Start();
  ServeProcess serve({image.string() + ":" + std::to_string(rig.Port(0))}, dir.Path() / "out");
  PcscContext context;
  const std::string& reader = rig.ReaderName(0);
  DWORD state = WaitForChange(context, reader, SCARD_STATE_EMPTY);
  ASSERT_TRUE(state & SCARD_STATE_PRESENT) << ReadText(dir.Path() / "out");

  {
    PcscCard connection(context, reader);
    const Bytes chip = connection.Transmit({0x90, 0xB8, 0x00, 0x00, 0x12});
    ASSERT_EQ(chip.size(), 20u);
    EXPECT_EQ(chip[10], 0xCA);
    // A wrong PIN changes the card: the image follows at once.
    ASSERT_EQ(connection.Transmit(kSelectCryptoDf)[0], 0x61);
    EXPECT_EQ(StatusWord(connection.Transmit(kVerifyWrong)), 0x63C2);
    EXPECT_TRUE(WaitForTries(image, 2));
  }

  serve.Say("remove 0");
  state = WaitForChange(context, reader, state);
  EXPECT_EQ(state & 0xFFFF, static_cast<DWORD>(SCARD_STATE_EMPTY | SCARD_STATE_CHANGED));
  serve.Say("remove 7");  // no such card: refused, nothing else happens
  serve.Say("insert 0");
  state = WaitForChange(context, reader, state);
  EXPECT_EQ(state & 0xFFFF, static_cast<DWORD>(SCARD_STATE_PRESENT | SCARD_STATE_CHANGED));

  serve.Say("quit");
  EXPECT_EQ(serve.WaitExit(3s), 0);
  const std::string output = ReadText(dir.Path() / "out");
  EXPECT_NE(output.find("card 0 removed"), std::string::npos) << output;
  EXPECT_NE(output.find("no card 7"), std::string::npos) << output;
  EXPECT_NE(output.find("stopped"), std::string::npos) << output;
  EXPECT_EQ(TriesInImage(image), 2);
}

TEST(OrvelcardServe, EndsOnSigtermWithInputClosed) {
  TempDir dir;
  const fs::path image = dir.Path() / "card.json";
  VirtualCard::MakeFresh(CardSpec{})->SaveFile(image);
  PcscdRig rig({nullptr});
  rig.Start();
  ServeProcess serve({image.string() + ":" + std::to_string(rig.Port(0))}, dir.Path() / "out");
  serve.CloseInput();  // no commands: it goes on serving

  PcscContext context;
  ASSERT_TRUE(WaitForChange(context, rig.ReaderName(0), SCARD_STATE_EMPTY) & SCARD_STATE_PRESENT);
  {
    PcscCard connection(context, rig.ReaderName(0));
    ASSERT_EQ(connection.Transmit(kSelectCryptoDf)[0], 0x61);
    EXPECT_EQ(StatusWord(connection.Transmit(kVerifyWrong)), 0x63C2);
  }
  ASSERT_EQ(serve.WaitExit(100ms), -1);  // still there without input
  ::kill(serve.Pid(), SIGTERM);
  EXPECT_EQ(serve.WaitExit(3s), 0);
  EXPECT_EQ(TriesInImage(image), 2);
  // Its card left the reader with it.
  EXPECT_TRUE(WaitForChange(context, rig.ReaderName(0), SCARD_STATE_PRESENT) & SCARD_STATE_EMPTY);
}

TEST(OrvelcardServe, RefusesPortsGivenTwice) {
  TempDir dir;
  const fs::path image = dir.Path() / "card.json";
  VirtualCard::MakeFresh(CardSpec{})->SaveFile(image);
  ServeProcess serve({image.string() + ":30001", image.string() + ":30001"}, dir.Path() / "out");
  EXPECT_EQ(serve.WaitExit(3s), 2);
  EXPECT_NE(ReadText(dir.Path() / "out").find("given twice"), std::string::npos);
}

}  // namespace
}  // namespace cardsim
