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

namespace storeprov_test {

// A certificate of a store with what its key-provider information says.
struct StoredCertificate {
  Bytes der;
  bool hasKeyInfo = false;
  std::u16string container;
  std::u16string provider;
  DWORD provType = 0;
  DWORD keySpec = 0;
};

class MemoryStore {
 public:
  MemoryStore();
  ~MemoryStore();
  MemoryStore(const MemoryStore&) = delete;
  MemoryStore& operator=(const MemoryStore&) = delete;
  HCERTSTORE Get() const { return store_; }
  std::vector<StoredCertificate> Certificates() const;

 private:
  HCERTSTORE store_ = nullptr;
};

class PopulationTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // SELECT commands of the certificate directory (6004) since the last
  // StartCounting: how often a card's certificates were read.
  static std::size_t CertificateDirectoryReads();
  static void StartCounting();

  platform_test::ScopedUserDir userDir_;
};

std::u16string Wide(const std::string& text);

}  // namespace storeprov_test
