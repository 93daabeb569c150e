// The provider against virtual cards in the readers of the in-process fake
// resource manager, which starts and ends every test with no readers; a
// provider context of the test's, released before the readers go.
#pragma once

#include "cardsim/fake_pcsc.h"
#include "platform/handle_guards.h"
#include "platform/winscard_ext.h"
#include "provider_test_support.h"

namespace orvelcsp_test {

class FakeReaderTest : public ProviderTest {
 protected:
  void SetUp() override {
    ProviderTest::SetUp();
    fakepcsc::Reset();
  }
  void TearDown() override {
    m_provider.Release();
    fakepcsc::Reset();
    ProviderTest::TearDown();
  }
  // A reader holding the card.
  static void AddReaderWithCard(const std::string& reader,
                                std::shared_ptr<cardsim::VirtualCard> card) {
    fakepcsc::AddReader(reader);
    fakepcsc::InsertCard(reader, std::move(card));
  }
  // The context of key container 6400/reference of the card kSerial, held
  // by the fixture and released before the readers go.
  HCRYPTPROV Acquire(std::uint8_t reference = 0x20, DWORD flags = 0) {
    const std::string name = ContainerName(kSerial, 0x6400, reference);
    EXPECT_TRUE(
        CryptAcquireContextA(m_provider.Receive(), name.c_str(), "OrvelCSP", PROV_RSA_FULL, flags))
        << std::hex << GetLastError();
    return m_provider.Get();
  }

  CProviderContext m_provider;
};

}  // namespace orvelcsp_test
