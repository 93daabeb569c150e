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
    ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context_), SCARD_S_SUCCESS);
    request_.dwStructSize = sizeof(OPENCARDNAMEA);
    request_.hSCardContext = context_;
    request_.lpstrCardNames = cardNames_;
    request_.nMaxCardNames = 8;
    request_.lpstrRdr = reader_;
    request_.nMaxRdr = sizeof reader_;
    request_.lpstrCard = card_;
    request_.nMaxCard = sizeof card_;
    request_.lpstrTitle = "Introduzca tarjeta ORVEL";
    request_.dwFlags = SC_DLG_MINIMAL_UI;
    request_.dwShareMode = SCARD_SHARE_SHARED;
    request_.dwPreferredProtocols = SCARD_PROTOCOL_T0;
  }
  void TearDown() override {
    platform::SetDialogShownHook({});
    SCardReleaseContext(context_);
    fakepcsc::Reset();
  }

  // True when the reader takes an exclusive connection: no one holds it.
  bool ReaderIsFree(const char* reader) {
    SCARDHANDLE exclusive = 0;
    DWORD protocol = 0;
    const LONG rv = SCardConnect(context_, reader, SCARD_SHARE_EXCLUSIVE, SCARD_PROTOCOL_T0,
                                 &exclusive, &protocol);
    if (rv == SCARD_S_SUCCESS) SCardDisconnect(exclusive, SCARD_LEAVE_CARD);
    return rv == SCARD_S_SUCCESS;
  }

  // Answers the dialog: picks row `row` and presses OK, or Cancel when row < 0.
  void AnswerWith(int row) {
    platform::SetDialogShownHook([this, row](QDialog& dialog) {
      ++seen_.shown;
      seen_.onGuiThread = QThread::currentThread() == qApp->thread();
      seen_.title = dialog.windowTitle().toStdString();
      auto* list = dialog.findChild<QTreeWidget*>("readerList");
      auto* buttons = dialog.findChild<QDialogButtonBox*>("buttons");
      ASSERT_NE(list, nullptr);
      ASSERT_NE(buttons, nullptr);
      for (int i = 0; i < list->topLevelItemCount(); ++i) {
        const auto* item = list->topLevelItem(i);
        seen_.rows.push_back(item->text(0).toStdString() + "|" + item->text(1).toStdString());
      }
      seen_.okText = buttons->button(QDialogButtonBox::Ok)->text().toStdString();
      seen_.cancelText = buttons->button(QDialogButtonBox::Cancel)->text().toStdString();
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

  platform_test::ScopedUserDir dir_;
  SCARDCONTEXT context_ = 0;
  char cardNames_[260] = "DRAV-NOR\0";
  char reader_[260] = {};
  char card_[260] = {};
  OPENCARDNAMEA request_{};
  Seen seen_;
};

TEST_F(OpenCardName, SeveralMatchesAskTheUserAndConnectTheChoice) {
  orvel_test::AddReaders(3, {0, 2});
  AnswerWith(1);
  ASSERT_EQ(GetOpenCardNameA(&request_), SCARD_S_SUCCESS);
  EXPECT_EQ(seen_.shown, 1);
  EXPECT_EQ(seen_.title, "Introduzca tarjeta ORVEL");
  EXPECT_EQ(seen_.rows, (std::vector<std::string>{"Lector 0|DRAV-NOR", "Lector 2|DRAV-NOR"}));
  EXPECT_STREQ(reader_, "Lector 2");
  EXPECT_STREQ(card_, "DRAV-NOR");
  EXPECT_EQ(request_.dwActiveProtocol, static_cast<DWORD>(SCARD_PROTOCOL_T0));
  EXPECT_EQ(ReaderOf(request_.hCardHandle), "Lector 2");
  // Shared: another program may still connect.
  SCARDHANDLE other = 0;
  DWORD protocol = 0;
  EXPECT_EQ(SCardConnect(context_, "Lector 2", SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0, &other, &protocol),
            SCARD_S_SUCCESS);
  SCardDisconnect(other, SCARD_LEAVE_CARD);
  SCardDisconnect(request_.hCardHandle, SCARD_LEAVE_CARD);
}

TEST_F(OpenCardName, StandardButtonsSpeakSpanish) {
  orvel_test::AddReaders(2, {0, 1});
  AnswerWith(-1);
  GetOpenCardNameA(&request_);
  ASSERT_EQ(seen_.shown, 1);
  EXPECT_EQ(seen_.okText, "Aceptar");
  EXPECT_EQ(seen_.cancelText, "Cancelar");
}

TEST_F(OpenCardName, CancelGivesCancelledByUserAndNoConnection) {
  orvel_test::AddReaders(2, {0, 1});
  AnswerWith(-1);
  EXPECT_EQ(GetOpenCardNameA(&request_), SCARD_W_CANCELLED_BY_USER);
  EXPECT_EQ(seen_.shown, 1);
  EXPECT_TRUE(ReaderIsFree("Lector 0"));
}

TEST_F(OpenCardName, OneMatchWithMinimalUiConnectsWithoutDialog) {
  orvel_test::AddReaders(3, {1});
  AnswerWith(-1);
  ASSERT_EQ(GetOpenCardNameA(&request_), SCARD_S_SUCCESS);
  EXPECT_EQ(seen_.shown, 0);
  EXPECT_STREQ(reader_, "Lector 1");
  EXPECT_EQ(ReaderOf(request_.hCardHandle), "Lector 1");
  SCardDisconnect(request_.hCardHandle, SCARD_LEAVE_CARD);
}

TEST_F(OpenCardName, ForceUiAsksEvenForOneMatch) {
  orvel_test::AddReaders(1, {0});
  request_.dwFlags = SC_DLG_FORCE_UI;
  AnswerWith(0);
  ASSERT_EQ(GetOpenCardNameA(&request_), SCARD_S_SUCCESS);
  EXPECT_EQ(seen_.shown, 1);
  SCardDisconnect(request_.hCardHandle, SCARD_LEAVE_CARD);
}

TEST_F(OpenCardName, NoUiRefusesToGuess) {
  orvel_test::AddReaders(2, {0, 1});
  request_.dwFlags = SC_DLG_NO_UI;
  AnswerWith(0);
  EXPECT_EQ(GetOpenCardNameA(&request_), SCARD_E_NO_SMARTCARD);
  EXPECT_EQ(seen_.shown, 0);
}

TEST_F(OpenCardName, NoTitleGivesTheDialogsOwn) {
  orvel_test::AddReaders(2, {0, 1});
  request_.lpstrTitle = nullptr;
  AnswerWith(-1);
  GetOpenCardNameA(&request_);
  EXPECT_EQ(seen_.title, "Seleccionar tarjeta");
}

TEST_F(OpenCardName, MalformedRequestsAreRefused) {
  orvel_test::AddReaders(2, {0, 1});
  AnswerWith(0);
  request_.dwStructSize = 92;
  EXPECT_EQ(GetOpenCardNameA(&request_), SCARD_E_INVALID_PARAMETER);
  request_.dwStructSize = sizeof(OPENCARDNAMEA);
  request_.lpfnCheck = [](SCARDCONTEXT, SCARDHANDLE, PVOID) -> BOOL { return TRUE; };
  EXPECT_EQ(GetOpenCardNameA(&request_), SCARD_E_INVALID_PARAMETER);
  EXPECT_EQ(GetOpenCardNameA(nullptr), SCARD_E_INVALID_PARAMETER);
  EXPECT_EQ(seen_.shown, 0);
}

TEST_F(OpenCardName, ReaderBufferTooSmallLeavesNoConnection) {
  orvel_test::AddReaders(1, {0});
  request_.nMaxRdr = 4;  // "Lector 0" needs 9
  EXPECT_EQ(GetOpenCardNameA(&request_), SCARD_E_INSUFFICIENT_BUFFER);
  EXPECT_TRUE(ReaderIsFree("Lector 0"));
}

TEST_F(OpenCardName, CalledFromAnotherThreadTheDialogRunsOnTheGuiThread) {
  orvel_test::AddReaders(2, {0, 1});
  ASSERT_NE(platform::EnsureQtApplication(), nullptr);
  AnswerWith(0);
  std::atomic<LONG> result{-1};
  QEventLoop loop;
  std::thread worker([&] {
    result = GetOpenCardNameA(&request_);
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  QTimer::singleShot(5000, &loop, &QEventLoop::quit);  // never hang the run
  loop.exec();
  worker.join();
  EXPECT_EQ(result.load(), SCARD_S_SUCCESS);
  EXPECT_EQ(seen_.shown, 1);
  EXPECT_TRUE(seen_.onGuiThread);
  SCardDisconnect(request_.hCardHandle, SCARD_LEAVE_CARD);
}

}  // namespace
