// The virtual card's behaviour, reached through the fake PC/SC library's
// SCard* API (shared mode, T=0) as the card library reaches it.
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include <unistd.h>

#include "cardsim_test_support.h"
#include "orvel_test/temp_dir.h"

namespace cardsim_test {
namespace {

using cardsim::KeyRole;

class Card : public CardFixture {};

// ----------------------------------------------------------------- SELECT, FCI

TEST_F(Card, SelectMasterFileAnswers61xxAndGetResponseGivesTheFci) {
  EXPECT_EQ(Tx(SelectName(kMasterFileName)), (Bytes{0x61, 0x16}));
  Bytes fci = Tx({0x00, 0xC0, 0x00, 0x00, 0x16});
  EXPECT_EQ(SwOf(fci), 0x9000);
  EXPECT_EQ(DataOf(fci), Cat({0x6F, 0x14, 0x83, 0x02, 0x3F, 0x00, 0x82, 0x01, 0x38, 0x84, 0x0B},
                             kMasterFileName));
}

TEST_F(Card, GetResponseWithWrongLeAnswers6CxxAndKeepsTheResponse) {
  ASSERT_EQ(Tx(SelectName(kMasterFileName)), (Bytes{0x61, 0x16}));
  EXPECT_EQ(Tx({0x00, 0xC0, 0x00, 0x00, 0x10}), (Bytes{0x6C, 0x16}));
  EXPECT_EQ(Tx({0x00, 0xC0, 0x00, 0x00, 0x00}), (Bytes{0x6C, 0x16}));  // Le 00 = 256
  // The wrong-length answer is what the transport recorded.
  auto trace = fakepcsc::Trace();
  ASSERT_EQ(trace.size(), 3u);
  EXPECT_EQ(trace[1].command, (Bytes{0x00, 0xC0, 0x00, 0x00, 0x10}));
  EXPECT_EQ(trace[1].answer, (Bytes{0x6C, 0x16}));
  // Re-sent with the right length (the library never does), it still works.
  EXPECT_EQ(SwOf(Tx({0x00, 0xC0, 0x00, 0x00, 0x16})), 0x9000);
  // Once fetched, or after another command, there is nothing left to get.
  EXPECT_EQ(Sw({0x00, 0xC0, 0x00, 0x00, 0x16}), 0x6985);
}

TEST_F(Card, FciOfDfsAndEfs) {
  Bytes fci;
  ASSERT_EQ(SelectAndFetch(SelectName(kMasterFileName)), 0x9000);
  ASSERT_EQ(SelectAndFetch(SelectName(kCryptoName), &fci), 0x9000);
  EXPECT_EQ(fci,
            Cat({0x6F, 0x13, 0x83, 0x02, 0x3F, 0x11, 0x82, 0x01, 0x38, 0x84, 0x0A}, kCryptoName));
  ASSERT_EQ(SelectAndFetch(SelectName(kMasterFileName)), 0x9000);
  ASSERT_EQ(SelectAndFetch(SelectName(kPkcs15Aid), &fci), 0x9000);
  EXPECT_EQ(fci,
            Cat({0x6F, 0x15, 0x83, 0x02, 0x50, 0x15, 0x82, 0x01, 0x38, 0x84, 0x0C}, kPkcs15Aid));
  ASSERT_EQ(SelectAndFetch(SelectId(0x6001), &fci), 0x9000);
  EXPECT_EQ(fci,
            (Bytes{0x6F, 0x0B, 0x83, 0x02, 0x60, 0x01, 0x80, 0x02, 0x04, 0x00, 0x82, 0x01, 0x01}));
}

TEST_F(Card, SelectionByIdentifierIsRelativeToTheCurrentDf) {
  // From the master file the application's files are not children.
  ASSERT_EQ(SelectAndFetch(SelectName(kMasterFileName)), 0x9000);
  EXPECT_EQ(Sw(SelectId(0x6001)), 0x6A82);
  EXPECT_EQ(Sw(SelectId(0x3F77)), 0x6A82);
  // Children of the MF by identifier.
  EXPECT_EQ(Tx(SelectId(0x3F11)), (Bytes{0x61, 0x15}));
  EXPECT_EQ(Tx(SelectId(0x3F77)), (Bytes{0x61, 0x0D}));
  // The parent, the MF and the DF itself.
  EXPECT_EQ(Tx(SelectId(0x3F11)), (Bytes{0x61, 0x15}));
  EXPECT_EQ(Tx(SelectId(0x3F00)), (Bytes{0x61, 0x16}));
  EXPECT_EQ(Tx(SelectId(0x5015)), (Bytes{0x61, 0x17}));
  EXPECT_EQ(Tx(SelectId(0x5031)), (Bytes{0x61, 0x0D}));
  // DF names: the MF name, and the children of the MF, from anywhere.
  EXPECT_EQ(Tx(SelectName(kCryptoName)), (Bytes{0x61, 0x15}));
  EXPECT_EQ(Tx(SelectName(kMasterFileName)), (Bytes{0x61, 0x16}));
  EXPECT_EQ(Sw(SelectName(Text("No.Such.DF"))), 0x6A82);
  EXPECT_EQ(Sw(SelectId(0x1234)), 0x6A82);
}

TEST_F(Card, FreshCardObjectDirectoryAndDirectoryFiles) {
  ASSERT_EQ(SelectPath(kPkcs15Aid, 0x5031), 0x9000);
  Bytes odf = Tx({0x00, 0xB0, 0x00, 0x00, 0x28});
  ASSERT_EQ(SwOf(odf), 0x9000);
  EXPECT_EQ(HexOf(DataOf(odf)),
            "A0 06 30 04 04 02 60 01 A1 06 30 04 04 02 60 02 A4 06 30 04 04 02 60 04 "
            "A7 06 30 04 04 02 60 05 A8 06 30 04 04 02 60 00");
  // After the entries: FF, the end of the object directory.
  Bytes rest = Tx({0x00, 0xB0, 0x00, 0x28, 0x18});
  EXPECT_EQ(DataOf(rest), Bytes(0x18, 0xFF));
  for (std::uint16_t fid : {0x6000, 0x6001, 0x6002, 0x6004, 0x6005}) {
    auto contents = m_card->ReadFile({cardsim::kPkcs15Df, fid});
    ASSERT_TRUE(contents) << std::hex << fid;
    EXPECT_EQ(*contents, Bytes(contents->size(), 0)) << std::hex << fid;
  }
  EXPECT_EQ(m_card->ReadFile({cardsim::kPkcs15Df, 0x6001})->size(), 1024u);
  EXPECT_EQ(m_card->ListFiles({}), (std::vector<std::uint16_t>{0x3F11, 0x5015}));
  EXPECT_EQ(m_card->ListFiles({0x3F11}), (std::vector<std::uint16_t>{0x3F77, 0x3F78}));
}

// ----------------------------------------------------------------- READ / UPDATE BINARY

TEST_F(Card, ReadPastTheEndIsRefusedAndTheFileNotGrown) {
  ASSERT_EQ(SelectPath(kPkcs15Aid, 0x6001), 0x9000);                   // 1024 bytes
  EXPECT_EQ(Tx({0x00, 0xB0, 0x04, 0x00, 0x04}), (Bytes{0x6B, 0x00}));  // offset at the end
  EXPECT_EQ(Tx({0x00, 0xB0, 0x05, 0x00, 0x04}), (Bytes{0x6B, 0x00}));  // beyond
  EXPECT_EQ(Tx({0x00, 0xB0, 0x03, 0xF0, 0x20}), (Bytes{0x6C, 0x10}));  // 16 bytes left
  EXPECT_EQ(Tx({0x00, 0xB0, 0x03, 0xF0, 0x00}), (Bytes{0x6C, 0x10}));  // Le 00 = 256
  Bytes last = Tx({0x00, 0xB0, 0x03, 0xF0, 0x10});
  EXPECT_EQ(SwOf(last), 0x9000);
  EXPECT_EQ(DataOf(last).size(), 0x10u);
  Bytes whole = Tx({0x00, 0xB0, 0x00, 0x00, 0x00});
  EXPECT_EQ(DataOf(whole).size(), 256u);
  EXPECT_EQ(m_card->ReadFile({0x5015, 0x6001})->size(), 1024u);
}

TEST_F(Card, UpdatePastTheEndIsRefusedAndTheFileNotGrown) {
  ASSERT_EQ(VerifyPin("1234"), 0x9000);
  ASSERT_EQ(SelectPath(kPkcs15Aid, 0x6001), 0x9000);
  EXPECT_EQ(Sw(Cat({0x00, 0xD6, 0x03, 0xF0, 0x20}, Bytes(0x20, 0xAA))), 0x6A84);
  EXPECT_EQ(Sw(Cat({0x00, 0xD6, 0x04, 0x00, 0x01}, Bytes(1, 0xAA))), 0x6B00);
  auto contents = m_card->ReadFile({0x5015, 0x6001});
  ASSERT_TRUE(contents);
  EXPECT_EQ(*contents, Bytes(1024, 0));  // neither grown nor partly written
  EXPECT_EQ(Sw(Cat({0x00, 0xD6, 0x03, 0xF0, 0x10}, Bytes(0x10, 0xAA))), 0x9000);
  contents = m_card->ReadFile({0x5015, 0x6001});
  EXPECT_EQ(contents->size(), 1024u);
  EXPECT_EQ(Bytes(contents->begin() + 0x3F0, contents->end()), Bytes(0x10, 0xAA));
  Bytes back = Tx({0x00, 0xB0, 0x03, 0xF0, 0x10});
  EXPECT_EQ(DataOf(back), Bytes(0x10, 0xAA));
}

TEST_F(Card, UpdateBinaryNeedsThePinAndACurrentEf) {
  ASSERT_EQ(SelectPath(kPkcs15Aid, 0x6001), 0x9000);
  EXPECT_EQ(Sw({0x00, 0xD6, 0x00, 0x00, 0x02, 0x30, 0x00}), 0x6982);
  EXPECT_EQ(*m_card->ReadFile({0x5015, 0x6001}), Bytes(1024, 0));
  ASSERT_EQ(VerifyPin("1234"), 0x9000);
  ASSERT_EQ(SelectPath(kPkcs15Aid), 0x9000);  // a DF, no EF
  EXPECT_EQ(Sw({0x00, 0xD6, 0x00, 0x00, 0x02, 0x30, 0x00}), 0x6986);
  EXPECT_EQ(Sw({0x00, 0xB0, 0x00, 0x00, 0x02}), 0x6986);
  // Key files are not transparent.
  ASSERT_EQ(SelectPath(kCryptoName, 0x3F77), 0x9000);
  EXPECT_EQ(Sw({0x00, 0xB0, 0x00, 0x00, 0x02}), 0x6981);
}

// ----------------------------------------------------------------- PIN

TEST_F(Card, PinCounterCountsDownBlocksAndIsRestoredByTheRightPin) {
  ASSERT_EQ(SelectPath(kCryptoName), 0x9000);
  const Bytes wrong = {0x00, 0x20, 0x00, 0x00, 0x04, '9', '9', '9', '9'};
  const Bytes right = {0x00, 0x20, 0x00, 0x00, 0x04, '1', '2', '3', '4'};
  EXPECT_EQ(Sw(wrong), 0x63C2);
  EXPECT_EQ(Sw(wrong), 0x63C1);
  EXPECT_EQ(m_card->PinTriesLeft(), 1);
  EXPECT_EQ(Sw(right), 0x9000);
  EXPECT_EQ(m_card->PinTriesLeft(), 3);
  EXPECT_TRUE(m_card->PinVerified());
  EXPECT_EQ(Sw(wrong), 0x63C2);
  EXPECT_FALSE(m_card->PinVerified());
  EXPECT_EQ(Sw(wrong), 0x63C1);
  EXPECT_EQ(Sw(wrong), 0x6983);
  EXPECT_EQ(m_card->PinTriesLeft(), 0);
  EXPECT_EQ(Sw(right), 0x6983);  // blocked: the right PIN no longer helps
  EXPECT_FALSE(m_card->PinVerified());
  EXPECT_EQ(Sw({0x00, 0x20, 0x00, 0x00, 0x00}), 0x6983);
}

TEST_F(Card, VerifyWithoutDataReportsTheCounterAndVerifiesNothing) {
  ASSERT_EQ(SelectPath(kCryptoName), 0x9000);
  EXPECT_EQ(Sw({0x00, 0x20, 0x00, 0x00, 0x00}), 0x63C3);
  EXPECT_FALSE(m_card->PinVerified());
  EXPECT_EQ(m_card->PinTriesLeft(), 3);
  EXPECT_EQ(Sw({0x90, 0x54, 0x40, 0x20, 0x00}), 0x6982);
  EXPECT_EQ(Sw({0x00, 0x20, 0x00, 0x00, 0x04, '0', '0', '0', '0'}), 0x63C2);
  EXPECT_EQ(Sw({0x00, 0x20, 0x00, 0x00, 0x00}), 0x63C2);
  EXPECT_EQ(Sw({0x00, 0x20, 0x00, 0x00, 0x04, '1', '2', '3', '4'}), 0x9000);
  EXPECT_EQ(Sw({0x00, 0x20, 0x00, 0x00, 0x00}), 0x9000);  // already verified
  EXPECT_EQ(m_card->PinTriesLeft(), 3);
}

TEST_F(Card, VerifyOutsideIccCryptoIsRefused) {
  ASSERT_EQ(SelectPath(kMasterFileName), 0x9000);
  EXPECT_EQ(Sw({0x00, 0x20, 0x00, 0x00, 0x04, '1', '2', '3', '4'}), 0x6985);
  ASSERT_EQ(SelectPath(kPkcs15Aid), 0x9000);
  EXPECT_EQ(Sw({0x00, 0x20, 0x00, 0x00, 0x04, '1', '2', '3', '4'}), 0x6985);
  EXPECT_EQ(m_card->PinTriesLeft(), 3);
  // An EF selected inside ICC.Crypto keeps ICC.Crypto the current DF.
  ASSERT_EQ(SelectPath(kCryptoName, 0x3F78), 0x9000);
  EXPECT_EQ(Sw({0x00, 0x20, 0x00, 0x00, 0x04, '1', '2', '3', '4'}), 0x9000);
}

TEST_F(Card, CommandsThatNeedThePinAreRefusedWithoutIt) {
  EXPECT_EQ(Sw(Cat({0x90, 0x50, 0x40, 0x20, 0x82, 0x14, 0x80}, Bytes(128, 1))), 0x6982);
  EXPECT_EQ(Sw({0x90, 0x50, 0x40, 0x20, 0x05, 0x12, 0x03, 0x01, 0x00, 0x01}), 0x6982);
  EXPECT_EQ(Sw(Cat({0x90, 0x52, 0x80, 0x20, 0x42, 0x02, 0x40}, Bytes(64, 1))), 0x6982);
  EXPECT_EQ(Sw({0x90, 0x54, 0x40, 0x20, 0x00}), 0x6982);
  EXPECT_EQ(Sw({0x80, 0xE0, 0x00, 0x00, 0x04, 0x3F, 0x80, 0x01, 0x00}), 0x6982);
  EXPECT_EQ(Sw({0x80, 0xE4, 0x00, 0x00, 0x02, 0x3F, 0x80}), 0x6982);
  ASSERT_EQ(SelectPath(kPkcs15Aid, 0x6004), 0x9000);
  EXPECT_EQ(Sw({0x00, 0xD6, 0x00, 0x00, 0x01, 0x30}), 0x6982);
  EXPECT_TRUE(m_card->Keys().empty());
}

class CardDisposition : public CardFixture, public ::testing::WithParamInterface<DWORD> {};

TEST_P(CardDisposition, VerifiedStateEndsWithResetOrPowerDown) {
  ASSERT_EQ(VerifyPin("1234"), 0x9000);
  ASSERT_EQ(SelectPath(kPkcs15Aid, 0x6001), 0x9000);
  Disconnect(GetParam());
  Connect();
  const bool kept = GetParam() == SCARD_LEAVE_CARD;
  EXPECT_EQ(m_card->PinVerified(), kept);
  // The current file went back to the master file (or stayed, when left alone).
  EXPECT_EQ(Sw({0x00, 0xB0, 0x00, 0x00, 0x01}), kept ? 0x9000 : 0x6986);
  EXPECT_EQ(Sw({0x90, 0x54, 0x40, 0x20, 0x00}), kept ? 0x9000 : 0x6982);
}

INSTANTIATE_TEST_SUITE_P(Dispositions, CardDisposition,
                         ::testing::Values(SCARD_LEAVE_CARD, SCARD_RESET_CARD, SCARD_UNPOWER_CARD,
                                           SCARD_EJECT_CARD));

// ----------------------------------------------------------------- GET CHIP INFO, errors

TEST_F(Card, ChipInfoHas18BytesWithTheSerialAt10To15) {
  Bytes a = Tx({0x90, 0xB8, 0x00, 0x00, 0x12});
  ASSERT_EQ(a.size(), 20u);
  EXPECT_EQ(SwOf(a), 0x9000);
  EXPECT_EQ(Bytes(a.begin() + 10, a.begin() + 16), (Bytes{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB}));
  EXPECT_NE(a[0], 0);
  for (int i : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 16, 17}) EXPECT_NE(a[i], 0) << i;
  EXPECT_EQ(DataOf(a), m_card->ChipInfo());
  EXPECT_EQ(Tx({0x90, 0xB8, 0x00, 0x00, 0x10}), (Bytes{0x6C, 0x12}));
  EXPECT_EQ(Tx({0x90, 0xB8, 0x00, 0x00, 0x00}), (Bytes{0x6C, 0x12}));
  EXPECT_EQ(Tx({0x90, 0xB8, 0x00, 0x00, 0x12}), a);  // the same every time
}

TEST_F(Card, UnknownClassInstructionParametersAndLengths) {
  EXPECT_EQ(Sw({0x00, 0xCA, 0x00, 0x00, 0x00}), 0x6D00);
  EXPECT_EQ(Sw({0x90, 0xA4, 0x04, 0x00, 0x00}), 0x6D00);
  EXPECT_EQ(Sw({0x80, 0xB0, 0x00, 0x00, 0x00}), 0x6D00);
  EXPECT_EQ(Sw({0xA0, 0xA4, 0x00, 0x00, 0x02, 0x3F, 0x00}), 0x6E00);
  EXPECT_EQ(Sw({0xFF, 0xB8, 0x00, 0x00, 0x12}), 0x6E00);
  EXPECT_EQ(Sw({0x00, 0xA4, 0x02, 0x00, 0x02, 0x3F, 0x00}), 0x6A86);  // P1 unsupported
  EXPECT_EQ(Sw({0x90, 0xB8, 0x01, 0x00, 0x12}), 0x6A86);
  EXPECT_EQ(Sw({0x00, 0xA4, 0x00, 0x00, 0x03, 0x3F, 0x00}), 0x6700);  // Lc differs from data
  EXPECT_EQ(Sw({0x00, 0xA4, 0x00, 0x00, 0x01, 0x3F}), 0x6700);        // identifier of 1 byte
  EXPECT_EQ(Sw({0x00, 0xC0, 0x00, 0x00, 0x01, 0x00}), 0x6700);        // data where Le belongs
  EXPECT_EQ(Sw({0x00, 0xA4}), 0x6700);
  ASSERT_EQ(VerifyPin("1234"), 0x9000);
  EXPECT_EQ(Sw({0x90, 0x54, 0x41, 0x20, 0x00}), 0x6A86);  // ERASE KEY wants P1 40
  EXPECT_EQ(Sw(Cat({0x90, 0x52, 0x20, 0x20, 0x42, 0x02, 0x40}, Bytes(64, 1))), 0x6A86);
  EXPECT_EQ(Sw(Cat({0x90, 0x52, 0x40, 0x20, 0x41, 0x02, 0x40}, Bytes(63, 1))), 0x6700);
  EXPECT_EQ(Sw(Cat({0x90, 0x52, 0x40, 0x20, 0x42, 0x0C, 0x40}, Bytes(64, 1))), 0x6A80);
  EXPECT_EQ(Sw(Cat({0x90, 0x50, 0x40, 0x20, 0x42, 0x14, 0x40}, Bytes(64, 1))), 0x6A80);
  EXPECT_TRUE(m_card->Keys().empty());
}

// ----------------------------------------------------------------- keys

struct RsaParts {
  Bytes n, e, p, q, dmp1, dmq1, iqmp;  // big-endian; n 128 bytes, the rest 64
};

Bytes BnParam(EVP_PKEY* pkey, const char* name, int width) {
  BIGNUM* bn = nullptr;
  EXPECT_EQ(EVP_PKEY_get_bn_param(pkey, name, &bn), 1) << name;
  Bytes out(static_cast<std::size_t>(width));
  EXPECT_EQ(BN_bn2binpad(bn, out.data(), width), width) << name;
  BN_free(bn);
  return out;
}

RsaParts GenerateRsa1024() {
  EVP_PKEY* pkey = EVP_RSA_gen(1024);
  EXPECT_NE(pkey, nullptr);
  RsaParts k;
  k.n = BnParam(pkey, OSSL_PKEY_PARAM_RSA_N, 128);
  k.e = BnParam(pkey, OSSL_PKEY_PARAM_RSA_E, 3);
  k.p = BnParam(pkey, OSSL_PKEY_PARAM_RSA_FACTOR1, 64);
  k.q = BnParam(pkey, OSSL_PKEY_PARAM_RSA_FACTOR2, 64);
  k.dmp1 = BnParam(pkey, OSSL_PKEY_PARAM_RSA_EXPONENT1, 64);
  k.dmq1 = BnParam(pkey, OSSL_PKEY_PARAM_RSA_EXPONENT2, 64);
  k.iqmp = BnParam(pkey, OSSL_PKEY_PARAM_RSA_COEFFICIENT1, 64);
  EVP_PKEY_free(pkey);
  return k;
}

// The key commands as the key installation sends them; the status words of all seven.
std::vector<std::uint16_t> WriteKey(const std::function<std::uint16_t(const Bytes&)>& sw,
                                    std::uint8_t role, std::uint8_t ref, const RsaParts& k) {
  std::vector<std::uint16_t> out;
  out.push_back(sw(Cat({0x90, 0x50, role, ref, 0x82, 0x14, 0x80}, k.n)));
  Bytes lsbFirst(k.e.rbegin(), k.e.rend());  // three low-order bytes, least significant first
  out.push_back(sw(Cat({0x90, 0x50, role, ref, 0x05, 0x12, 0x03}, lsbFirst)));
  const std::pair<std::uint8_t, const Bytes*> parts[] = {
      {0x02, &k.p}, {0x04, &k.q}, {0x06, &k.iqmp}, {0x08, &k.dmp1}, {0x0A, &k.dmq1}};
  for (const auto& [tag, value] : parts)
    out.push_back(sw(Cat({0x90, 0x52, role, ref, 0x42, tag, 0x40}, *value)));
  return out;
}

class CardKeys : public CardFixture {
 protected:
  std::vector<std::uint16_t> Write(std::uint8_t role, std::uint8_t ref, const RsaParts& k) {
    return WriteKey([this](const Bytes& c) { return Sw(c); }, role, ref, k);
  }
};

TEST_F(CardKeys, KeyPartsAreStoredAsSentAndARealKeyIsConsistent) {
  const RsaParts k = GenerateRsa1024();
  ASSERT_EQ(VerifyPin("1234"), 0x9000);
  auto sws = Write(0x40, 0x21, k);
  EXPECT_EQ(sws, std::vector<std::uint16_t>(7, 0x9000));
  auto key = m_card->Key(0x21, KeyRole::Exchange);
  ASSERT_TRUE(key);
  EXPECT_EQ(key->modulus, k.n);
  EXPECT_EQ(key->exponent, Bytes(k.e.rbegin(), k.e.rend()));  // as sent: 01 00 01
  EXPECT_EQ(key->exponent, (Bytes{0x01, 0x00, 0x01}));
  EXPECT_EQ(key->prime1, k.p);
  EXPECT_EQ(key->prime2, k.q);
  EXPECT_EQ(key->coefficient, k.iqmp);
  EXPECT_EQ(key->exponent1, k.dmp1);
  EXPECT_EQ(key->exponent2, k.dmq1);
  EXPECT_TRUE(key->Complete());
  EXPECT_TRUE(key->Consistent());
  EXPECT_FALSE(m_card->Key(0x21, KeyRole::Signature));

  cardsim::StoredKey tampered = *key;
  tampered.prime1[63] ^= 0x02;
  EXPECT_TRUE(tampered.Complete());
  EXPECT_FALSE(tampered.Consistent());
  tampered = *key;
  tampered.modulus[0] ^= 0x80;
  EXPECT_FALSE(tampered.Consistent());
  tampered = *key;
  tampered.exponent2.clear();
  EXPECT_FALSE(tampered.Complete());
  EXPECT_FALSE(tampered.Consistent());
}

TEST_F(CardKeys, AKeyWrittenWithAWrongPrimeIsNotConsistent) {
  RsaParts k = GenerateRsa1024();
  std::swap(k.p[10], k.p[11]);
  ASSERT_EQ(VerifyPin("1234"), 0x9000);
  Write(0x80, 0x22, k);
  auto key = m_card->Key(0x22, KeyRole::Signature);
  ASSERT_TRUE(key);
  EXPECT_TRUE(key->Complete());
  EXPECT_FALSE(key->Consistent());
}

TEST_F(CardKeys, EraseKeyRemovesBothRolesOfThatReference) {
  const RsaParts k = GenerateRsa1024();
  ASSERT_EQ(VerifyPin("1234"), 0x9000);
  Write(0x40, 0x20, k);
  Write(0x80, 0x20, k);
  Write(0x40, 0x21, k);
  ASSERT_EQ(m_card->Keys().size(), 3u);
  EXPECT_EQ(Sw({0x90, 0x54, 0x40, 0x20, 0x00}), 0x9000);
  EXPECT_FALSE(m_card->Key(0x20, KeyRole::Exchange));
  EXPECT_FALSE(m_card->Key(0x20, KeyRole::Signature));
  EXPECT_TRUE(m_card->Key(0x21, KeyRole::Exchange));
  EXPECT_EQ(Sw({0x90, 0x54, 0x40, 0x20, 0x00}), 0x9000);  // nothing left: still 9000
  // A partial write (public part only) is stored and is not complete.
  EXPECT_EQ(Sw(Cat({0x90, 0x50, 0x40, 0x30, 0x82, 0x14, 0x80}, k.n)), 0x9000);
  EXPECT_FALSE(m_card->Key(0x30, KeyRole::Exchange)->Complete());
}

// ----------------------------------------------------------------- CREATE / DELETE FILE

TEST_F(Card, CreateAndDeleteCertificateFiles) {
  ASSERT_EQ(VerifyPin("1234"), 0x9000);  // ICC.Crypto is current
  EXPECT_EQ(Sw({0x80, 0xE0, 0x00, 0x00, 0x04, 0x3F, 0x80, 0x01, 0x00}), 0x9000);
  EXPECT_EQ(m_card->ReadFile({0x3F11, 0x3F80}), Bytes(256, 0));
  // The new file is the current EF.
  EXPECT_EQ(Sw({0x00, 0xD6, 0x00, 0x00, 0x02, 0xAB, 0xCD}), 0x9000);
  EXPECT_EQ(Sw({0x00, 0xD6, 0x00, 0xFF, 0x02, 0xAB, 0xCD}), 0x6A84);
  EXPECT_EQ(m_card->ReadFile({0x3F11, 0x3F80})->size(), 256u);
  EXPECT_EQ(Sw({0x80, 0xE0, 0x00, 0x00, 0x04, 0x3F, 0x80, 0x00, 0x10}), 0x6A89);
  EXPECT_EQ(Sw({0x80, 0xE0, 0x00, 0x00, 0x04, 0x3F, 0x77, 0x00, 0x10}), 0x6A89);
  EXPECT_EQ(Sw({0x80, 0xE0, 0x00, 0x00, 0x04, 0x3F, 0x81, 0x00, 0x00}), 0x6A80);
  EXPECT_EQ(Sw({0x80, 0xE0, 0x00, 0x00, 0x03, 0x3F, 0x81, 0x00}), 0x6700);
  // 32 KiB of certificate files in all: 256 used, 32512 left.
  EXPECT_EQ(Sw({0x80, 0xE0, 0x00, 0x00, 0x04, 0x3F, 0x81, 0x7F, 0x01}), 0x6A84);
  EXPECT_EQ(Sw({0x80, 0xE0, 0x00, 0x00, 0x04, 0x3F, 0x81, 0x7F, 0x00}), 0x9000);
  EXPECT_EQ(Sw({0x80, 0xE0, 0x00, 0x00, 0x04, 0x3F, 0x82, 0x00, 0x01}), 0x6A84);
  // Reading back through SELECT.
  ASSERT_EQ(SelectPath(kCryptoName, 0x3F80), 0x9000);
  EXPECT_EQ(DataOf(Tx({0x00, 0xB0, 0x00, 0x00, 0x02})), (Bytes{0xAB, 0xCD}));
  // DELETE FILE: not key files, not the PKCS#15 files, not unknown files.
  EXPECT_EQ(Sw({0x80, 0xE4, 0x00, 0x00, 0x02, 0x3F, 0x77}), 0x6985);
  EXPECT_EQ(Sw({0x80, 0xE4, 0x00, 0x00, 0x02, 0x3F, 0x99}), 0x6A82);
  EXPECT_EQ(Sw({0x80, 0xE4, 0x00, 0x00, 0x02, 0x3F, 0x80}), 0x9000);
  EXPECT_EQ(Sw({0x00, 0xB0, 0x00, 0x00, 0x02}), 0x6986);  // it was the current EF
  EXPECT_EQ(Sw(SelectId(0x3F80)), 0x6A82);
  EXPECT_FALSE(m_card->ReadFile({0x3F11, 0x3F80}));
  ASSERT_EQ(SelectPath(kPkcs15Aid), 0x9000);
  EXPECT_EQ(Sw({0x80, 0xE4, 0x00, 0x00, 0x02, 0x60, 0x04}), 0x6985);
  EXPECT_EQ(Sw({0x80, 0xE4, 0x00, 0x00, 0x02, 0x50, 0x31}), 0x6985);
  ASSERT_EQ(SelectPath(kMasterFileName), 0x9000);
  EXPECT_EQ(Sw({0x80, 0xE4, 0x00, 0x00, 0x02, 0x3F, 0x11}), 0x6985);  // a DF
  // Space freed by the deletion can be used again.
  ASSERT_EQ(SelectPath(kCryptoName), 0x9000);
  EXPECT_EQ(Sw({0x80, 0xE0, 0x00, 0x00, 0x04, 0x3F, 0x83, 0x01, 0x00}), 0x9000);
}

TEST_F(Card, CommandCountCountsEveryApdu) {
  const std::size_t before = m_card->CommandCount();
  Tx(SelectName(kMasterFileName));
  Tx({0x00, 0xC0, 0x00, 0x00, 0x16});
  Tx({0xA0, 0x00, 0x00, 0x00, 0x00});
  EXPECT_EQ(m_card->CommandCount(), before + 3);
}

// ----------------------------------------------------------------- images

TEST_F(CardKeys, JsonImageRoundTrip) {
  const RsaParts k = GenerateRsa1024();
  ASSERT_EQ(VerifyPin("1234"), 0x9000);
  Write(0x40, 0x20, k);
  Write(0x80, 0x20, k);
  ASSERT_EQ(Sw({0x80, 0xE0, 0x00, 0x00, 0x04, 0x3F, 0x80, 0x00, 0x40}), 0x9000);
  ASSERT_EQ(Sw(Cat({0x00, 0xD6, 0x00, 0x00, 0x04}, {0x01, 0x00, 0x02, 0x00})), 0x9000);
  ASSERT_EQ(SelectPath(kPkcs15Aid, 0x6001), 0x9000);
  ASSERT_EQ(Sw({0x00, 0xD6, 0x00, 0x00, 0x03, 0x30, 0x01, 0x00}), 0x9000);
  ASSERT_EQ(SelectPath(kCryptoName), 0x9000);
  ASSERT_EQ(Sw({0x00, 0x20, 0x00, 0x00, 0x02, '0', '0'}), 0x63C2);

  const std::string json = m_card->ToJson();
  auto copy = cardsim::VirtualCard::FromJson(json);
  EXPECT_EQ(copy->ToJson(), json);
  EXPECT_EQ(copy->Serial(), m_card->Serial());
  EXPECT_EQ(copy->PinTriesLeft(), 2);
  EXPECT_FALSE(copy->PinVerified());
  EXPECT_EQ(copy->ReadFile({0x3F11, 0x3F80}), m_card->ReadFile({0x3F11, 0x3F80}));
  EXPECT_EQ(copy->ReadFile({0x5015, 0x6001}), m_card->ReadFile({0x5015, 0x6001}));
  EXPECT_EQ(copy->ReadFile({0x5015, 0x5031}), m_card->ReadFile({0x5015, 0x5031}));
  ASSERT_EQ(copy->Keys().size(), 2u);
  auto key = copy->Key(0x20, KeyRole::Signature);
  ASSERT_TRUE(key);
  EXPECT_EQ(key->modulus, k.n);
  EXPECT_EQ(key->prime2, k.q);
  EXPECT_TRUE(key->Consistent());
  // The copy answers like the original.
  EXPECT_EQ(copy->Transmit({0x90, 0xB8, 0x00, 0x00, 0x12}),
            m_card->Transmit({0x90, 0xB8, 0x00, 0x00, 0x12}));

  // Files on disk.
  const orvel_test::TempDir dir("cardsim-image");
  const auto path = dir.Path() / "card.json";
  m_card->SaveFile(path);
  auto loaded = cardsim::VirtualCard::LoadFile(path);
  EXPECT_EQ(loaded->ToJson(), json);
  // The PIN and the serial are readable in the image.
  EXPECT_NE(json.find("\"pin\": \"1234\""), std::string::npos);
  EXPECT_NE(json.find("\"serial\": \"0123456789AB\""), std::string::npos);
}

TEST(CardImage, MalformedImagesThrowWithAClearMessage) {
  auto message = [](const std::string& text) -> std::string {
    try {
      cardsim::VirtualCard::FromJson(text);
    } catch (const cardsim::CardImageError& e) {
      return e.what();
    }
    return "(no exception)";
  };
  EXPECT_NE(message("{ not json").find("malformed JSON"), std::string::npos);
  EXPECT_NE(message("[]").find("expected an object"), std::string::npos);
  auto fresh = cardsim::VirtualCard::MakeFresh(cardsim::CardSpec{});
  std::string good = fresh->ToJson();
  EXPECT_NO_THROW(cardsim::VirtualCard::FromJson(good));
  std::string noSerial = good;
  noSerial.replace(noSerial.find("\"serial\""), 8, "\"serialX\"");
  EXPECT_NE(message(noSerial).find("missing \"serial\""), std::string::npos);
  std::string badHex = good;
  badHex.replace(badHex.find("\"fid\": \"3F11\""), 13, "\"fid\": \"3G11\"");
  EXPECT_NE(message(badHex).find("not a hex digit"), std::string::npos) << message(badHex);
  std::string dupe = good;
  dupe.replace(dupe.find("\"fid\": \"3F78\""), 13, "\"fid\": \"3F77\"");
  EXPECT_NE(message(dupe).find("appears twice"), std::string::npos) << message(dupe);
  EXPECT_THROW(cardsim::VirtualCard::LoadFile("/nonexistent/card.json"), cardsim::CardImageError);
}

TEST(CardImage, HandWrittenImageWithPaddedFiles) {
  const std::string image = R"({
    "serial": "A1A2A3A4A5A6", "pin": "0000", "pinTriesLeft": 1, "pinTriesMax": 5,
    "files": {"fid": "3F00", "type": "DF", "name": "Master.File", "children": [
      {"fid": "3F11", "type": "DF", "name": "ICC.Crypto", "children": [
        {"fid": "3F80", "type": "EF", "size": 8, "data": "01 02 03"}]}]},
    "keys": [{"reference": 33, "role": "signature", "modulus": "00FF"}]
  })";
  auto card = cardsim::VirtualCard::FromJson(image);
  EXPECT_EQ(card->ReadFile({0x3F11, 0x3F80}), (Bytes{1, 2, 3, 0, 0, 0, 0, 0}));
  EXPECT_EQ(card->PinTriesLeft(), 1);
  EXPECT_EQ(card->Key(33, KeyRole::Signature)->modulus, (Bytes{0x00, 0xFF}));
  EXPECT_EQ(card->Serial()[0], 0xA1);
}

}  // namespace
}  // namespace cardsim_test
