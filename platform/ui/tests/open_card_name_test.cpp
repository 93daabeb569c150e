// The smart-card common dialog, shown under the offscreen platform and
// answered through the dialog hook as a person would answer it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "cardsim/fake_pcsc.h"
#include "orvel_test/fake_readers.h"
#include "orvel_test/registration.h"
#include "platform/card_database.h"
#include "platform/handle_guards.h"
#include "platform/modal_dialog.h"
#include "platform/qt_application.h"
#include "platform/scarddlg.h"
#include "platform_test/scoped_user_dir.h"

namespace {

// What the dialog showed, and how it was answered.
struct Seen {
  int shown = 0;
  std::string title;
  std::vector<std::string> rows;
  std::string okText;
  std::string cancelText;
  bool onGuiThread = false;
};

class OpenCardName : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    fakepcsc::Reset();
    ASSERT_TRUE(orvel_test::RegisterCardType());
    ASSERT_EQ(m_context.Establish(SCARD_SCOPE_USER), SCARD_S_SUCCESS);
    m_request.dwStructSize = sizeof(OPENCARDNAMEA);
    m_request.hSCardContext = m_context.Get();
    m_request.lpstrCardNames = m_cardNames;
    m_request.nMaxCardNames = 8;
    m_request.lpstrRdr = m_reader;
    m_request.nMaxRdr = sizeof m_reader;
    m_request.lpstrCard = m_card;
    m_request.nMaxCard = sizeof m_card;
    m_request.lpstrTitle = "Introduzca tarjeta ORVEL";
    m_request.dwFlags = SC_DLG_MINIMAL_UI;
    m_request.dwShareMode = SCARD_SHARE_SHARED;
    m_request.dwPreferredProtocols = SCARD_PROTOCOL_T0;
  }
  void TearDown() override {
    platform::SetDialogShownHook({});
    m_context.Release();
    fakepcsc::Reset();
  }

  // True when the reader takes an exclusive connection: no one holds it.
  bool ReaderIsFree(const char* reader) {
    SCARDHANDLE exclusive = 0;
    DWORD protocol = 0;
    const LONG rv = SCardConnect(m_context.Get(), reader, SCARD_SHARE_EXCLUSIVE, SCARD_PROTOCOL_T0,
                                 &exclusive, &protocol);
    if (rv == SCARD_S_SUCCESS) SCardDisconnect(exclusive, SCARD_LEAVE_CARD);
    return rv == SCARD_S_SUCCESS;
  }

  // Answers the dialog: picks row `row` and presses OK, or Cancel when row < 0.
  void AnswerWith(int row) {
    platform::SetDialogShownHook([this, row](QDialog& dialog) {
      ++m_seen.shown;
      m_seen.onGuiThread = QThread::currentThread() == qApp->thread();
      m_seen.title = dialog.windowTitle().toStdString();
      auto* list = dialog.findChild<QTreeWidget*>("readerList");
      auto* buttons = dialog.findChild<QDialogButtonBox*>("buttons");
      ASSERT_NE(list, nullptr);
      ASSERT_NE(buttons, nullptr);
      for (int i = 0; i < list->topLevelItemCount(); ++i) {
        const auto* item = list->topLevelItem(i);
        m_seen.rows.push_back(item->text(0).toStdString() + "|" + item->text(1).toStdString());
      }
      m_seen.okText = buttons->button(QDialogButtonBox::Ok)->text().toStdString();
      m_seen.cancelText = buttons->button(QDialogButtonBox::Cancel)->text().toStdString();
      if (row >= 0) {
        list->setCurrentItem(list->topLevelItem(row));
        buttons->button(QDialogButtonBox::Ok)->click();
      } else {
        buttons->button(QDialogButtonBox::Cancel)->click();
      }
    });
  }

  // The reader that received the last command sent on the handle.
  static std::string ReaderOf(SCARDHANDLE card) {
    const BYTE getChipInfo[] = {0x90, 0xB8, 0x00, 0x00, 0x12};
    BYTE answer[258];
    DWORD length = sizeof answer;
    fakepcsc::ClearTrace();
    if (SCardTransmit(card, SCARD_PCI_T0, getChipInfo, sizeof getChipInfo, nullptr, answer,
                      &length) != SCARD_S_SUCCESS) {
      return {};
    }
    const auto trace = fakepcsc::Trace();
    return trace.empty() ? std::string() : trace.back().reader;
  }

  platform_test::ScopedUserDir m_dir;
  CResourceManagerContext m_context;
  char m_cardNames[260] = "DRAV-NOR\0";
  char m_reader[260] = {};
  char m_card[260] = {};
  OPENCARDNAMEA m_request{};
  Seen m_seen;
};

TEST_F(OpenCardName, SeveralMatchesAskTheUserAndConnectTheChoice) {
  orvel_test::AddReaders(3, {0, 2});
  AnswerWith(1);
  ASSERT_EQ(GetOpenCardNameA(&m_request), SCARD_S_SUCCESS);
  EXPECT_EQ(m_seen.shown, 1);
  EXPECT_EQ(m_seen.title, "Introduzca tarjeta ORVEL");
  EXPECT_EQ(m_seen.rows, (std::vector<std::string>{"Lector 0|DRAV-NOR", "Lector 2|DRAV-NOR"}));
  EXPECT_STREQ(m_reader, "Lector 2");
  EXPECT_STREQ(m_card, "DRAV-NOR");
  EXPECT_EQ(m_request.dwActiveProtocol, static_cast<DWORD>(SCARD_PROTOCOL_T0));
  EXPECT_EQ(ReaderOf(m_request.hCardHandle), "Lector 2");
  // Shared: another program may still connect.
  SCARDHANDLE other = 0;
  DWORD protocol = 0;
  EXPECT_EQ(SCardConnect(m_context.Get(), "Lector 2", SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0, &other,
                         &protocol),
            SCARD_S_SUCCESS);
  SCardDisconnect(other, SCARD_LEAVE_CARD);
  SCardDisconnect(m_request.hCardHandle, SCARD_LEAVE_CARD);
}

TEST_F(OpenCardName, StandardButtonsSpeakSpanish) {
  orvel_test::AddReaders(2, {0, 1});
  AnswerWith(-1);
  GetOpenCardNameA(&m_request);
  ASSERT_EQ(m_seen.shown, 1);
  EXPECT_EQ(m_seen.okText, "Aceptar");
  EXPECT_EQ(m_seen.cancelText, "Cancelar");
}

TEST_F(OpenCardName, CancelGivesCancelledByUserAndNoConnection) {
  orvel_test::AddReaders(2, {0, 1});
  AnswerWith(-1);
  EXPECT_EQ(GetOpenCardNameA(&m_request), SCARD_W_CANCELLED_BY_USER);
  EXPECT_EQ(m_seen.shown, 1);
  EXPECT_TRUE(ReaderIsFree("Lector 0"));
}

TEST_F(OpenCardName, OneMatchWithMinimalUiConnectsWithoutDialog) {
  orvel_test::AddReaders(3, {1});
  AnswerWith(-1);
  ASSERT_EQ(GetOpenCardNameA(&m_request), SCARD_S_SUCCESS);
  EXPECT_EQ(m_seen.shown, 0);
  EXPECT_STREQ(m_reader, "Lector 1");
  EXPECT_EQ(ReaderOf(m_request.hCardHandle), "Lector 1");
  SCardDisconnect(m_request.hCardHandle, SCARD_LEAVE_CARD);
}

TEST_F(OpenCardName, ForceUiAsksEvenForOneMatch) {
  orvel_test::AddReaders(1, {0});
  m_request.dwFlags = SC_DLG_FORCE_UI;
  AnswerWith(0);
  ASSERT_EQ(GetOpenCardNameA(&m_request), SCARD_S_SUCCESS);
  EXPECT_EQ(m_seen.shown, 1);
  SCardDisconnect(m_request.hCardHandle, SCARD_LEAVE_CARD);
}

TEST_F(OpenCardName, NoUiRefusesToGuess) {
  orvel_test::AddReaders(2, {0, 1});
  m_request.dwFlags = SC_DLG_NO_UI;
  AnswerWith(0);
  EXPECT_EQ(GetOpenCardNameA(&m_request), SCARD_E_NO_SMARTCARD);
  EXPECT_EQ(m_seen.shown, 0);
}

TEST_F(OpenCardName, NoTitleGivesTheDialogsOwn) {
  orvel_test::AddReaders(2, {0, 1});
  m_request.lpstrTitle = nullptr;
  AnswerWith(-1);
  GetOpenCardNameA(&m_request);
  EXPECT_EQ(m_seen.title, "Seleccionar tarjeta");
}

TEST_F(OpenCardName, MalformedRequestsAreRefused) {
  orvel_test::AddReaders(2, {0, 1});
  AnswerWith(0);
  m_request.dwStructSize = 92;
  EXPECT_EQ(GetOpenCardNameA(&m_request), SCARD_E_INVALID_PARAMETER);
  m_request.dwStructSize = sizeof(OPENCARDNAMEA);
  m_request.lpfnCheck = [](SCARDCONTEXT, SCARDHANDLE, PVOID) -> BOOL { return TRUE; };
  EXPECT_EQ(GetOpenCardNameA(&m_request), SCARD_E_INVALID_PARAMETER);
  EXPECT_EQ(GetOpenCardNameA(nullptr), SCARD_E_INVALID_PARAMETER);
  EXPECT_EQ(m_seen.shown, 0);
}

TEST_F(OpenCardName, ReaderBufferTooSmallLeavesNoConnection) {
  orvel_test::AddReaders(1, {0});
  m_request.nMaxRdr = 4;  // "Lector 0" needs 9
  EXPECT_EQ(GetOpenCardNameA(&m_request), SCARD_E_INSUFFICIENT_BUFFER);
  EXPECT_TRUE(ReaderIsFree("Lector 0"));
}

TEST_F(OpenCardName, CalledFromAnotherThreadTheDialogRunsOnTheGuiThread) {
  orvel_test::AddReaders(2, {0, 1});
  ASSERT_NE(platform::EnsureQtApplication(), nullptr);
  AnswerWith(0);
  std::atomic<LONG> result{-1};
  QEventLoop loop;
  std::thread worker([&] {
    result = GetOpenCardNameA(&m_request);
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  QTimer::singleShot(5000, &loop, &QEventLoop::quit);  // never hang the run
  loop.exec();
  worker.join();
  EXPECT_EQ(result.load(), SCARD_S_SUCCESS);
  EXPECT_EQ(m_seen.shown, 1);
  EXPECT_TRUE(m_seen.onGuiThread);
  SCardDisconnect(m_request.hCardHandle, SCARD_LEAVE_CARD);
}

}  // namespace
