// Wizard sheets and pages: what the pages' operations decide, the buttons
// they post, the header and the order of activation.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QWizard>

#include <string>
#include <vector>

#include "dialog_script.h"
#include "platform/dialog_builder.h"
#include "platform/framework_app.h"
#include "platform/framework_sheet.h"
#include "platform/qt_application.h"
#include "platform/resources.h"

namespace {

using platform::DialogControl;
using platform::DialogControlKind;
using ui_test::DialogScript;

const DialogControl kPageControls[] = {
    {DialogControlKind::Edit, 1002, 15, 35, 155, 14, nullptr,
     platform::kBorder | platform::kTabStop, 0},
};
const platform::DialogTemplate kPageTemplates[] = {
    {701, "Página", 235, 156, "MS Sans Serif", 8, kPageControls, platform::kWindowChild},
    {702, "Página", 235, 156, "MS Sans Serif", 8, kPageControls, platform::kWindowChild},
    {703, "Página", 235, 156, "MS Sans Serif", 8, kPageControls, platform::kWindowChild},
};
const platform::DialogTemplateRegistration kPageRegistration(kPageTemplates);

const platform::StringResource kStrings[] = {
    {801, "Asistente de prueba"}, {802, "Primera"}, {803, "Segunda"}, {804, "Subtítulo"}};
const platform::StringTableRegistration kStringRegistration(kStrings);

// A page that records what happens to it and answers as it is told.
class RecordingPage : public CPropertyPageEx {
 public:
  RecordingPage(std::string name, std::vector<std::string>& log)
      : m_name(std::move(name)), m_log(log) {}

  DWORD buttons = PSWIZB_BACK | PSWIZB_NEXT;
  LRESULT nextAnswer = 0;
  BOOL finishAnswer = TRUE;
  std::string text;

  BOOL OnSetActive() override {
    m_log.push_back(m_name + ":set");
    GetParent()->PostMessage(PSM_SETWIZBUTTONS, 0, buttons);
    return CPropertyPageEx::OnSetActive();
  }
  BOOL OnKillActive() override {
    m_log.push_back(m_name + ":kill");
    return CPropertyPageEx::OnKillActive();
  }
  LRESULT OnWizardNext() override {
    m_log.push_back(m_name + ":next");
    return nextAnswer;
  }
  BOOL OnWizardFinish() override {
    m_log.push_back(m_name + ":finish");
    return finishAnswer;
  }

 protected:
  void DoDataExchange(CDataExchange* pDX) override { DDX_Text(pDX, 1002, text); }

 private:
  std::string m_name;
  std::vector<std::string>& m_log;
};

struct Buttons {
  bool backEnabled, nextVisible, nextEnabled, finishVisible, finishEnabled;
  bool operator==(const Buttons&) const = default;
};

Buttons ButtonsOf(QWizard& wizard) {
  QCoreApplication::processEvents();  // the posted button flags
  auto* back = wizard.button(QWizard::BackButton);
  auto* next = wizard.button(QWizard::NextButton);
  auto* finish = wizard.button(QWizard::FinishButton);
  return {back->isEnabled(), next->isVisible(), next->isEnabled(), finish->isVisible(),
          finish->isEnabled()};
}

class WizardSheet : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ASSERT_NE(platform::EnsureQtApplication(), nullptr);
    m_first.Construct(701, 0, 802, 0);
    m_second.Construct(702, 0, 803, 804);
    m_third.Construct(703);
    m_sheet.AddPage(&m_first);
    m_sheet.AddPage(&m_second);
    m_sheet.AddPage(&m_third);
    m_sheet.m_psh.dwFlags |= PSH_WIZARD97;
  }

  static void Next(QWizard& w) { w.button(QWizard::NextButton)->click(); }

  std::vector<std::string> m_log;
  RecordingPage m_first{"1", m_log}, m_second{"2", m_log}, m_third{"3", m_log};
  CPropertySheetEx m_sheet{801};
};

TEST_F(WizardSheet, Wizard97ShowsCaptionAndPageHeadersWithoutBitmaps) {
  DialogScript script;
  script.Then([&](QDialog& d) {
    auto& wizard = dynamic_cast<QWizard&>(d);
    EXPECT_EQ(wizard.windowTitle(), QStringLiteral("Asistente de prueba"));
    EXPECT_EQ(wizard.wizardStyle(), QWizard::ModernStyle);
    EXPECT_TRUE(wizard.pixmap(QWizard::WatermarkPixmap).isNull());
    EXPECT_TRUE(wizard.pixmap(QWizard::LogoPixmap).isNull());
    EXPECT_EQ(wizard.currentId(), 0);
    EXPECT_EQ(wizard.page(0)->title(), QStringLiteral("Primera"));
    EXPECT_TRUE(wizard.page(0)->subTitle().trimmed().isEmpty());
    EXPECT_EQ(wizard.page(1)->title(), QStringLiteral("Segunda"));
    EXPECT_EQ(wizard.page(1)->subTitle(), QStringLiteral("Subtítulo"));
    EXPECT_EQ(wizard.page(2)->title(), QString());
    // Standard buttons read in Spanish.
    EXPECT_EQ(wizard.button(QWizard::CancelButton)->text().remove('&'), QStringLiteral("Cancelar"));
    EXPECT_TRUE(wizard.button(QWizard::NextButton)->text().contains(QStringLiteral("Siguiente")));
    wizard.reject();
  });
  EXPECT_EQ(m_sheet.DoModal(), IDCANCEL);
  EXPECT_EQ(script.Unexpected(), 0);
  EXPECT_EQ(m_sheet.GetActivePage(), nullptr);
}

TEST_F(WizardSheet, PostedFlagsDecideTheButtons) {
  m_first.buttons = PSWIZB_NEXT;
  m_second.buttons = PSWIZB_BACK | PSWIZB_NEXT;
  m_third.buttons = PSWIZB_BACK | PSWIZB_NEXT | PSWIZB_FINISH;
  std::vector<Buttons> seen;
  DialogScript script;
  script.Then([&](QDialog& d) {
    auto& wizard = dynamic_cast<QWizard&>(d);
    seen.push_back(ButtonsOf(wizard));
    Next(wizard);
    seen.push_back(ButtonsOf(wizard));
    Next(wizard);
    seen.push_back(ButtonsOf(wizard));
    wizard.reject();
  });
  m_sheet.DoModal();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0], (Buttons{false, true, true, false, false}));
  EXPECT_EQ(seen[1], (Buttons{true, true, true, false, false}));
  // Finish takes the place of Next.
  EXPECT_EQ(seen[2], (Buttons{true, false, false, true, true}));
}

TEST_F(WizardSheet, NextAnswerStaysGoesOnOrJumpsToATemplate) {
  int afterStay = -1, afterJump = -1;
  DialogScript script;
  script.Then([&](QDialog& d) {
    auto& wizard = dynamic_cast<QWizard&>(d);
    m_first.nextAnswer = -1;
    Next(wizard);
    afterStay = wizard.currentId();
    m_first.nextAnswer = 703;
    Next(wizard);
    afterJump = wizard.currentId();
    wizard.back();
    wizard.reject();
  });
  m_sheet.DoModal();
  EXPECT_EQ(afterStay, 0);
  EXPECT_EQ(afterJump, 2);
  EXPECT_EQ(m_log, (std::vector<std::string>{"1:set", "1:next", "1:next", "1:kill", "3:set",
                                             "3:kill", "1:set"}));
}

TEST_F(WizardSheet, FinishRefusedStaysAcceptedEnds) {
  m_third.buttons = PSWIZB_BACK | PSWIZB_FINISH;
  m_third.finishAnswer = FALSE;
  bool visibleAfterRefusal = false;
  DialogScript script;
  script.Then([&](QDialog& d) {
    auto& wizard = dynamic_cast<QWizard&>(d);
    Next(wizard);
    Next(wizard);
    QCoreApplication::processEvents();
    wizard.button(QWizard::FinishButton)->click();
    visibleAfterRefusal = wizard.isVisible() && wizard.currentId() == 2;
    m_third.finishAnswer = TRUE;
    wizard.button(QWizard::FinishButton)->click();
  });
  EXPECT_EQ(m_sheet.DoModal(), ID_WIZFINISH);
  EXPECT_TRUE(visibleAfterRefusal);
  // Finish asks only the page's Finish handler, never its Next handler.
  EXPECT_EQ(std::count(m_log.begin(), m_log.end(), "3:next"), 0);
  EXPECT_EQ(std::count(m_log.begin(), m_log.end(), "3:finish"), 2);
}

TEST_F(WizardSheet, PageTextsSurviveMovingBackAndForth) {
  m_first.text = "de antes";
  std::string shownFirst;
  DialogScript script;
  script.Then([&](QDialog& d) {
    auto& wizard = dynamic_cast<QWizard&>(d);
    shownFirst =
        qobject_cast<QLineEdit*>(platform::DialogItem(*wizard.page(0), 1002))->text().toStdString();
    Next(wizard);
    qobject_cast<QLineEdit*>(platform::DialogItem(*wizard.page(1), 1002))
        ->setText(QStringLiteral("escrito"));
    wizard.back();
    Next(wizard);
    EXPECT_EQ(qobject_cast<QLineEdit*>(platform::DialogItem(*wizard.page(1), 1002))->text(),
              QStringLiteral("escrito"));
    wizard.reject();
  });
  m_sheet.DoModal();
  EXPECT_EQ(shownFirst, "de antes");
  // Leaving a page takes its controls into its data.
  EXPECT_EQ(m_second.text, "escrito");
}

TEST_F(WizardSheet, StartsOnTheChosenPage) {
  CPropertySheetEx sheet(801, nullptr, 1);
  sheet.AddPage(&m_first);
  sheet.AddPage(&m_second);
  sheet.m_psh.dwFlags |= PSH_WIZARD97;
  int start = -1;
  DialogScript script;
  script.Then([&](QDialog& d) {
    start = dynamic_cast<QWizard&>(d).currentId();
    d.reject();
  });
  sheet.DoModal();
  EXPECT_EQ(start, 1);
}

TEST_F(WizardSheet, NotShownWithoutWizardModeOrWithAMissingTemplate) {
  DialogScript script;
  CPropertySheetEx plain(801);
  plain.AddPage(&m_first);
  EXPECT_EQ(plain.DoModal(), -1);

  RecordingPage missing("x", m_log);
  missing.Construct(799);
  CPropertySheetEx broken(801);
  broken.AddPage(&m_first);
  broken.AddPage(&missing);
  broken.m_psh.dwFlags |= PSH_WIZARD97;
  EXPECT_EQ(broken.DoModal(), -1);
  EXPECT_EQ(script.Shown(), 0);
  EXPECT_EQ(m_first.GetSafeHwnd(), nullptr);
}

}  // namespace
