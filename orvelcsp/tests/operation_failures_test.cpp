// No exception leaves the provider's operations: with each allocation of an
// operation failing in turn, the operation returns an error (NTE_NO_MEMORY,
// or the card error a failed exchange gives) or succeeds, where the failure
// was absorbed, and never throws.
#include <functional>

#include "failing_allocation.h"
#include "fake_reader_test.h"
#include "platform/module_loader.h"
#include "platform/provider_module.h"

namespace orvelcsp_test {
namespace {

class OperationFailures : public FakeReaderTest {
 protected:
  void SetUp() override {
    FakeReaderTest::SetUp();
    m_module = LoadLibraryA("orvelcsp.dll");
    ASSERT_NE(m_module, nullptr) << platform::LastModuleLoadErrorText();
    auto entry = reinterpret_cast<PFN_ORVEL_GET_PROVIDER_FUNCTIONS>(
        GetProcAddress(m_module, ORVEL_PROVIDER_ENTRY_POINT));
    ASSERT_NE(entry, nullptr);
    m_functions = entry();
  }
  void TearDown() override {
    if (m_module != nullptr) FreeLibrary(m_module);
    FakeReaderTest::TearDown();
  }
  // A fresh card holding a key under reference 0x20 in both roles.
  static void PrepareCard() {
    fakepcsc::Reset();
    auto card = MakeCard(kSerial);
    WriteKeyRecords(*card, {{.reference = 0x20, .id = card_test::MakeKeyId(0x40)}});
    AddReaderWithCard("Lector", card);
  }
  // Sweeps the operation: no call throws, and the last, without a failure,
  // succeeds.
  void Sweep(const char* name, const std::function<void()>& prepare,
             const std::function<DWORD()>& operation, const std::function<void()>& release) {
    DWORD result = 0;
    const std::size_t points = failing_allocation::FailEachAllocation(
        prepare,
        [&] {
          try {
            result = operation();
          } catch (...) {
            result = 0xFFFFFFFF;
          }
        },
        [&](bool failed) {
          if (failed) {
            EXPECT_NE(result, 0xFFFFFFFFUL) << name << " let an exception out";
          } else {
            EXPECT_EQ(result, static_cast<DWORD>(ERROR_SUCCESS)) << name;
          }
          release();
        });
    EXPECT_GT(points, 0u) << name;
  }

  HMODULE m_module = nullptr;
  const ORVEL_PROVIDER_FUNCTIONS* m_functions = nullptr;
};

TEST_F(OperationFailures, AnAllocationFailureAnywhereIsAnError) {
  const std::string container = ContainerName(kSerial, 0x6400, 0x20);
  ULONG_PTR provider = 0, key = 0, hash = 0;
  auto releaseAll = [&] {
    if (hash != 0) m_functions->DestroyHash(hash);
    if (key != 0) m_functions->DestroyKey(key);
    if (provider != 0) m_functions->ReleaseContext(provider);
    hash = key = provider = 0;
  };
  auto acquire = [&] {
    PrepareCard();
    ASSERT_EQ(
        m_functions->AcquireContext(container.c_str(), "OrvelCSP", PROV_RSA_FULL, 0, &provider),
        static_cast<DWORD>(ERROR_SUCCESS));
  };
  Sweep(
      "AcquireContext", PrepareCard,
      [&] {
        return m_functions->AcquireContext(container.c_str(), "OrvelCSP", PROV_RSA_FULL, 0,
                                           &provider);
      },
      releaseAll);
  Sweep(
      "SetProvParam", acquire,
      [&] {
        return m_functions->SetProvParam(provider, PP_ADMIN_PIN,
                                         reinterpret_cast<const BYTE*>(kPin), 0);
      },
      releaseAll);
  Sweep(
      "CreateHash", acquire, [&] { return m_functions->CreateHash(provider, CALG_SHA1, 0, &hash); },
      releaseAll);
  const Bytes der = CertificateDer();
  Sweep(
      "SetKeyParam",
      [&] {
        acquire();
        ASSERT_EQ(m_functions->SetProvParam(provider, PP_ADMIN_PIN,
                                            reinterpret_cast<const BYTE*>(kPin), 0),
                  static_cast<DWORD>(ERROR_SUCCESS));
        ASSERT_EQ(m_functions->GetUserKey(provider, AT_SIGNATURE, &key),
                  static_cast<DWORD>(ERROR_SUCCESS));
      },
      [&] { return m_functions->SetKeyParam(key, KP_CERTIFICATE, der.data(), 0); }, releaseAll);
}

}  // namespace
}  // namespace orvelcsp_test
