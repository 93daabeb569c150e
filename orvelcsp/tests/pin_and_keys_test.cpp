// The PIN goes to the card; each key role is there only when the key was
// written in it.
#include "fake_reader_test.h"

namespace orvelcsp_test {
namespace {

class PinAndKeys : public FakeReaderTest {
 protected:
  static bool SetPin(HCRYPTPROV provider, const char* pin) {
    return CryptSetProvParam(provider, PP_ADMIN_PIN, reinterpret_cast<const BYTE*>(pin), 0);
  }
  static bool HasKey(HCRYPTPROV provider, DWORD spec) {
    CKeyHandle key;
    if (!CryptGetUserKey(provider, spec, key.Receive())) {
      EXPECT_EQ(GetLastError(), NTE_NO_KEY);
      return false;
    }
    EXPECT_TRUE(key.Reset());
    return true;
  }
};

TEST_F(PinAndKeys, RightPinIsAcceptedAndTheCardForgetsItWithTheContext) {
  auto card = MakeCard(kSerial);
  WriteKeyRecords(*card, {{.reference = 0x20}});
  AddReaderWithCard("Lector", card);
  HCRYPTPROV provider = Acquire(0x20);
  fakepcsc::ClearTrace();
  ASSERT_TRUE(SetPin(provider, kPin));
  EXPECT_TRUE(card->PinVerified());
  // The card object's own VERIFY: the PIN characters, nothing else.
  const auto trace = fakepcsc::Trace();
  ASSERT_FALSE(trace.empty());
  EXPECT_EQ(Hex(trace.back().command), "0020000004" + Hex({'1', '2', '3', '4'}));

  EXPECT_TRUE(m_provider.Release());
  EXPECT_FALSE(card->PinVerified());
  EXPECT_EQ(card->PinTriesLeft(), 3);
}

TEST_F(PinAndKeys, WrongPinFailsAndCountsDown) {
  auto card = MakeCard(kSerial);
  WriteKeyRecords(*card, {{.reference = 0x20}});
  AddReaderWithCard("Lector", card);
  HCRYPTPROV provider = Acquire(0x20);
  SetLastError(0);
  EXPECT_FALSE(SetPin(provider, "9999"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(SCARD_W_WRONG_CHV));
  EXPECT_EQ(card->PinTriesLeft(), 2);
  EXPECT_FALSE(card->PinVerified());
  // The right one still works and restores the counter.
  EXPECT_TRUE(SetPin(provider, kPin));
  EXPECT_EQ(card->PinTriesLeft(), 3);

  for (int i = 0; i < 3; ++i) EXPECT_FALSE(SetPin(provider, "0000"));
  SetLastError(0);
  EXPECT_FALSE(SetPin(provider, kPin));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(SCARD_W_CHV_BLOCKED));

  // No PIN, or one longer than a command carries, is refused without a try.
  EXPECT_FALSE(CryptSetProvParam(provider, PP_ADMIN_PIN, nullptr, 0));
  const std::string tooLong(300, '1');
  EXPECT_FALSE(SetPin(provider, tooLong.c_str()));
  EXPECT_FALSE(
      CryptSetProvParam(provider, PP_KEYEXCHANGE_PIN, reinterpret_cast<const BYTE*>(kPin), 0));
  EXPECT_TRUE(m_provider.Release());
}

TEST_F(PinAndKeys, EachRoleOnlyWhenTheKeyWasWrittenInIt) {
  auto card = MakeCard(kSerial);
  WriteKeyRecords(*card, {{.reference = 0x20, .roleWord = 0x2000},
                          {.reference = 0x21, .roleWord = 0x4400},
                          {.reference = 0x22, .roleWord = 0x6400},
                          {.reference = 0x23, .roleWord = 0x6400, .withPublicRecord = false}});
  AddReaderWithCard("Lector", card);
  struct Expected {
    std::uint8_t reference;
    bool signature;
    bool exchange;
  };
  for (const Expected& e : {Expected{0x20, true, false}, Expected{0x21, false, true},
                            Expected{0x22, true, true}, Expected{0x23, false, false}}) {
    HCRYPTPROV provider = Acquire(e.reference);
    EXPECT_EQ(HasKey(provider, AT_SIGNATURE), e.signature) << int(e.reference);
    EXPECT_EQ(HasKey(provider, AT_KEYEXCHANGE), e.exchange) << int(e.reference);
    EXPECT_FALSE(HasKey(provider, 3));
    EXPECT_TRUE(m_provider.Release());
  }
}

TEST_F(PinAndKeys, CardKeysCannotBeExported) {
  auto card = MakeCard(kSerial);
  WriteKeyRecords(*card, {{.reference = 0x20}});
  AddReaderWithCard("Lector", card);
  HCRYPTPROV provider = Acquire(0x20);
  CKeyHandle key;
  ASSERT_TRUE(CryptGetUserKey(provider, AT_SIGNATURE, key.Receive()));
  Bytes blob(1024);
  DWORD length = static_cast<DWORD>(blob.size());
  SetLastError(0);
  EXPECT_FALSE(CryptExportKey(key.Get(), 0, PRIVATEKEYBLOB, 0, blob.data(), &length));
  EXPECT_EQ(GetLastError(), NTE_BAD_KEY_STATE);
  EXPECT_TRUE(key.Reset());
  EXPECT_TRUE(m_provider.Release());
}

}  // namespace
}  // namespace orvelcsp_test
