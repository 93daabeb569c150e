// String tables found by module handle, and LoadStringA's bounded copy.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/module_handle.h"
#include "platform/resources.h"

namespace {

const platform::StringResource kTable[] = {
    {7, "Error"},
    {31, "Pin no válido.... no se introducirá el certificado en la tarjeta."},
    {40, "ñññ"},
};
const platform::StringTableRegistration kRegistration(kTable);

HINSTANCE ThisModule() { return platform::ProgramModule(); }

TEST(StringResources, TableIsRegisteredUnderTheProgramModule) {
  EXPECT_EQ(kRegistration.Module(), ThisModule());
  EXPECT_STREQ(platform::FindStringResource(ThisModule(), 7), "Error");
  EXPECT_EQ(platform::FindStringResource(ThisModule(), 8), nullptr);
}

TEST(StringResources, LoadStringCopiesWholeEntryWithAccents) {
  char buffer[260];
  const char* expected = "Pin no válido.... no se introducirá el certificado en la tarjeta.";
  EXPECT_EQ(LoadStringA(ThisModule(), 31, buffer, sizeof buffer),
            static_cast<int>(std::strlen(expected)));
  EXPECT_STREQ(buffer, expected);
}

TEST(StringResources, LoadStringTruncatesToTheBufferAndTerminates) {
  char buffer[4];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(LoadStringA(ThisModule(), 7, buffer, sizeof buffer), 3);
  EXPECT_STREQ(buffer, "Err");
}

TEST(StringResources, LoadStringNeverCutsACharacterInTwo) {
  // Each ñ is two bytes: five bytes of room hold two of them, not two and a half.
  char buffer[6];
  EXPECT_EQ(LoadStringA(ThisModule(), 40, buffer, sizeof buffer), 4);
  EXPECT_STREQ(buffer, "ññ");
}

TEST(StringResources, MissingEntryOrModuleGivesZeroAndEmptyBuffer) {
  char buffer[16] = "stale";
  EXPECT_EQ(LoadStringA(ThisModule(), 999, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "");
  int other = 0;
  strcpy(buffer, "stale");
  EXPECT_EQ(LoadStringA(reinterpret_cast<HINSTANCE>(&other), 7, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(LoadStringA(ThisModule(), 7, buffer, 0), 0);
  EXPECT_EQ(LoadStringA(ThisModule(), 7, nullptr, 16), 0);
}

TEST(StringResources, RegistrationEndsWithItsObject) {
  static const platform::StringResource scoped[] = {{500, "temporal"}};
  {
    const platform::StringTableRegistration registration(scoped);
    EXPECT_STREQ(platform::FindStringResource(ThisModule(), 500), "temporal");
  }
  EXPECT_EQ(platform::FindStringResource(ThisModule(), 500), nullptr);
  EXPECT_STREQ(platform::FindStringResource(ThisModule(), 7), "Error");
}

}  // namespace
