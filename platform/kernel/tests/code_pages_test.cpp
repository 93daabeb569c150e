// MultiByteToWideChar over the UTF-8 code pages.
#include <gtest/gtest.h>

#include <string>

#include "platform/code_pages.h"

namespace {

TEST(CodePages, AnsiAndOemTextBecomesUtf16WithItsTerminator) {
  const char text[] = "Contraseña €";
  for (UINT codePage : {CP_ACP, CP_OEMCP, CP_UTF8}) {
    WCHAR buffer[512];
    const int written = MultiByteToWideChar(codePage, 0, text, -1, buffer, 512);
    ASSERT_EQ(written, 13);
    EXPECT_EQ(std::u16string(buffer), u"Contraseña €");
    EXPECT_EQ(buffer[12], u'\0');
  }
  // Counted input converts no terminator; a size query writes nothing.
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, text, 3, nullptr, 0), 3);
  WCHAR pair[2];
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "\xF0\x9F\x98\x80", 4, pair, 2), 2);  // outside the BMP
  EXPECT_EQ(pair[0], 0xD83D);
  EXPECT_EQ(pair[1], 0xDE00);
}

TEST(CodePages, ShortBuffersBadArgumentsAndInvalidText) {
  WCHAR buffer[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abcdef", -1, buffer, 4), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(buffer[0], u'x');
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, nullptr, -1, buffer, 4), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a", 0, buffer, 4), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a", -2, buffer, 4), 0);
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "a", -1, buffer, 4), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_PRECOMPOSED, "a", -1, buffer, 4), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_FLAGS);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, "a", -1, buffer, 4), 2);

  const char invalid[] = "a\xC3(";  // a lead byte without its continuation
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, invalid, -1, buffer, 4), 0);
  EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
  ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, invalid, -1, buffer, 4), 4);
  EXPECT_EQ(std::u16string(buffer, 3), u"a\uFFFD(");
}

}  // namespace
