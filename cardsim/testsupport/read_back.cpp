#include "orvel_test/certificate_files.h"

#include <gtest/gtest.h>

#include <array>

#include "card/card_scope_guards.h"
#include "card/crypto_card.h"

namespace orvel_test {

std::vector<ReadEntry> ReadCertificateEntries(SCARDHANDLE card, int maxCalls,
                                              std::vector<int>* results) {
  CCryptoCard reader(card);
  std::vector<ReadEntry> entries;
  DWORD cursor = 0;
  for (int call = 0; call < maxCalls; ++call) {
    std::array<BYTE, 2048> buffer{};
    DWORD length = buffer.size();
    std::array<char, 128> name{};
    WORD usage = 0;
    const int result = reader.ReadCertificateEntry(&cursor, buffer.data(), &length, name, &usage);
    if (results) results->push_back(result);
    if (result == 0) break;
    ReadEntry& entry = entries.emplace_back();
    if (length != buffer.size()) entry.certificate.emplace(buffer.begin(), buffer.begin() + length);
    entry.containerName = name.data();
    entry.usage = usage;
  }
  return entries;
}

std::vector<ReadEntry> ReadCardCertificates(std::vector<int>* results) {
  CCardContextGuard context;
  EXPECT_TRUE(context.Establish());
  CCardHandleGuard connection;
  EXPECT_TRUE(connection.Connect(context.Context(), kCardName));
  if (!connection.Connected()) return {};
  return ReadCertificateEntries(connection.Card(), 64, results);
}

}  // namespace orvel_test
