#include "fake_card_fixture.h"

#include <cstdlib>

#include "common/module_instance.h"
#include "orvel_test/fake_readers.h"
#include "orvel_test/registration.h"
#include "platform/card_database.h"
#include "platform/modal_dialog.h"
#include "platform/module_handle.h"

namespace card_test {

void FakeCardTest::SetUp() {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  fakepcsc::Reset();
  ASSERT_TRUE(orvel_test::RegisterCardType());
  ModuleInstance = platform::ProgramModule();
  ASSERT_EQ(m_context.Establish(SCARD_SCOPE_USER), SCARD_S_SUCCESS);
}

void FakeCardTest::TearDown() {
  platform::SetDialogShownHook({});
  for (SCARDHANDLE h : m_handles) SCardDisconnect(h, SCARD_LEAVE_CARD);
  m_context.Release();
  fakepcsc::Reset();
}

std::shared_ptr<cardsim::VirtualCard> FakeCardTest::AddReaderWithCard(
    const std::string& reader, const cardsim::CardSpec& spec) {
  return orvel_test::AddReaderWithCard(reader, spec);
}

SCARDHANDLE FakeCardTest::Connect(const std::string& reader) {
  SCARDHANDLE handle = 0;
  DWORD protocol = 0;
  EXPECT_EQ(SCardConnect(m_context.Get(), reader.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0,
                         &handle, &protocol),
            SCARD_S_SUCCESS);
  m_handles.push_back(handle);
  return handle;
}

void FakeCardTest::StartCounting() {
  fakepcsc::ClearFaults();
  fakepcsc::ClearTrace();
}

std::vector<Bytes> FakeCardTest::Commands() {
  std::vector<Bytes> commands;
  for (const auto& entry : fakepcsc::Trace()) commands.push_back(entry.command);
  return commands;
}

}  // namespace card_test
