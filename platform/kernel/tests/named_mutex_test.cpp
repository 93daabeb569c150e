// Named mutexes between processes: exclusion, waits with a time-out, and the
// mutex a dead process leaves behind.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "platform/kernel.h"
#include "platform_test/scoped_user_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

// A run of the probe program, whose output is read line by line.
class Probe {
 public:
  explicit Probe(const std::string& arguments) {
    m_pipe = ::popen((std::string(MUTEX_PROBE_PATH) + " " + arguments).c_str(), "r");
  }
  ~Probe() { Finish(); }
  std::string Line() {
    char line[128] = {};
    if (!m_pipe || !std::fgets(line, sizeof line, m_pipe)) return {};
    std::string text = line;
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  }
  int Finish() {
    if (!m_pipe) return m_status;
    const int raw = ::pclose(m_pipe);
    m_pipe = nullptr;
    m_status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return m_status;
  }

 private:
  FILE* m_pipe = nullptr;
  int m_status = -1;
};

std::string UniqueName(const char* base) {
  return std::string(base) + " " + std::to_string(::getpid()) + " (lector)";
}

TEST(NamedMutexes, AnotherProcessHoldsTheMutexUntilItReleasesIt) {
  platform_test::ScopedUserDir dir;
  const std::string name = UniqueName("ORVEL221001Lector A");
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
  ASSERT_NE(mutex, nullptr);
  Probe probe("hold '" + name + "' 300");
  ASSERT_EQ(probe.Line(), "owned 0");
  EXPECT_EQ(WaitForSingleObject(mutex, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  const auto start = Clock::now();
  EXPECT_EQ(WaitForSingleObject(mutex, 50), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(),
            45);
  EXPECT_EQ(WaitForSingleObject(mutex, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(probe.Line(), "released 0");
  EXPECT_EQ(probe.Finish(), 0);
  EXPECT_TRUE(ReleaseMutex(mutex));
  CloseHandle(mutex);
}

TEST(NamedMutexes, AProcessThatDiesHoldingTheMutexAbandonsIt) {
  platform_test::ScopedUserDir dir;
  const std::string name = UniqueName("abandonado");
  {
    Probe probe("die '" + name + "'");
    ASSERT_EQ(probe.Line(), "owned 0");
    EXPECT_EQ(probe.Finish(), 0);
  }
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(WaitForSingleObject(mutex, 5000), static_cast<DWORD>(WAIT_ABANDONED));
  EXPECT_TRUE(ReleaseMutex(mutex));
  // Released properly now: the next owner, here or elsewhere, finds it whole.
  EXPECT_EQ(WaitForSingleObject(mutex, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_TRUE(ReleaseMutex(mutex));
  Probe probe("hold '" + name + "' 0");
  EXPECT_EQ(probe.Line(), "owned 0");
  EXPECT_EQ(probe.Line(), "released 0");
  EXPECT_EQ(probe.Finish(), 0);
  CloseHandle(mutex);
}

TEST(NamedMutexes, TwoProcessesExcludeEachOther) {
  platform_test::ScopedUserDir dir;
  const std::string name = UniqueName("contador");
  const std::string counter = (dir.Path() / "contador.txt").string();
  std::ofstream(counter) << 0;
  {
    Probe first("count '" + name + "' '" + counter + "' 100");
    Probe second("count '" + name + "' '" + counter + "' 100");
    EXPECT_EQ(first.Finish(), 0);
    EXPECT_EQ(second.Finish(), 0);
  }
  long value = 0;
  std::ifstream(counter) >> value;
  EXPECT_EQ(value, 200);
}

TEST(NamedMutexes, HandlesOfOneNameShareTheObjectWithinTheProcess) {
  platform_test::ScopedUserDir dir;
  const std::string name = UniqueName("Global\\compartido");
  HANDLE first = CreateMutexA(nullptr, TRUE, name.c_str());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  HANDLE second = CreateMutexA(nullptr, TRUE, name.c_str());
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  // Owned through the first handle; the owner may take it through the second.
  EXPECT_EQ(WaitForSingleObject(second, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_TRUE(ReleaseMutex(first));
  EXPECT_TRUE(ReleaseMutex(second));
  EXPECT_FALSE(ReleaseMutex(second));
  CloseHandle(first);
  CloseHandle(second);

  std::string tooLong(300, 'x');
  EXPECT_EQ(CreateMutexA(nullptr, FALSE, tooLong.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILENAME_EXCED_RANGE);
}

}  // namespace
