// MultiByteToWideChar over the platform's UTF-8 code pages.
#include "platform/code_pages.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/utf_convert.h"

namespace {

bool IsUtf8CodePage(UINT codePage) {
  return codePage == CP_ACP || codePage == CP_OEMCP || codePage == CP_THREAD_ACP ||
         codePage == CP_UTF8;
}

int Fail(DWORD error) {
  SetLastError(error);
  return 0;
}

}  // namespace

extern "C" int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr,
                                   int cbMultiByte, LPWSTR lpWideCharStr, int cchWideChar) {
  if (!lpMultiByteStr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
      (cchWideChar > 0 && !lpWideCharStr)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (!IsUtf8CodePage(CodePage)) return Fail(ERROR_INVALID_PARAMETER);
  // UTF-8 knows no composition choices; only the error switch means anything.
  const DWORD allowed =
      CodePage == CP_UTF8 ? MB_ERR_INVALID_CHARS
                          : MB_PRECOMPOSED | MB_COMPOSITE | MB_USEGLYPHCHARS | MB_ERR_INVALID_CHARS;
  if (dwFlags & ~allowed) return Fail(ERROR_INVALID_FLAGS);

  const std::size_t length =
      cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<std::size_t>(cbMultiByte);
  bool invalid = false;
  const std::u16string wide = platform::ToUtf16(std::string_view(lpMultiByteStr, length), &invalid);
  if (invalid && (dwFlags & MB_ERR_INVALID_CHARS)) return Fail(ERROR_NO_UNICODE_TRANSLATION);
  if (wide.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const int needed = static_cast<int>(wide.size());
  if (cchWideChar == 0) return needed;
  if (needed > cchWideChar) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::copy(wide.begin(), wide.end(), lpWideCharStr);
  return needed;
}
