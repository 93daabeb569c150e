// Fixture for the store population and change watching against the fake
// resource manager: a private user directory, no readers, fresh module
// state, and memory stores to fill.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cardsim/fake_pcsc.h"
#include "platform/wincrypt.h"
#include "platform_test/scoped_user_dir.h"
#include "support/card_certificates.h"
#include "support/memory_store.h"

namespace storeprov_test {

class PopulationTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // SELECT commands of the certificate directory (6004) since the last
  // StartCounting: how often a card's certificates were read.
  static std::size_t CertificateDirectoryReads();
  static void StartCounting();
  // The certificates a new store is filled with (a failed population is a
  // test failure).
  static std::vector<StoredCertificate> Populate();

  platform_test::ScopedUserDir m_userDir;
};
}  // namespace storeprov_test
