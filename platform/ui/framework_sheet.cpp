// Wizard sheets and their pages on QWizard.
#include "platform/framework_sheet.h"

#include <QAbstractButton>
#include <QWizard>
#include <QWizardPage>

#include "platform/dialog_builder.h"
#include "platform/framework_app.h"
#include "platform/modal_dialog.h"
#include "platform/qt_application.h"
#include "platform/resources.h"

namespace {

QString StringResource(HINSTANCE module, UINT id) {
  if (id == 0) return {};
  const char* text = platform::FindStringResource(module, id);
  return text != nullptr ? QString::fromUtf8(text) : QString();
}

}  // namespace

// The window of a running sheet: the page operations decide what Next and
// Finish do, and the pages learn when they are shown.
class PropertySheetWindow : public QWizard {
 public:
  PropertySheetWindow(CPropertySheetEx& sheet, QWidget* parent) : QWizard(parent), m_sheet(sheet) {
    const bool wizard97 = (sheet.m_psh.dwFlags & PSH_WIZARD97) != 0;
    setWizardStyle(wizard97 ? QWizard::ModernStyle : QWizard::ClassicStyle);
    // No watermark, no header bitmap.
    setPixmap(QWizard::WatermarkPixmap, QPixmap());
    setPixmap(QWizard::LogoPixmap, QPixmap());
    setPixmap(QWizard::BannerPixmap, QPixmap());
    setPixmap(QWizard::BackgroundPixmap, QPixmap());
    setOption(QWizard::IndependentPages, true);
    setTitleFormat(Qt::PlainText);
    setSubTitleFormat(Qt::PlainText);
    // The platform's wizard buttons; the toolkit's Spanish translations lack
    // some of them.
    setButtonText(QWizard::BackButton, QStringLiteral("< &Atrás"));
    setButtonText(QWizard::NextButton, QStringLiteral("&Siguiente >"));
    setButtonText(QWizard::FinishButton, QStringLiteral("Finalizar"));
    setButtonText(QWizard::CancelButton, QStringLiteral("Cancelar"));
    connect(this, &QWizard::currentIdChanged, this, [this](int id) { PageChanged(id); });
  }

  // Builds every page from its template; false when a template is missing.
  bool BuildPages(HINSTANCE resources) {
    const bool wizard97 = (m_sheet.m_psh.dwFlags & PSH_WIZARD97) != 0;
    for (int i = 0; i < m_sheet.GetPageCount(); ++i) {
      CPropertyPageEx& page = *m_sheet.m_pages[static_cast<std::size_t>(i)];
      const platform::DialogTemplate* pageTemplate =
          platform::FindDialogTemplate(resources, static_cast<int>(page.m_psp.pszTemplate));
      if (pageTemplate == nullptr) return false;
      // The sheet, its header and buttons included, takes the first page's
      // font, as the platform's property sheets do.
      if (i == 0) setFont(platform::DialogFontOf(*pageTemplate));
      auto* widget = new QWizardPage;
      platform::BuildDialogControls(*widget, *pageTemplate, resources);
      if (wizard97 && (page.m_psp.dwFlags & PSP_USEHEADERTITLE) != 0) {
        widget->setTitle(StringResource(resources, page.m_psp.pszHeaderTitle));
      }
      if (wizard97 && (page.m_psp.dwFlags & PSP_USEHEADERSUBTITLE) != 0) {
        widget->setSubTitle(StringResource(resources, page.m_psp.pszHeaderSubTitle));
      } else if (wizard97 && !widget->title().isEmpty()) {
        // The toolkit shows the header band only for pages with a subtitle;
        // a title alone still goes into the header, above an empty line.
        widget->setSubTitle(QStringLiteral(" "));
      }
      setPage(i, widget);
      page.AttachWidget(widget);
      page.OnInitDialog();
    }
    return true;
  }

  void DetachPages() {
    for (CPropertyPageEx* page : m_sheet.m_pages) page->DetachWidget();
  }

  int ActiveIndex() const { return currentId(); }

  void SetButtons(DWORD flags) {
    QAbstractButton* back = button(QWizard::BackButton);
    QAbstractButton* next = button(QWizard::NextButton);
    QAbstractButton* finish = button(QWizard::FinishButton);
    back->setEnabled((flags & PSWIZB_BACK) != 0);
    const bool showFinish = (flags & (PSWIZB_FINISH | PSWIZB_DISABLEDFINISH)) != 0;
    // Finish takes the place of Next.
    next->setVisible(!showFinish);
    next->setEnabled(!showFinish && (flags & PSWIZB_NEXT) != 0);
    finish->setVisible(showFinish);
    finish->setEnabled((flags & PSWIZB_FINISH) != 0);
    // A control of the page keeps the focus; otherwise it goes to the button
    // that goes on.
    QWidget* focus = focusWidget();
    if (focus != nullptr && currentPage() != nullptr && currentPage()->isAncestorOf(focus)) return;
    if (showFinish) {
      finish->setFocus();
    } else if (next->isEnabled()) {
      next->setFocus();
    }
  }

  int nextId() const override {
    if (m_jump >= 0) return m_jump;
    const int next = currentId() + 1;
    return next < m_sheet.GetPageCount() ? next : -1;
  }

  bool validateCurrentPage() override {
    CPropertyPageEx* page = m_sheet.GetActivePage();
    if (page == nullptr) return false;
    const LRESULT answer = page->OnWizardNext();
    if (answer == -1) return false;
    m_jump = -1;
    if (answer != 0) {
      // Another page, named by its template.
      for (int i = 0; i < m_sheet.GetPageCount(); ++i) {
        if (static_cast<LRESULT>(m_sheet.GetPage(i)->m_psp.pszTemplate) == answer) m_jump = i;
      }
      if (m_jump < 0) return false;
    }
    return true;
  }

  void done(int result) override {
    if (result == QDialog::Accepted) {
      CPropertyPageEx* page = m_sheet.GetActivePage();
      if (page == nullptr || !page->OnWizardFinish()) return;
    }
    // Not QWizard::done: that would ask the page's Next handler again.
    QDialog::done(result);
  }

 private:
  void PageChanged(int id) {
    m_jump = -1;
    if (m_shown >= 0 && m_shown < m_sheet.GetPageCount() && m_shown != id) {
      m_sheet.GetPage(m_shown)->OnKillActive();
    }
    m_shown = id;
    if (CPropertyPageEx* page = m_sheet.GetPage(id)) page->OnSetActive();
    // As the platform's property sheets do, the page that became active gives
    // the keyboard focus to its first control that takes it.
    if (QWidget* control = currentPage() ? FirstTabStop(*currentPage()) : nullptr) {
      control->setFocus(Qt::TabFocusReason);
    }
  }

  // The first control of the page, in tab order, that Tab can reach.
  static QWidget* FirstTabStop(QWidget& page) {
    for (QWidget* w = page.nextInFocusChain(); w != nullptr && w != &page;
         w = w->nextInFocusChain()) {
      const bool tabStop = (w->focusPolicy() & Qt::TabFocus) == Qt::TabFocus;
      if (page.isAncestorOf(w) && tabStop && w->isEnabled() && w->isVisibleTo(&page)) return w;
    }
    return nullptr;
  }

  CPropertySheetEx& m_sheet;
  int m_jump = -1;
  int m_shown = -1;
};

// --- CPropertyPageEx ---------------------------------------------------------

CPropertyPageEx::CPropertyPageEx(UINT nIDTemplate, UINT nIDCaption, UINT nIDHeaderTitle,
                                 UINT nIDHeaderSubTitle) {
  Construct(nIDTemplate, nIDCaption, nIDHeaderTitle, nIDHeaderSubTitle);
}

void CPropertyPageEx::Construct(UINT nIDTemplate, UINT, UINT nIDHeaderTitle,
                                UINT nIDHeaderSubTitle) {
  m_psp.pszTemplate = nIDTemplate;
  m_psp.pszHeaderTitle = nIDHeaderTitle;
  m_psp.pszHeaderSubTitle = nIDHeaderSubTitle;
  m_psp.dwFlags = 0;
  if (nIDHeaderTitle != 0) m_psp.dwFlags |= PSP_USEHEADERTITLE;
  if (nIDHeaderSubTitle != 0) m_psp.dwFlags |= PSP_USEHEADERSUBTITLE;
}

BOOL CPropertyPageEx::OnSetActive() { return TRUE; }

BOOL CPropertyPageEx::OnKillActive() { return UpdateData(TRUE); }

LRESULT CPropertyPageEx::OnWizardNext() { return 0; }

BOOL CPropertyPageEx::OnWizardFinish() { return TRUE; }

BOOL CPropertyPageEx::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

// --- CPropertySheetEx --------------------------------------------------------

CPropertySheetEx::CPropertySheetEx(UINT nIDCaption, CWnd* pParentWnd, UINT iSelectPage)
    : m_nIDCaption(nIDCaption), m_nStartPage(iSelectPage) {
  m_pParentWnd = pParentWnd;
  m_psh.hInstance = AfxGetResourceHandle();
}

CPropertySheetEx::~CPropertySheetEx() = default;

void CPropertySheetEx::AddPage(CPropertyPageEx* pPage) {
  if (pPage == nullptr) return;
  pPage->m_pParentWnd = this;
  m_pages.push_back(pPage);
}

CPropertyPageEx* CPropertySheetEx::GetPage(int nPage) const {
  if (nPage < 0 || nPage >= GetPageCount()) return nullptr;
  return m_pages[static_cast<std::size_t>(nPage)];
}

CPropertyPageEx* CPropertySheetEx::GetActivePage() const { return GetPage(GetActiveIndex()); }

int CPropertySheetEx::GetActiveIndex() const {
  auto* window = dynamic_cast<PropertySheetWindow*>(GetWidget());
  return window != nullptr ? window->ActiveIndex() : -1;
}

void CPropertySheetEx::SetWizardButtons(DWORD dwFlags) {
  if (auto* window = dynamic_cast<PropertySheetWindow*>(GetWidget())) window->SetButtons(dwFlags);
}

INT_PTR CPropertySheetEx::DoModal() {
  if (platform::EnsureQtApplication() == nullptr) return -1;
  if ((m_psh.dwFlags & (PSH_WIZARD | PSH_WIZARD97)) == 0 || m_pages.empty()) return -1;

  QWidget* parent = m_pParentWnd != nullptr ? m_pParentWnd->GetWidget() : nullptr;
  PropertySheetWindow window(*this, parent);
  const HINSTANCE captionModule =
      m_psh.hInstance != nullptr ? m_psh.hInstance : AfxGetResourceHandle();
  window.setWindowTitle(StringResource(captionModule, m_nIDCaption));
  if (!window.BuildPages(AfxGetResourceHandle())) {
    window.DetachPages();
    return -1;
  }
  window.setStartId(m_nStartPage < m_pages.size() ? static_cast<int>(m_nStartPage) : 0);
  AttachWidget(&window);
  const int result = platform::RunModalDialog(window);
  window.DetachPages();
  DetachWidget();
  return result == QDialog::Accepted ? ID_WIZFINISH : IDCANCEL;
}

LRESULT CPropertySheetEx::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == PSM_SETWIZBUTTONS) {
    SetWizardButtons(static_cast<DWORD>(lParam));
    return 0;
  }
  return CWnd::WindowProc(message, wParam, lParam);
}
