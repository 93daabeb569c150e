#include "platform/framework_file_dialog.h"

#include <QDir>
#include <QFileDialog>
#include <QStringList>

#include "platform/framework_app.h"
#include "platform/modal_dialog.h"
#include "platform/qt_application.h"

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + 1) {
    parts.push_back(text.substr(start, end - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

}  // namespace

CFileDialog::CFileDialog(BOOL bOpenFileDialog, LPCSTR lpszDefExt, LPCSTR lpszFileName,
                         DWORD dwFlags, LPCSTR lpszFilter, CWnd* pParentWnd)
    : m_bOpenFileDialog(bOpenFileDialog),
      m_defaultExtension(lpszDefExt ? lpszDefExt : ""),
      m_fileName(lpszFileName ? lpszFileName : ""),
      m_flags(dwFlags),
      m_nameFilters(NameFiltersOf(lpszFilter)),
      m_pParentWnd(pParentWnd) {}

std::vector<std::string> CFileDialog::NameFiltersOf(LPCSTR lpszFilter) {
  std::vector<std::string> filters;
  if (lpszFilter == nullptr) return filters;
  const std::vector<std::string> parts = Split(lpszFilter, '|');
  for (std::size_t i = 0; i + 1 < parts.size() && !parts[i].empty(); i += 2) {
    std::string patterns;
    for (const std::string& pattern : Split(parts[i + 1], ';')) {
      if (pattern.empty()) continue;
      if (!patterns.empty()) patterns += ' ';
      // "*.*" names every file, with or without a dot in its name.
      patterns += pattern == "*.*" ? std::string("*") : pattern;
    }
    filters.push_back(parts[i] + " (" + patterns + ")");
  }
  return filters;
}

INT_PTR CFileDialog::DoModal() {
  if (platform::EnsureQtApplication() == nullptr) return -1;
  CWnd* owner = m_pParentWnd != nullptr ? m_pParentWnd : AfxGetMainWnd();
  QFileDialog dialog(owner != nullptr ? owner->GetWidget() : nullptr);
  // The toolkit's own dialog, so that it runs (and is answered in tests)
  // like every other dialog of the platform.
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  // The descriptions already name their patterns.
  dialog.setOption(QFileDialog::HideNameFilterDetails, true);
  if (m_bOpenFileDialog) {
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode((m_flags & OFN_FILEMUSTEXIST) != 0 ? QFileDialog::ExistingFile
                                                          : QFileDialog::AnyFile);
  } else {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, (m_flags & OFN_OVERWRITEPROMPT) == 0);
  }
  if (!m_defaultExtension.empty()) dialog.setDefaultSuffix(QString::fromUtf8(m_defaultExtension));
  QStringList filters;
  for (const std::string& filter : m_nameFilters) filters << QString::fromUtf8(filter);
  if (!filters.isEmpty()) dialog.setNameFilters(filters);
  if (!m_fileName.empty()) dialog.selectFile(QString::fromUtf8(m_fileName));

  if (platform::RunModalDialog(dialog) != QDialog::Accepted) return IDCANCEL;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return IDCANCEL;
  m_pathName = QDir::toNativeSeparators(chosen.front()).toStdString();
  return IDOK;
}
