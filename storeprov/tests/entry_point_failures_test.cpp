// No exception leaves an exported entry point: with each allocation of a
// call failing in turn, the call returns its failure result (or its normal
// one, where the failure only cost a reader) and never throws.
// DllRegisterServer and DllUnregisterServer have the same guard but are not
// swept: the platform's registration functions they call end the program
// (std::terminate) when an allocation of theirs fails.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>

#include "change_events.h"
#include "common/module_instance.h"
#include "failing_allocation.h"
#include "platform/handle_guards.h"
#include "population_fixture.h"
#include "reader_state.h"
#include "reader_watcher.h"
#include "storeprov/entry_points.h"
#include "support/change_event.h"  // first: the platform defines INFINITE before PC/SC

namespace storeprov_test {
namespace {

struct EntryPointCase {
  const char* name;
  long success;
  long failure;
  // Runs unarmed before every call; returns the call to make.
  std::function<std::function<long()>()> prepare;
};

// Test listings name the entry point instead of dumping the case's bytes.
void PrintTo(const EntryPointCase& entry, std::ostream* out) { *out << entry.name; }

PCCERT_CONTEXT CertificateWithKeyOnCard() {
  const Bytes der = TestCertificate(3);
  PCCERT_CONTEXT context =
      CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
  CRYPT_KEY_PROV_INFO info{};
  WCHAR container[] = u"container";
  WCHAR provider[] = u"OrvelCSP";
  info.pwszContainerName = container;
  info.pwszProvName = provider;
  info.dwProvType = PROV_RSA_FULL;
  CertSetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, 0, &info);
  return context;
}

const EntryPointCase kCases[] = {
    {"CertDllOpenStoreProv", TRUE, FALSE,
     [] {
       InitializeReaderState();
       auto store = std::make_shared<MemoryStore>();
       return std::function<long()>([store] {
         CERT_STORE_PROV_INFO info{};
         return CertDllOpenStoreProv(nullptr, 0, 0, 0, nullptr, store->Get(), &info);
       });
     }},
    {"CertStoreProvControl resync", TRUE, FALSE,
     [] {
       InitializeReaderState();
       TheChangeEventList().Clear();
       auto store = std::make_shared<MemoryStore>();
       auto event = std::make_shared<Event>();
       return std::function<long()>([store, event] {
         return CertStoreProvControl(store->Get(), 0, CERT_STORE_CTRL_RESYNC, event->Address());
       });
     }},
    {"CertStoreProvControl notify", TRUE, FALSE,
     [] {
       TheChangeEventList().Clear();
       auto event = std::make_shared<Event>();
       return std::function<long()>([event] {
         return CertStoreProvControl(nullptr, 0, CERT_STORE_CTRL_NOTIFY_CHANGE, event->Address());
       });
     }},
    {"CertStoreProvWriteCertCallback", TRUE, FALSE,
     [] {
       auto certificate = std::make_shared<CCertificateContext>(CertificateWithKeyOnCard());
       return std::function<long()>([certificate] {
         return CertStoreProvWriteCertCallback(nullptr, certificate->Get(), 0);
       });
     }},
    {"DllMain", TRUE, FALSE,
     [] {
       return std::function<long()>([] {
         const BOOL attached = DllMain(ModuleInstance, DLL_PROCESS_ATTACH, nullptr);
         if (attached) DllMain(ModuleInstance, DLL_PROCESS_DETACH, nullptr);
         return attached;
       });
     }},
};

class EntryPointFailures : public PopulationTest,
                           public ::testing::WithParamInterface<EntryPointCase> {
 protected:
  void SetUp() override {
    PopulationTest::SetUp();
    fakepcsc::AddReader("Lector 0");
    fakepcsc::InsertCard("Lector 0", CardWithCertificates(0x31, KeyedCertificates(2)));
  }
  void TearDown() override {
    StopReaderWatcher();
    TheChangeEventList().Clear();
    PopulationTest::TearDown();
  }
};

TEST_P(EntryPointFailures, AnAllocationFailureAnywhereIsTheFailureResult) {
  const EntryPointCase& entry = GetParam();
  std::function<long()> call;
  long result = 0;
  const std::size_t points = failing_allocation::FailEachAllocation(
      [&] { call = entry.prepare(); },
      [&] {
        try {
          result = call();
        } catch (...) {
          result = -1;
        }
      },
      [&](bool failed) {
        if (failed) {
          EXPECT_TRUE(result == entry.failure || result == entry.success)
              << entry.name << " returned " << result << " (-1: an exception left it)";
        } else {
          EXPECT_EQ(result, entry.success) << entry.name;
        }
        call = nullptr;
      });
  EXPECT_GT(points, 0u) << entry.name << " allocates nothing";
}

INSTANTIATE_TEST_SUITE_P(EveryEntryPoint, EntryPointFailures, ::testing::ValuesIn(kCases),
                         [](const auto& param) {
                           std::string name = param.param.name;
                           for (char& c : name) {
                             if (c == ' ') c = '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace storeprov_test
