// The framework's file-open and file-save dialog. The filter is the
// framework's string: pairs of description and patterns separated by '|',
// ended by "||" ("Texto (*.txt)|*.txt|Todos (*.*)|*.*||"); patterns within a
// pair are separated by ';', and "*.*" means every file.
#pragma once

#include <string>
#include <vector>

#include "platform/framework_window.h"

#define OFN_READONLY 0x00000001
#define OFN_OVERWRITEPROMPT 0x00000002
#define OFN_HIDEREADONLY 0x00000004
#define OFN_PATHMUSTEXIST 0x00000800
#define OFN_FILEMUSTEXIST 0x00001000

class CFileDialog : public CCmdTarget {
 public:
  explicit CFileDialog(BOOL bOpenFileDialog, LPCSTR lpszDefExt = nullptr,
                       LPCSTR lpszFileName = nullptr,
                       DWORD dwFlags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                       LPCSTR lpszFilter = nullptr, CWnd* pParentWnd = nullptr);

  // IDOK when the user chose a file, IDCANCEL otherwise; -1 without an
  // application.
  INT_PTR DoModal();
  // The chosen file's full path; empty before a choice.
  std::string GetPathName() const { return m_pathName; }

  // The filter as name filters of the toolkit: "description (patterns)".
  static std::vector<std::string> NameFiltersOf(LPCSTR lpszFilter);

 private:
  BOOL m_bOpenFileDialog;
  std::string m_defaultExtension;
  std::string m_fileName;
  DWORD m_flags;
  std::vector<std::string> m_nameFilters;
  CWnd* m_pParentWnd;
  std::string m_pathName;
};
