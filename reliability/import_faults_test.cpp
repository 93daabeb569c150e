// Breaks each card command of a whole successful import in turn: a transport
// error, the card pulled out, the card reset, or the status word 6A80 at
// command k. Whatever the command, the user is told, the card is left in one
// of the states an interrupted import may leave, the software key container
// is kept or deleted as the path does on failure, and the same PFX then goes
// onto the same card.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "cardsim/fake_pcsc.h"
#include "support/fault_bench.h"

namespace reliability {
namespace {

struct FaultCase {
  std::size_t command = 0;  // 1-based, of the commands of a clean import
  CardFault fault = CardFault::TransportError;
};

void PrintTo(const FaultCase& c, std::ostream* out) {
  *out << ImportPathName() << " command " << c.command << " " << FaultName(c.fault);
}

// The number of commands a clean import sends, counted on a bench of its own.
std::size_t CleanImportCommands() {
  CFaultBench bench;
  const std::unique_ptr<CImportPath> path = MakeImportPath();
  fakepcsc::ClearFaults();
  fakepcsc::ClearTrace();
  const ImportRun run = path->Import(CFaultBench::Pfx());
  const std::size_t commands = fakepcsc::TransmitCount();
  // ORVEL_FAULT_TRACE=1 lists the commands, to tell which one k is.
  if (std::getenv("ORVEL_FAULT_TRACE") != nullptr) {
    std::size_t number = 0;
    for (const fakepcsc::TraceEntry& entry : fakepcsc::Trace()) {
      std::printf("%3zu ", ++number);
      for (std::size_t i = 0; i < entry.command.size() && i < 8; ++i) {
        std::printf(" %02X", entry.command[i]);
      }
      std::printf("\n");
    }
  }
  std::string why;
  if (!run.succeeded || ClassifyCard(bench.Card(), &why) != LeftState::Installed) {
    ADD_FAILURE() << "the clean import did not go through";
    return 0;
  }
  return commands;
}

std::vector<FaultCase> AllCases() {
  std::vector<FaultCase> cases;
  const std::size_t commands = CleanImportCommands();
  for (CardFault fault : kAllFaults) {
    for (std::size_t k = 1; k <= commands; ++k) cases.push_back({k, fault});
  }
  return cases;
}

// What the broken imports left, counted for the summary at the end of the
// run.
std::map<std::string, int>& Outcomes() {
  static std::map<std::string, int> outcomes;
  return outcomes;
}
// The commands whose fault the import went through anyway, per fault.
std::map<std::string, std::string>& Unharmed() {
  static std::map<std::string, std::string> unharmed;
  return unharmed;
}

class OutcomeSummary : public ::testing::Environment {
 public:
  void TearDown() override {
    int faults = 0;
    for (const auto& [outcome, count] : Outcomes()) faults += count;
    std::printf("%s: %d faults injected\n", ImportPathName(), faults);
    for (const auto& [outcome, count] : Outcomes())
      std::printf("  %5d  %s\n", count, outcome.c_str());
    for (const auto& [fault, commands] : Unharmed()) {
      std::printf("  %s at commands%s: the import went through\n", fault.c_str(), commands.c_str());
    }
  }
};
// The framework owns registered environments.
::testing::Environment* const kOutcomeSummary =
    ::testing::AddGlobalTestEnvironment(new OutcomeSummary);

class ImportFault : public ::testing::TestWithParam<FaultCase> {
 protected:
  CFaultBench m_bench;
  std::unique_ptr<CImportPath> m_path = MakeImportPath();
};

TEST_P(ImportFault, LeavesAnAllowedStateAndTheImportCanBeRepeated) {
  const FaultCase& c = GetParam();
  fakepcsc::ClearFaults();
  fakepcsc::ClearTrace();
  InjectFault(c.command, c.fault);
  const ImportRun first = m_path->Import(CFaultBench::Pfx());
  const std::size_t sent = fakepcsc::TransmitCount();
  fakepcsc::ClearFaults();
  ASSERT_GE(sent, c.command) << "the fault was never reached";

  std::string why;
  const LeftState state = ClassifyCard(m_bench.Card(), &why);
  SCOPED_TRACE(std::string("left: ") + LeftStateName(state) + " (" + why + ")");
  // A certificate file that no record names: the card's provider could not
  // delete it again (card gone); nothing reads it, and the next certificate
  // takes another identifier.
  const CardContents contents = InspectCard(m_bench.Card());
  const bool strayFile = contents.cdfEmpty && !contents.certificateFiles.empty();
  ++Outcomes()[std::string(FaultName(c.fault)) + ": " +
               (first.succeeded ? "import went through" : "failure shown") + ", card left " +
               LeftStateName(state) + (strayFile ? " + unreferenced certificate file" : "")];
  if (first.succeeded) {
    Unharmed()[FaultName(c.fault)] += " " + std::to_string(c.command);
    EXPECT_EQ(state, LeftState::Installed) << "reported success";
    EXPECT_TRUE(first.failureMessages.empty());
    EXPECT_EQ(orvel_test::SoftwareKeyContainers(), 0u);
  } else {
    EXPECT_FALSE(first.failureMessages.empty()) << "failed without telling the user";
    EXPECT_TRUE(state == LeftState::NothingNew || state == LeftState::KeyWithoutCertificate ||
                (state == LeftState::Unreachable && c.fault == CardFault::CardRemoved))
        << "not an allowed state";
    EXPECT_EQ(orvel_test::SoftwareKeyContainers(), m_path->KeepsSoftwareKeyOnFailure() ? 1u : 0u);
  }

  // The same PFX again, nothing broken this time.
  m_bench.ReinsertCardIfRemoved();
  const std::size_t containersBefore = orvel_test::SoftwareKeyContainers();
  const ImportRun second = m_path->Import(CFaultBench::Pfx());
  EXPECT_TRUE(second.succeeded);
  EXPECT_TRUE(second.failureMessages.empty()) << second.failureMessages.front();
  EXPECT_EQ(orvel_test::SoftwareKeyContainers(), containersBefore);
  ExpectCertificateInstalled(m_bench.Card(), state == LeftState::Unreachable);
}

INSTANTIATE_TEST_SUITE_P(EveryCommand, ImportFault, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<FaultCase>& param) {
                           std::string number = std::to_string(param.param.command);
                           number.insert(0, 3 - std::min<std::size_t>(3, number.size()), '0');
                           return std::string(ImportPathName()) + "_" + number + "_" +
                                  FaultName(param.param.fault);
                         });

}  // namespace
}  // namespace reliability
