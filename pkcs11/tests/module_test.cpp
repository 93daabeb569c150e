// The module over the fake resource manager: slots and tokens, objects and
// their attributes, login and the PIN counter, logout, cards that go.
#include <cstring>

#include "cardsim/fake_pcsc.h"
#include "token_card.h"

namespace p11_test {
namespace {

using ModuleSlots = ModuleTest;

TEST_F(ModuleSlots, OneSlotPerReaderTokenOnlyWithTheCard) {
  AddReader("Lector vacio", nullptr);
  AddReader("Lector Orvel", MakeTokenCard({}).card);
  CK_ULONG all = 0;
  ASSERT_EQ(m_module->C_GetSlotList(CK_FALSE, nullptr, &all), CKR_OK);
  EXPECT_EQ(all, 2u);
  CK_SLOT_ID one[1];
  CK_ULONG small = 1;
  EXPECT_EQ(m_module->C_GetSlotList(CK_FALSE, one, &small), CKR_BUFFER_TOO_SMALL);
  EXPECT_EQ(small, 2u);
  const auto slots = TokenSlots();
  ASSERT_EQ(slots.size(), 1u);

  CK_SLOT_INFO slotInfo{};
  ASSERT_EQ(m_module->C_GetSlotInfo(slots[0], &slotInfo), CKR_OK);
  EXPECT_EQ(slotInfo.flags, CKF_REMOVABLE_DEVICE | CKF_HW_SLOT | CKF_TOKEN_PRESENT);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(slotInfo.slotDescription), 12), "Lector Orvel");

  CK_TOKEN_INFO info{};
  ASSERT_EQ(m_module->C_GetTokenInfo(slots[0], &info), CKR_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(info.label), 32),
            "Orvel 0123456789AB" + std::string(14, ' '));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(info.serialNumber), 16), "0123456789AB    ");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(info.model), 16), "Orvel" + std::string(11, ' '));
  EXPECT_EQ(info.flags, CKF_TOKEN_INITIALIZED | CKF_LOGIN_REQUIRED | CKF_USER_PIN_INITIALIZED |
                            CKF_WRITE_PROTECTED);
  EXPECT_EQ(info.ulMinPinLen, 1u);
  EXPECT_EQ(info.ulMaxPinLen, 20u);
  const CK_SLOT_ID empty = slots[0] == 0 ? 1 : 0;
  EXPECT_EQ(m_module->C_GetTokenInfo(empty, &info), CKR_TOKEN_NOT_PRESENT);
  EXPECT_EQ(m_module->C_GetTokenInfo(99, &info), CKR_SLOT_ID_INVALID);
}

TEST_F(ModuleSlots, CallsAndArgumentsTheStandardRefuses) {
  AddReader("Lector Orvel", MakeTokenCard({}).card);
  const CK_SLOT_ID slot = TokenSlots().at(0);
  CK_SESSION_HANDLE session = 0;
  CK_C_INITIALIZE_ARGS args{};
  EXPECT_EQ(m_module->C_Initialize(nullptr), CKR_CRYPTOKI_ALREADY_INITIALIZED);
  EXPECT_EQ(m_module->C_OpenSession(slot, 0, nullptr, nullptr, &session),
            CKR_SESSION_PARALLEL_NOT_SUPPORTED);
  ASSERT_EQ(m_module->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr,
                                    &session),
            CKR_OK);
  CK_SESSION_INFO sessionInfo{};
  ASSERT_EQ(m_module->C_GetSessionInfo(session, &sessionInfo), CKR_OK);
  EXPECT_EQ(sessionInfo.state, CKS_RW_PUBLIC_SESSION);
  CK_OBJECT_HANDLE created = 0;
  EXPECT_EQ(m_module->C_CreateObject(session, nullptr, 0, &created), CKR_FUNCTION_NOT_SUPPORTED);
  EXPECT_EQ(m_module->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, nullptr),
            CKR_ARGUMENTS_BAD);
  session = OpenSession(slot);
  EXPECT_EQ(m_module->C_FindObjectsInit(session, nullptr, 0), CKR_OK);
  EXPECT_EQ(m_module->C_FindObjectsInit(session, nullptr, 0), CKR_OPERATION_ACTIVE);
  EXPECT_EQ(m_module->C_FindObjects(session, nullptr, 1, nullptr), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(m_module->C_FindObjectsFinal(session), CKR_OK);
  EXPECT_EQ(m_module->C_FindObjectsFinal(session), CKR_OPERATION_NOT_INITIALIZED);
  EXPECT_EQ(m_module->C_GetAttributeValue(session + 100, 1, nullptr, 0),
            CKR_SESSION_HANDLE_INVALID);
  EXPECT_EQ(m_module->C_GetAttributeValue(session, 12345, nullptr, 0), CKR_OBJECT_HANDLE_INVALID);
  EXPECT_EQ(m_module->C_EncryptInit(session, nullptr, 0), CKR_FUNCTION_NOT_SUPPORTED);
  CK_SLOT_ID event = 0;
  EXPECT_EQ(m_module->C_WaitForSlotEvent(0, &event, nullptr), CKR_FUNCTION_NOT_SUPPORTED);
  EXPECT_EQ(m_module->C_WaitForSlotEvent(CKF_DONT_BLOCK, &event, nullptr), CKR_OK);
  EXPECT_EQ(event, slot);
  EXPECT_EQ(m_module->C_WaitForSlotEvent(CKF_DONT_BLOCK, &event, nullptr), CKR_NO_EVENT);

  CK_ULONG count = 1;
  CK_MECHANISM_TYPE mechanisms[1];
  EXPECT_EQ(m_module->C_GetMechanismList(slot, mechanisms, &count), CKR_BUFFER_TOO_SMALL);
  EXPECT_EQ(count, 5u);
  CK_MECHANISM_INFO mechanism{};
  ASSERT_EQ(m_module->C_GetMechanismInfo(slot, CKM_RSA_PKCS, &mechanism), CKR_OK);
  EXPECT_EQ(mechanism.flags, CKF_HW | CKF_SIGN | CKF_DECRYPT);
  EXPECT_EQ(mechanism.ulMinKeySize, 1024u);
  ASSERT_EQ(m_module->C_GetMechanismInfo(slot, CKM_SHA512_RSA_PKCS, &mechanism), CKR_OK);
  EXPECT_EQ(mechanism.flags, CKF_HW | CKF_SIGN);
  EXPECT_EQ(m_module->C_GetMechanismInfo(slot, CKM_SHA256_RSA_PKCS_PSS, &mechanism),
            CKR_MECHANISM_INVALID);

  // Finalised and initialised again, with the operating system's locks.
  EXPECT_EQ(m_module->C_Finalize(nullptr), CKR_OK);
  EXPECT_EQ(m_module->C_GetInfo(nullptr), CKR_CRYPTOKI_NOT_INITIALIZED);
  args.CreateMutex = [](CK_VOID_PTR_PTR) -> CK_RV { return CKR_OK; };
  args.DestroyMutex = args.LockMutex =
      args.UnlockMutex = [](CK_VOID_PTR) -> CK_RV { return CKR_OK; };
  EXPECT_EQ(m_module->C_Initialize(&args), CKR_CANT_LOCK);
  args.flags = CKF_OS_LOCKING_OK;
  EXPECT_EQ(m_module->C_Initialize(&args), CKR_OK);
}

// Objects and attributes of a card with a key in each role and one in both.
class ModuleObjects : public ThreeKeyCardTest {};

TEST_F(ModuleObjects, PrivateKeysOnlyAfterLogin) {
  EXPECT_EQ(Find(m_session).size(), 6u);
  ASSERT_EQ(Login(m_session), CKR_OK);
  EXPECT_EQ(Find(m_session).size(), 9u);
}

TEST_F(ModuleObjects, ThreeObjectsPerKeyShareItsIdAndRoles) {
  ASSERT_EQ(Login(m_session), CKR_OK);
  const Bytes yes = {CK_TRUE}, no = {CK_FALSE};
  for (const KeyOnCard& key : m_token.keys) {
    SCOPED_TRACE(key.commonName);
    const bool sign = (key.spec.roleWord & 0x2000) != 0;
    const bool decrypt = (key.spec.roleWord & 0x4000) != 0;
    const CK_OBJECT_HANDLE certificate = FindOne(m_session, CKO_CERTIFICATE, key.id);
    const CK_OBJECT_HANDLE publicKey = FindOne(m_session, CKO_PUBLIC_KEY, key.id);
    const CK_OBJECT_HANDLE privateKey = FindOne(m_session, CKO_PRIVATE_KEY, key.id);
    EXPECT_EQ(Attribute(m_session, certificate, CKA_VALUE), key.certificate);
    EXPECT_EQ(Attribute(m_session, certificate, CKA_CERTIFICATE_TYPE), ToBytes(CKC_X_509));
    EXPECT_EQ(Attribute(m_session, certificate, CKA_CERTIFICATE_CATEGORY), ToBytes(1));
    const Bytes label(key.commonName.begin(), key.commonName.end());
    for (CK_OBJECT_HANDLE object : {certificate, publicKey, privateKey}) {
      EXPECT_EQ(Attribute(m_session, object, CKA_LABEL), label);
      EXPECT_EQ(Attribute(m_session, object, CKA_TOKEN), yes);
    }
    for (CK_OBJECT_HANDLE object : {publicKey, privateKey}) {
      EXPECT_EQ(Attribute(m_session, object, CKA_MODULUS), key.modulus);
      EXPECT_EQ(Attribute(m_session, object, CKA_PUBLIC_EXPONENT), Hex("010001"));
      EXPECT_EQ(Attribute(m_session, object, CKA_MODULUS_BITS), ToBytes(1024));
      EXPECT_EQ(Attribute(m_session, object, CKA_KEY_TYPE), ToBytes(CKK_RSA));
    }
    EXPECT_EQ(Attribute(m_session, certificate, CKA_SUBJECT),
              Attribute(m_session, privateKey, CKA_SUBJECT));
    EXPECT_EQ(Attribute(m_session, publicKey, CKA_VERIFY), sign ? yes : no);
    EXPECT_EQ(Attribute(m_session, publicKey, CKA_ENCRYPT), decrypt ? yes : no);
    EXPECT_EQ(Attribute(m_session, privateKey, CKA_SIGN), sign ? yes : no);
    EXPECT_EQ(Attribute(m_session, privateKey, CKA_DECRYPT), decrypt ? yes : no);
    EXPECT_EQ(Attribute(m_session, privateKey, CKA_UNWRAP), decrypt ? yes : no);
    for (CK_ATTRIBUTE_TYPE type :
         {CKA_SENSITIVE, CKA_ALWAYS_SENSITIVE, CKA_NEVER_EXTRACTABLE, CKA_PRIVATE}) {
      EXPECT_EQ(Attribute(m_session, privateKey, type), yes);
    }
    EXPECT_EQ(Attribute(m_session, privateKey, CKA_EXTRACTABLE), no);
  }
}

TEST_F(ModuleObjects, AttributeTemplatesAsTheStandardAnswersThem) {
  ASSERT_EQ(Login(m_session), CKR_OK);
  const KeyOnCard& key = m_token.keys[0];
  const CK_OBJECT_HANDLE privateKey = FindOne(m_session, CKO_PRIVATE_KEY, key.id);
  BYTE small[4];
  BYTE room[256];
  CK_ATTRIBUTE query[] = {
      Attr(CKA_MODULUS, nullptr, 0),                   // length only
      Attr(CKA_PRIVATE_EXPONENT, room, sizeof(room)),  // never revealed
      Attr(CKA_VALUE, room, sizeof(room)),             // not an attribute of keys
      Attr(CKA_ID, small, sizeof(small)),              // too small
      Attr(CKA_ID, room, sizeof(room)),
  };
  const CK_RV rv = m_module->C_GetAttributeValue(m_session, privateKey, query, std::size(query));
  EXPECT_TRUE(rv == CKR_ATTRIBUTE_SENSITIVE || rv == CKR_ATTRIBUTE_TYPE_INVALID ||
              rv == CKR_BUFFER_TOO_SMALL)
      << rv;
  EXPECT_EQ(query[0].ulValueLen, 128u);
  EXPECT_EQ(query[1].ulValueLen, CK_UNAVAILABLE_INFORMATION);
  EXPECT_EQ(query[2].ulValueLen, CK_UNAVAILABLE_INFORMATION);
  EXPECT_EQ(query[3].ulValueLen, CK_UNAVAILABLE_INFORMATION);
  ASSERT_EQ(query[4].ulValueLen, 20u);
  EXPECT_EQ(Bytes(room, room + 20), key.id);
  // Each case alone gives its own code.
  EXPECT_EQ(m_module->C_GetAttributeValue(m_session, privateKey, &query[1], 1),
            CKR_ATTRIBUTE_SENSITIVE);
  EXPECT_EQ(m_module->C_GetAttributeValue(m_session, privateKey, &query[2], 1),
            CKR_ATTRIBUTE_TYPE_INVALID);
  query[3].ulValueLen = sizeof(small);
  EXPECT_EQ(m_module->C_GetAttributeValue(m_session, privateKey, &query[3], 1),
            CKR_BUFFER_TOO_SMALL);
}

// VERIFY's answers as C_Login reports them, and the counter in the token's
// flags afterwards.
struct LoginCase {
  const char* name;
  int triesLeft;
  std::string pin;
  CK_RV expected;
  CK_FLAGS pinFlags;
};

class ModuleLogin : public ModuleTest, public ::testing::WithParamInterface<LoginCase> {};

TEST_P(ModuleLogin, VerifyAnswerAndCounter) {
  const LoginCase& c = GetParam();
  auto token = MakeTokenCard({}, c.triesLeft);
  AddReader("Lector Orvel", token.card);
  const CK_SLOT_ID slot = TokenSlots().at(0);
  const CK_SESSION_HANDLE session = OpenSession(slot);
  TakeCommands();
  EXPECT_EQ(Login(session, c.pin), c.expected);
  const auto commands = TakeCommands();
  ASSERT_FALSE(commands.empty());
  Bytes verify = Hex("00 20 00 00");
  verify.push_back(static_cast<std::uint8_t>(c.pin.size()));
  verify.insert(verify.end(), c.pin.begin(), c.pin.end());
  EXPECT_EQ(commands.back(), verify);
  CK_TOKEN_INFO info{};
  ASSERT_EQ(m_module->C_GetTokenInfo(slot, &info), CKR_OK);
  EXPECT_EQ(info.flags & (CKF_USER_PIN_COUNT_LOW | CKF_USER_PIN_FINAL_TRY | CKF_USER_PIN_LOCKED),
            c.pinFlags);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ModuleLogin,
    ::testing::Values(LoginCase{"Right", 3, "1234", CKR_OK, 0},
                      LoginCase{"RightAfterAWrongOne", 2, "1234", CKR_OK, 0},
                      LoginCase{"Wrong", 3, "0000", CKR_PIN_INCORRECT, CKF_USER_PIN_COUNT_LOW},
                      LoginCase{"WrongLeavingOne", 2, "0000", CKR_PIN_INCORRECT,
                                CKF_USER_PIN_COUNT_LOW | CKF_USER_PIN_FINAL_TRY},
                      LoginCase{"WrongOnTheLastTry", 1, "0000", CKR_PIN_LOCKED,
                                CKF_USER_PIN_LOCKED},
                      LoginCase{"Blocked", 0, "1234", CKR_PIN_LOCKED, CKF_USER_PIN_LOCKED}),
    [](const auto& p) { return std::string(p.param.name); });

struct CounterCase {
  int triesLeft;
  CK_FLAGS flags;
};
class ModulePinCounter : public ModuleTest, public ::testing::WithParamInterface<CounterCase> {};

TEST_P(ModulePinCounter, FlagsFromVerifyWithoutData) {
  AddReader("Lector Orvel", MakeTokenCard({}, GetParam().triesLeft).card);
  CK_TOKEN_INFO info{};
  ASSERT_EQ(m_module->C_GetTokenInfo(TokenSlots().at(0), &info), CKR_OK);
  EXPECT_EQ(info.flags & (CKF_USER_PIN_COUNT_LOW | CKF_USER_PIN_FINAL_TRY | CKF_USER_PIN_LOCKED),
            GetParam().flags);
  const auto commands = TakeCommands();
  EXPECT_NE(std::find(commands.begin(), commands.end(), Hex("00 20 00 00 00")), commands.end());
}

INSTANTIATE_TEST_SUITE_P(
    Counter, ModulePinCounter,
    ::testing::Values(CounterCase{3, 0}, CounterCase{2, CKF_USER_PIN_COUNT_LOW},
                      CounterCase{1, CKF_USER_PIN_COUNT_LOW | CKF_USER_PIN_FINAL_TRY},
                      CounterCase{0, CKF_USER_PIN_LOCKED}));

TEST_F(ModuleObjects, LoginRefusalsAndLogoutResetsTheCard) {
  EXPECT_EQ(m_module->C_Login(m_session, CKU_SO,
                              reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>("1234")), 4),
            CKR_USER_TYPE_INVALID);
  EXPECT_EQ(Login(m_session, ""), CKR_PIN_LEN_RANGE);
  EXPECT_EQ(Login(m_session, std::string(21, '1')), CKR_PIN_LEN_RANGE);
  EXPECT_EQ(m_module->C_Logout(m_session), CKR_USER_NOT_LOGGED_IN);
  ASSERT_EQ(Login(m_session), CKR_OK);
  EXPECT_TRUE(m_token.card->PinVerified());
  EXPECT_EQ(Login(m_session), CKR_USER_ALREADY_LOGGED_IN);
  CK_SESSION_INFO info{};
  ASSERT_EQ(m_module->C_GetSessionInfo(m_session, &info), CKR_OK);
  EXPECT_EQ(info.state, CKS_RO_USER_FUNCTIONS);
  EXPECT_EQ(m_module->C_Logout(m_session), CKR_OK);
  EXPECT_FALSE(m_token.card->PinVerified());
  EXPECT_EQ(Find(m_session).size(), 6u);
  ASSERT_EQ(m_module->C_GetSessionInfo(m_session, &info), CKR_OK);
  EXPECT_EQ(info.state, CKS_RO_PUBLIC_SESSION);
  // Closing the last session of a logged-in token logs out as well.
  ASSERT_EQ(Login(m_session), CKR_OK);
  EXPECT_EQ(m_module->C_CloseSession(m_session), CKR_OK);
  EXPECT_FALSE(m_token.card->PinVerified());
}

TEST_F(ModuleObjects, ObjectsReadOnceThenOnlyTheIdentityCheck) {
  TakeCommands();
  const CK_SESSION_HANDLE second = OpenSession(TokenSlots().at(0));
  EXPECT_EQ(Find(second).size(), 6u);
  EXPECT_EQ(TakeCommands(), std::vector<Bytes>{Hex("90 B8 00 00 12")});
}

TEST_F(ModuleObjects, CardRemovedDuringASessionAndPutBack) {
  fakepcsc::RemoveCard("Lector Orvel");
  EXPECT_EQ(m_module->C_FindObjectsInit(m_session, nullptr, 0), CKR_DEVICE_REMOVED);
  EXPECT_EQ(m_module->C_FindObjectsInit(m_session, nullptr, 0), CKR_SESSION_HANDLE_INVALID);
  CK_TOKEN_INFO info{};
  EXPECT_EQ(m_module->C_GetTokenInfo(0, &info), CKR_TOKEN_NOT_PRESENT);
  CK_SESSION_HANDLE session = 0;
  EXPECT_EQ(m_module->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &session),
            CKR_TOKEN_NOT_PRESENT);
  // Another card in the same reader is read anew.
  auto other = MakeTokenCard(KeysInBothRoles(1), 3, {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54});
  fakepcsc::InsertCard("Lector Orvel", other.card);
  ASSERT_EQ(m_module->C_GetTokenInfo(0, &info), CKR_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(info.serialNumber), 12), "FEDCBA987654");
  EXPECT_EQ(Find(OpenSession(0)).size(), 2u);
}

TEST_F(ModuleObjects, CardPulledAtEveryCommandOfTheFirstReading) {
  // A fresh module process reads the card; the card goes at command n.
  for (std::size_t n = 1;; ++n) {
    SCOPED_TRACE(n);
    ASSERT_EQ(m_module->C_Finalize(nullptr), CKR_OK);
    fakepcsc::InsertCard("Lector Orvel", m_token.card);
    ASSERT_EQ(m_module->C_Initialize(nullptr), CKR_OK);
    fakepcsc::ClearFaults();
    fakepcsc::RemoveCardAt(n);
    CK_TOKEN_INFO info{};
    const CK_RV rv = m_module->C_GetTokenInfo(0, &info);
    if (rv == CKR_OK) {
      EXPECT_GT(n, 10u);
      break;
    }
    EXPECT_TRUE(rv == CKR_DEVICE_REMOVED || rv == CKR_TOKEN_NOT_PRESENT) << rv;
  }
}

}  // namespace
}  // namespace p11_test
