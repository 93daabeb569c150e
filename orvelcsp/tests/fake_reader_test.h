// The provider against virtual cards in the readers of the in-process fake
// resource manager, which starts and ends every test with no readers.
#pragma once

#include "cardsim/fake_pcsc.h"
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
    fakepcsc::Reset();
    ProviderTest::TearDown();
  }
  // A reader holding the card.
  static void AddReaderWithCard(const std::string& reader,
                                std::shared_ptr<cardsim::VirtualCard> card) {
    fakepcsc::AddReader(reader);
    fakepcsc::InsertCard(reader, std::move(card));
  }
};

}  // namespace orvelcsp_test
