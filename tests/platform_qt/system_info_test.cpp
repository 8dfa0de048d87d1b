// Platform queries: the language comes from the POSIX locale and is named in
// itself, so the first run picks the right language file; the platform type
// follows VANTREL_PLATFORM.
#include "platform/system_info.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

std::u16string LanguageFor(const char *lang) {
  unsetenv("LC_ALL");
  unsetenv("LC_MESSAGES");
  setenv("LANG", lang, 1);
  WCHAR name[256];
  int n = GetLocaleInfoW(MAKELCID(GetSystemDefaultLangID(), SORT_DEFAULT), LOCALE_SLANGUAGE, name, 256);
  return n > 0 ? std::u16string(name) : u"<failed>";
}

TEST(SystemInfo, LanguageNameFollowsTheLocale) {
  EXPECT_EQ(LanguageFor("de_DE.UTF-8"), u"Deutsch");
  EXPECT_EQ(LanguageFor("fr_CA.UTF-8"), u"Français");
  EXPECT_EQ(LanguageFor("es_ES@euro"), u"Español");
  EXPECT_EQ(LanguageFor("C"), u"English");
  EXPECT_EQ(LanguageFor("xx_YY"), u"English");
  setenv("LC_ALL", "de_AT.UTF-8", 1); // LC_ALL wins over LANG
  EXPECT_EQ(GetUserDefaultLangID() & 0x3ff, 0x07);
  unsetenv("LC_ALL");
  WCHAR small[3];
  EXPECT_EQ(GetLocaleInfoW(0x0409, LOCALE_SLANGUAGE, small, 3), 0); // does not fit
  EXPECT_EQ(GetLocaleInfoW(0x0409, LOCALE_SLANGUAGE, nullptr, 0), 8); // size asked
}

TEST(SystemInfo, PlatformTypeAndVersion) {
  WCHAR name[64];
  unsetenv("VANTREL_PLATFORM");
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETPLATFORMTYPE, sizeof name, name, 0));
  EXPECT_EQ(std::u16string(name), u"PocketPC");
  setenv("VANTREL_PLATFORM", "smartphone", 1);
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETPLATFORMTYPE, sizeof name, name, 0));
  EXPECT_EQ(std::u16string(name), u"Smartphone");
  EXPECT_FALSE(SystemParametersInfoW(SPI_GETPLATFORMTYPE, 4, name, 0)); // too small a buffer
  unsetenv("VANTREL_PLATFORM");
  OSVERSIONINFOW v{};
  v.dwOSVersionInfoSize = sizeof v;
  ASSERT_TRUE(GetVersionExW(&v));
  EXPECT_EQ(v.dwMajorVersion, 5u);
}

} // namespace
