#include "population_fixture.h"

#include "common/module_instance.h"
#include "platform/module_handle.h"
#include "populate_card_store.h"
#include "reader_state.h"

namespace storeprov_test {

void PopulationTest::SetUp() {
  ModuleInstance = platform::ProgramModule();
  fakepcsc::Reset();
  InitializeReaderState();
}

void PopulationTest::TearDown() {
  ReleaseReaderCaches();
  fakepcsc::Reset();
}

void PopulationTest::StartCounting() { fakepcsc::ClearTrace(); }

std::vector<StoredCertificate> PopulationTest::Populate() {
  MemoryStore store;
  EXPECT_EQ(PopulateCardStore(store.Get()), TRUE);
  return store.Certificates();
}

std::size_t PopulationTest::CertificateDirectoryReads() {
  std::size_t n = 0;
  const Bytes selectCdf = {0x00, 0xA4, 0x00, 0x00, 0x02, 0x60, 0x04};
  for (const auto& entry : fakepcsc::Trace()) {
    if (entry.command == selectCdf) ++n;
  }
  return n;
}
}  // namespace storeprov_test
