// The fixtures of the tests over the fake resource manager.
#include "cardsim/fake_pcsc.h"
#include "orvel_test/registration.h"
#include "token_card.h"

namespace p11_test {

void ModuleTest::SetUp() {
  ASSERT_NE(m_module.Functions(), nullptr);
  fakepcsc::Reset();
  ASSERT_TRUE(orvel_test::RegisterCardType());
  ASSERT_EQ(m_module->C_Initialize(nullptr), CKR_OK);
}

void ModuleTest::TearDown() {
  EXPECT_EQ(m_module->C_Finalize(nullptr), CKR_OK);
  fakepcsc::Reset();
}

void ThreeKeyCardTest::SetUp() {
  ModuleTest::SetUp();
  m_token = MakeTokenCard({{0x20, 0x2000, 0}, {0x21, 0x4000, 1}, {0x22, 0x6400, 2}});
  AddReader("Lector Orvel", m_token.card);
  m_slot = TokenSlots().at(0);
  m_session = OpenSession(m_slot);
}

void ModuleTest::AddReader(const std::string& name, std::shared_ptr<cardsim::VirtualCard> card) {
  fakepcsc::AddReader(name);
  if (card) fakepcsc::InsertCard(name, std::move(card));
}

std::vector<CK_SLOT_ID> ModuleTest::TokenSlots() {
  CK_ULONG count = 0;
  EXPECT_EQ(m_module->C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
  std::vector<CK_SLOT_ID> slots(count);
  EXPECT_EQ(m_module->C_GetSlotList(CK_TRUE, slots.data(), &count), CKR_OK);
  slots.resize(count);
  return slots;
}

CK_SESSION_HANDLE ModuleTest::OpenSession(CK_SLOT_ID slot) {
  CK_SESSION_HANDLE session = 0;
  EXPECT_EQ(m_module->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &session), CKR_OK);
  return session;
}

CK_RV ModuleTest::Login(CK_SESSION_HANDLE session, const std::string& pin) {
  return m_module->C_Login(session, CKU_USER,
                           reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(pin.data())),
                           pin.size());
}

std::vector<CK_OBJECT_HANDLE> ModuleTest::Find(CK_SESSION_HANDLE session,
                                               std::vector<CK_ATTRIBUTE> pattern) {
  EXPECT_EQ(m_module->C_FindObjectsInit(session, pattern.data(), pattern.size()), CKR_OK);
  std::vector<CK_OBJECT_HANDLE> all;
  CK_OBJECT_HANDLE some[3];
  CK_ULONG got = 0;
  while (m_module->C_FindObjects(session, some, 3, &got) == CKR_OK && got > 0) {
    all.insert(all.end(), some, some + got);
  }
  EXPECT_EQ(m_module->C_FindObjectsFinal(session), CKR_OK);
  return all;
}

std::optional<Bytes> ModuleTest::Attribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                                           CK_ATTRIBUTE_TYPE type) {
  CK_ATTRIBUTE query = Attr(type, nullptr, 0);
  if (m_module->C_GetAttributeValue(session, object, &query, 1) != CKR_OK) return std::nullopt;
  Bytes value(query.ulValueLen);
  query.pValue = value.data();
  if (m_module->C_GetAttributeValue(session, object, &query, 1) != CKR_OK) return std::nullopt;
  return value;
}

CK_OBJECT_HANDLE ModuleTest::FindOne(CK_SESSION_HANDLE session, CK_OBJECT_CLASS objectClass,
                                     const Bytes& id) {
  Bytes wantedId = id;
  const auto found = Find(session, {Attr(CKA_CLASS, &objectClass, sizeof(objectClass)),
                                    Attr(CKA_ID, wantedId.data(), wantedId.size())});
  EXPECT_EQ(found.size(), 1u);
  return found.empty() ? CK_INVALID_HANDLE : found[0];
}

std::vector<Bytes> ModuleTest::TakeCommands() {
  std::vector<Bytes> commands;
  for (const auto& entry : fakepcsc::Trace()) commands.push_back(entry.command);
  fakepcsc::ClearTrace();
  return commands;
}

}  // namespace p11_test
