#include "password_conversion.h"

#include <climits>
#include <new>

#include "common/secure_wipe.h"
#include "platform/code_pages.h"

namespace {

// The one conversion used both to measure and to convert.
constexpr UINT kCodePage = CP_ACP;
constexpr DWORD kFlags = MB_PRECOMPOSED;

}  // namespace

CWidePassword::~CWidePassword() { Wipe(); }

void CWidePassword::Wipe() {
  if (m_text) SecureWipe(m_text.get(), (m_units + 1) * sizeof(WCHAR));
  m_text.reset();
  m_units = 0;
}

PasswordConversion ConvertPassword(const std::string& password, CWidePassword* wide) {
  wide->Wipe();
  if (password.empty() || password.size() > static_cast<std::size_t>(INT_MAX)) {
    return PasswordConversion::Failed;
  }
  const int length = static_cast<int>(password.size());
  const int units = MultiByteToWideChar(kCodePage, kFlags, password.data(), length, nullptr, 0);
  if (units <= 0) return PasswordConversion::Failed;

  std::unique_ptr<WCHAR[]> text;
  try {
    text = std::make_unique_for_overwrite<WCHAR[]>(static_cast<std::size_t>(units) + 1);
  } catch (const std::bad_alloc&) {
    return PasswordConversion::NoMemory;
  }
  const int converted =
      MultiByteToWideChar(kCodePage, kFlags, password.data(), length, text.get(), units);
  if (converted != units) {
    SecureWipe(text.get(), (static_cast<std::size_t>(units) + 1) * sizeof(WCHAR));
    return PasswordConversion::Failed;
  }
  text[static_cast<std::size_t>(units)] = u'\0';
  wide->m_text = std::move(text);
  wide->m_units = static_cast<std::size_t>(units);
  return PasswordConversion::Converted;
}
