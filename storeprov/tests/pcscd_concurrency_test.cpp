// Many processes opening the personal store at once against the same two
// vpcd readers: each opening shows the same certificates, each once.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cardsim/pcscd_rig.h"
#include "platform_test/scoped_user_dir.h"
#include "support/card_certificates.h"
#include "support/tool_run.h"

namespace storeprov_test {
namespace {

constexpr int kProcesses = 16;
constexpr int kOpens = 50;

TEST(ConcurrencyThroughPcscd, SixteenProcessesOpenThePersonalStoreFiftyTimesEach) {
  platform_test::ScopedUserDir userDir;
  cardsim::PcscdRig rig({CardWithCertificates(0x41, KeyedCertificates(2, 80)),
                         CardWithCertificates(0x42, KeyedCertificates(3, 90))});
  rig.Start();
  ASSERT_EQ(Tool("register-provider OrvelCSP liborvelcsp.so").status, 0);
  ASSERT_EQ(Tool("register-module OrvelCertStore.dll").status, 0);

  const auto start = std::chrono::steady_clock::now();
  std::vector<std::unique_ptr<StartedTool>> processes;
  for (int i = 0; i < kProcesses; ++i) {
    processes.push_back(std::make_unique<StartedTool>(std::string(OPEN_PERSONAL_STORE_PATH) + " " +
                                                      std::to_string(kOpens)));
  }
  std::set<std::string> reports;
  for (auto& process : processes) {
    const ToolRun run = process->Finish();
    EXPECT_EQ(run.status, 0) << run.out;
    reports.insert(run.out);
  }
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  ASSERT_EQ(reports.size(), 1u) << "the processes saw different certificates";
  EXPECT_EQ(reports.begin()->rfind("opens=50 certificates=5 ", 0), 0u) << *reports.begin();
  std::printf("%d processes x %d openings: %lld ms\n", kProcesses, kOpens,
              static_cast<long long>(elapsed.count()));
}

}  // namespace
}  // namespace storeprov_test
