// Platform type, version, screen size and language, answered without the
// desktop toolkit so that headless runs and tests see the same values.
#include "platform/system_info.h"

#include "platform/threads.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>

namespace {

struct Language {
  const char *code; // ISO 639-1
  WORD primary;     // primary language id
  WORD sub;         // the usual sub-language
  const char16_t *name;
  const char16_t *englishName;
};

// The languages a desktop is likely to run in, each named in itself.
const Language kLanguages[] = {
    {"en", 0x09, 1, u"English", u"English"},     {"de", 0x07, 1, u"Deutsch", u"German"},
    {"fr", 0x0C, 1, u"Français", u"French"},     {"es", 0x0A, 3, u"Español", u"Spanish"},
    {"it", 0x10, 1, u"Italiano", u"Italian"},    {"nl", 0x13, 1, u"Nederlands", u"Dutch"},
    {"pt", 0x16, 2, u"Português", u"Portuguese"}, {"sv", 0x1D, 1, u"Svenska", u"Swedish"},
    {"da", 0x06, 1, u"Dansk", u"Danish"},        {"nb", 0x14, 1, u"Norsk", u"Norwegian"},
    {"no", 0x14, 1, u"Norsk", u"Norwegian"},     {"fi", 0x0B, 1, u"Suomi", u"Finnish"},
    {"pl", 0x15, 1, u"Polski", u"Polish"},       {"cs", 0x05, 1, u"Čeština", u"Czech"},
    {"hu", 0x0E, 1, u"Magyar", u"Hungarian"},    {"el", 0x08, 1, u"Ελληνικά", u"Greek"},
    {"ru", 0x19, 1, u"Русский", u"Russian"},     {"tr", 0x1F, 1, u"Türkçe", u"Turkish"},
    {"ja", 0x11, 1, u"日本語", u"Japanese"},      {"zh", 0x04, 2, u"中文", u"Chinese"},
    {"ko", 0x12, 1, u"한국어", u"Korean"},
};

const Language &English() { return kLanguages[0]; }

// The locale name that decides the language, as the C library would pick it
// for messages.
std::string LocaleName() {
  for (const char *var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char *value = std::getenv(var);
    if (value && *value)
      return value;
  }
  return "C";
}

const Language *LanguageOfLocale(const std::string &locale) {
  std::string code = locale.substr(0, locale.find_first_of("_.@"));
  for (const Language &l : kLanguages)
    if (strcasecmp(code.c_str(), l.code) == 0)
      return &l;
  return nullptr;
}

const Language &LanguageOfId(LANGID id) {
  for (const Language &l : kLanguages)
    if (l.primary == PRIMARYLANGID(id))
      return l;
  return English();
}

int CopyOut(const char16_t *text, LPWSTR buffer, int max) {
  int needed = static_cast<int>(std::char_traits<char16_t>::length(text)) + 1;
  if (max == 0)
    return needed;
  if (!buffer || max < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(buffer, text, needed * sizeof(char16_t));
  return needed;
}

} // namespace

int GetSystemMetrics(int index) {
  switch (index) {
  case SM_CXSCREEN:
    return 480;
  case SM_CYSCREEN:
    return 640;
  default:
    return 0;
  }
}

BOOL SystemParametersInfoW(UINT action, UINT uiParam, LPVOID pv, UINT) {
  if (action != SPI_GETPLATFORMTYPE || !pv) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const char *platform = std::getenv("VANTREL_PLATFORM");
  const char16_t *name =
      platform && strcasecmp(platform, "Smartphone") == 0 ? u"Smartphone" : u"PocketPC";
  size_t bytes = (std::char_traits<char16_t>::length(name) + 1) * sizeof(char16_t);
  if (uiParam < bytes) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(pv, name, bytes);
  return TRUE;
}

BOOL GetVersionExW(OSVERSIONINFOW *info) {
  if (!info) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  info->dwMajorVersion = 5;
  info->dwMinorVersion = 2;
  info->dwBuildNumber = 0;
  info->dwPlatformId = VER_PLATFORM_WIN32_CE;
  info->szCSDVersion[0] = 0;
  return TRUE;
}

LANGID GetUserDefaultLangID() {
  const Language *l = LanguageOfLocale(LocaleName());
  if (!l)
    l = &English();
  return static_cast<LANGID>(MAKELANGID(l->primary, l->sub));
}

LANGID GetSystemDefaultLangID() { return GetUserDefaultLangID(); }

int GetLocaleInfoW(LCID locale, LCTYPE type, LPWSTR buffer, int max) {
  if (max < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  LANGID id = static_cast<LANGID>(locale & 0xFFFF);
  if (id == LOCALE_SYSTEM_DEFAULT || id == LOCALE_USER_DEFAULT || id == 0)
    id = GetUserDefaultLangID();
  const Language &l = LanguageOfId(id);
  switch (type) {
  case LOCALE_SLANGUAGE:
    return CopyOut(l.name, buffer, max);
  case LOCALE_SENGLANGUAGE:
    return CopyOut(l.englishName, buffer, max);
  default:
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
}
