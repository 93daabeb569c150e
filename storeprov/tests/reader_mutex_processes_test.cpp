// Two processes populating their stores from the same reader at the same
// moment read its card one after the other: the reader's named mutex keeps
// them apart. Each process has a slow card (a millisecond a command) in a
// reader of the same name, and reports when its card read began and ended.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>

#include "populate_card_store.h"
#include "population_fixture.h"

namespace storeprov_test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kCommandTime = 1ms;

struct ReadSpan {
  std::int64_t ok = 0;
  std::int64_t certificates = 0;
  std::int64_t begin = 0;  // steady clock, nanoseconds: the system's monotonic clock
  std::int64_t end = 0;
};

std::int64_t Nanoseconds(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

// In the child: waits for the start signal, populates, and reports the span
// of its card read (the commands after GET CHIP INFO, which is sent before
// the mutex is taken).
[[noreturn]] void PopulateInChild(int startPipe, int reportPipe, std::uint8_t serial) {
  fakepcsc::Reset();
  fakepcsc::AddReader("Lector compartido");
  fakepcsc::InsertCard("Lector compartido", CardWithCertificates(serial, KeyedCertificates(3)));
  fakepcsc::SetTransmitDelay(kCommandTime);
  char go = 0;
  if (::read(startPipe, &go, 1) < 0) ::_exit(2);

  ReadSpan span;
  {
    MemoryStore store;
    span.ok = PopulateCardStore(store.Get());
    span.certificates = static_cast<std::int64_t>(store.Certificates().size());
  }
  const auto trace = fakepcsc::Trace();
  std::size_t first = 0;
  while (first < trace.size() &&
         !(trace[first].command.size() >= 2 && trace[first].command[0] == 0x90 &&
           trace[first].command[1] == 0xB8)) {
    ++first;
  }
  if (first + 1 < trace.size()) {
    // The first read command began at most one command time before its answer.
    span.begin = Nanoseconds(trace[first + 1].at - kCommandTime);
    span.end = Nanoseconds(trace.back().at);
  }
  const bool written = ::write(reportPipe, &span, sizeof span) == sizeof span;
  ::_exit(written ? 0 : 3);
}

TEST_F(PopulationTest, TwoProcessesReadTheSameReaderOneAfterTheOther) {
  int start[2], report[2];
  ASSERT_EQ(::pipe(start), 0);
  ASSERT_EQ(::pipe(report), 0);
  std::array<pid_t, 2> children{};
  for (std::size_t i = 0; i < children.size(); ++i) {
    children[i] = ::fork();
    ASSERT_GE(children[i], 0);
    if (children[i] == 0) {
      ::close(start[1]);
      ::close(report[0]);
      PopulateInChild(start[0], report[1], static_cast<std::uint8_t>(0x60 + i));
    }
  }
  ::close(start[0]);
  ::close(report[1]);
  ::close(start[1]);  // both children start now

  std::array<ReadSpan, 2> spans{};
  for (ReadSpan& span : spans)
    ASSERT_EQ(::read(report[0], &span, sizeof span), ssize_t{sizeof span});
  ::close(report[0]);
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  for (const ReadSpan& span : spans) {
    EXPECT_EQ(span.ok, 1);
    EXPECT_EQ(span.certificates, 3);
    ASSERT_LT(span.begin, span.end);
  }
  const ReadSpan& earlier = spans[0].begin < spans[1].begin ? spans[0] : spans[1];
  const ReadSpan& later = spans[0].begin < spans[1].begin ? spans[1] : spans[0];
  EXPECT_GE(later.begin, earlier.end)
      << "the reads overlap by " << (earlier.end - later.begin) / 1000 << " us";
}

}  // namespace
}  // namespace storeprov_test
