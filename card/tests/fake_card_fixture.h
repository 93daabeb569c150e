// Fixture for tests of the card library against the fake resource manager:
// a private user directory whose card database knows "DRAV-NOR" by the
// virtual card's ATR, a fresh fake with no readers, a context, and the
// program's string tables reachable through ModuleInstance.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "card/card_connection.h"
#include "cardsim/fake_pcsc.h"
#include "platform/handle_guards.h"
#include "platform_test/scoped_user_dir.h"

namespace card_test {

using Bytes = std::vector<std::uint8_t>;

class FakeCardTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Adds a reader holding a fresh card (PIN "1234") made from spec.
  std::shared_ptr<cardsim::VirtualCard> AddReaderWithCard(const std::string& reader,
                                                          const cardsim::CardSpec& spec = {});
  // Connects shared with T=0, as the library does.
  SCARDHANDLE Connect(const std::string& reader);
  // Forget the commands and faults so far: the next command is number 1.
  static void StartCounting();
  static std::vector<Bytes> Commands();

  platform_test::ScopedUserDir m_userDir;
  CResourceManagerContext m_context;
  std::vector<SCARDHANDLE> m_handles;
};

}  // namespace card_test
