// Events, unnamed mutexes, threads and waits within one process.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/kernel.h"
#include "platform_test/scoped_user_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

long ElapsedMs(Clock::time_point since) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

struct Handle {
  HANDLE h;
  explicit Handle(HANDLE handle) : h(handle) {}
  ~Handle() {
    if (h) CloseHandle(h);
  }
};

TEST(Events, ManualResetReleasesEveryWaitUntilReset) {
  Handle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  ASSERT_NE(event.h, nullptr);
  EXPECT_EQ(WaitForSingleObject(event.h, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  ASSERT_TRUE(SetEvent(event.h));
  EXPECT_EQ(WaitForSingleObject(event.h, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(event.h, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  ASSERT_TRUE(ResetEvent(event.h));
  const auto start = Clock::now();
  EXPECT_EQ(WaitForSingleObject(event.h, 50), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_GE(ElapsedMs(start), 45);
}

TEST(Events, AutoResetReleasesOneWait) {
  Handle event(CreateEventA(nullptr, FALSE, TRUE, nullptr));
  EXPECT_EQ(WaitForSingleObject(event.h, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(event.h, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  SetEvent(event.h);
  SetEvent(event.h);  // setting a set event changes nothing
  EXPECT_EQ(WaitForSingleObject(event.h, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(event.h, 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

struct Signaller {
  HANDLE event;
  DWORD delay;
};

unsigned SignalAfterDelay(void* parameter) {
  auto* s = static_cast<Signaller*>(parameter);
  Sleep(s->delay);
  SetEvent(s->event);
  return 0;
}

TEST(Events, AThreadWaitsForAnEventAnotherSets) {
  Handle event(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  Signaller signaller{event.h, 100};
  const auto start = Clock::now();
  Handle thread(reinterpret_cast<HANDLE>(
      _beginthreadex(nullptr, 0, &SignalAfterDelay, &signaller, 0, nullptr)));
  ASSERT_NE(thread.h, nullptr);
  EXPECT_EQ(WaitForSingleObject(event.h, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_GE(ElapsedMs(start), 90);
  EXPECT_LT(ElapsedMs(start), 4000);
  EXPECT_EQ(WaitForSingleObject(thread.h, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
}

TEST(Events, NamesShareOneObjectWithinTheProcess) {
  Handle first(CreateEventA(nullptr, TRUE, FALSE, "evento-compartido"));
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  Handle second(CreateEventA(nullptr, TRUE, FALSE, "evento-compartido"));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  ASSERT_NE(first.h, second.h);
  SetEvent(first.h);
  EXPECT_EQ(WaitForSingleObject(second.h, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  // A mutex may not take an event's name.
  EXPECT_EQ(CreateMutexA(nullptr, FALSE, "evento-compartido"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(Handles, ClosedForgedAndMismatchedHandlesAreRefused) {
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
  EXPECT_FALSE(ReleaseMutex(event));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(SetEvent(mutex));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  ASSERT_TRUE(CloseHandle(event));
  EXPECT_FALSE(CloseHandle(event));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(SetEvent(reinterpret_cast<HANDLE>(0x1234)));
  EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
  // Handles are not reused.
  HANDLE next = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  EXPECT_NE(next, event);
  CloseHandle(next);
  CloseHandle(mutex);
}

TEST(Mutexes, OwnerMayWaitAgainAndMustReleaseAsOften) {
  Handle mutex(CreateMutexA(nullptr, TRUE, nullptr));
  ASSERT_NE(mutex.h, nullptr);
  EXPECT_EQ(WaitForSingleObject(mutex.h, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  std::atomic<DWORD> seen{0};
  auto tryFromOtherThread = [&] {
    std::thread([&] { seen = WaitForSingleObject(mutex.h, 0); }).join();
    return seen.load();
  };
  EXPECT_EQ(tryFromOtherThread(), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_TRUE(ReleaseMutex(mutex.h));
  EXPECT_EQ(tryFromOtherThread(), static_cast<DWORD>(WAIT_TIMEOUT));  // still owned once
  EXPECT_TRUE(ReleaseMutex(mutex.h));
  EXPECT_FALSE(ReleaseMutex(mutex.h));
  EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
  // The other thread takes it, and it is abandoned when that thread ends.
  EXPECT_EQ(tryFromOtherThread(), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(mutex.h, 0), static_cast<DWORD>(WAIT_ABANDONED));
  EXPECT_TRUE(ReleaseMutex(mutex.h));
  EXPECT_EQ(WaitForSingleObject(mutex.h, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_TRUE(ReleaseMutex(mutex.h));
}

TEST(Mutexes, ANonOwnerCannotRelease) {
  Handle mutex(CreateMutexA(nullptr, FALSE, nullptr));
  std::atomic<BOOL> released{TRUE};
  std::atomic<DWORD> error{0};
  ASSERT_EQ(WaitForSingleObject(mutex.h, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  std::thread([&] {
    released = ReleaseMutex(mutex.h);
    error = GetLastError();
  }).join();
  EXPECT_FALSE(released);
  EXPECT_EQ(error, ERROR_NOT_OWNER);
  EXPECT_TRUE(ReleaseMutex(mutex.h));
}

TEST(Mutexes, WaitersQueueUntilTheOwnerReleases) {
  Handle mutex(CreateMutexA(nullptr, FALSE, nullptr));
  ASSERT_EQ(WaitForSingleObject(mutex.h, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
  std::atomic<int> inside{0};
  std::atomic<int> most{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&] {
      for (int k = 0; k < 50; ++k) {
        if (WaitForSingleObject(mutex.h, INFINITE) != WAIT_OBJECT_0) return;
        most = std::max(most.load(), ++inside);
        std::this_thread::yield();
        --inside;
        ReleaseMutex(mutex.h);
      }
    });
  }
  Sleep(20);
  EXPECT_EQ(inside.load(), 0);  // nobody got past the owner
  ReleaseMutex(mutex.h);
  for (auto& t : threads) t.join();
  EXPECT_EQ(most.load(), 1);
}

std::atomic<int> g_ran{0};
void RunAndEndEarly(void* parameter) {
  g_ran = *static_cast<int*>(parameter);
  _endthread();
  g_ran = -1;  // never reached
}

TEST(Threads, BeginThreadRunsTheRoutineAndEndThreadEndsIt) {
  g_ran = 0;
  int value = 42;
  const uintptr_t thread = _beginthread(&RunAndEndEarly, 0, &value);
  ASSERT_NE(thread, static_cast<uintptr_t>(-1));
  for (int i = 0; i < 500 && g_ran == 0; ++i) Sleep(2);
  Sleep(20);
  EXPECT_EQ(g_ran.load(), 42);
  EXPECT_EQ(_beginthread(nullptr, 0, nullptr), static_cast<uintptr_t>(-1));
}

unsigned EndsThroughEndThreadEx(void*) {
  Sleep(30);
  _endthreadex(7);
}

TEST(Threads, ThreadHandlesAreSignalledWhenTheThreadEnds) {
  unsigned id = 0;
  Handle thread(reinterpret_cast<HANDLE>(
      _beginthreadex(nullptr, 64 * 1024, &EndsThroughEndThreadEx, nullptr, 0, &id)));
  ASSERT_NE(thread.h, nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_EQ(WaitForSingleObject(thread.h, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(WaitForSingleObject(thread.h, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(_beginthreadex(nullptr, 0, &EndsThroughEndThreadEx, nullptr, 4 /* CREATE_SUSPENDED */,
                           nullptr),
            0u);
}

TEST(KernelMisc, SleepWaitsAndSecurityDescriptorsNeedTheirRevision) {
  const auto start = Clock::now();
  Sleep(30);
  EXPECT_GE(ElapsedMs(start), 29);

  SECURITY_DESCRIPTOR descriptor;
  std::memset(&descriptor, 0xAB, sizeof descriptor);
  ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
  EXPECT_EQ(descriptor.Revision, 1);
  EXPECT_EQ(descriptor.Control, 0);
  EXPECT_EQ(descriptor.Owner, nullptr);
  EXPECT_EQ(descriptor.Dacl, nullptr);
  EXPECT_FALSE(InitializeSecurityDescriptor(&descriptor, 2));
  EXPECT_EQ(GetLastError(), ERROR_UNKNOWN_REVISION);

  // A named mutex made with such a descriptor, as programs written for the
  // platform make theirs.
  platform_test::ScopedUserDir dir;
  SECURITY_ATTRIBUTES attributes{12, &descriptor, FALSE};
  ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
  Handle mutex(CreateMutexA(&attributes, FALSE, "mutex-con-descriptor"));
  EXPECT_NE(mutex.h, nullptr);
}

}  // namespace
