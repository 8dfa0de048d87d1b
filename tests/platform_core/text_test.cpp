// Wide-string formatting and the 8-bit conversions.
#include "platform/text.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

std::u16string Format(const WCHAR *fmt, ...) {
  WCHAR out[1100];
  va_list ap;
  va_start(ap, fmt);
  wvsprintfW(out, fmt, ap);
  va_end(ap);
  return out;
}

TEST(Wsprintf, NumbersWithFlagsAndWidths) {
  EXPECT_EQ(Format(u"[%d][%5d][%-5d][%05d]", -42, 42, 42, -42), u"[-42][   42][42   ][-0042]");
  EXPECT_EQ(Format(u"%d %u", INT_MIN, 4294967295u), u"-2147483648 4294967295");
  EXPECT_EQ(Format(u"%x %X %04x %lu", 0xBEEFu, 0xBEEFu, 0xAu, 7u), u"beef BEEF 000a 7");
}

TEST(Wsprintf, TextCharactersAndPercent) {
  EXPECT_EQ(Format(u"%s|%-6s|%6s|%hs", u"abc", u"ab", u"ab", "narrow"),
            u"abc|ab    |    ab|narrow");
  EXPECT_EQ(Format(u"%c%c 100%%", u'O', 0x00E9), u"O\u00e9 100%");
  EXPECT_EQ(Format(u"%s", static_cast<const WCHAR *>(nullptr)), u"(null)");
  EXPECT_EQ(Format(u"trailing %"), u"trailing ");
}

TEST(Wsprintf, OutputIsCappedAt1024Units) {
  std::u16string big(3000, u'x');
  WCHAR out[1100];
  std::fill(std::begin(out), std::end(out), u'#');
  int n = wsprintfW(out, u"%s%d", big.c_str(), 12345);
  EXPECT_EQ(n, 1023);
  EXPECT_EQ(out[1023], 0);
  EXPECT_EQ(out[1024], u'#'); // nothing written past the cap
}

TEST(Wsprintf, BoundedFormCutsAndTerminates) {
  WCHAR out[8];
  std::fill(std::begin(out), std::end(out), u'#');
  EXPECT_EQ(wnsprintfW(out, 5, u"%s-%d", u"abc", 99), 4);
  EXPECT_EQ(std::u16string(out), u"abc-");
  EXPECT_EQ(out[5], u'#');
  EXPECT_EQ(wnsprintfW(out, 0, u"abc"), 0);
  EXPECT_EQ(out[0], u'a'); // capacity 0: untouched
}

TEST(Mbstowcs, Utf8AndWindows1252) {
  WCHAR out[32];
  // Valid UTF-8.
  EXPECT_EQ(mbstowcs(out, "a\xC3\xA9\xE2\x82\xAC", 32), 3u);
  EXPECT_EQ(std::u16string(out), u"a\u00e9\u20ac");
  // Lone 8-bit bytes read as Windows-1252, including the 0x80..0x9F block
  // and its undefined positions.
  EXPECT_EQ(mbstowcs(out, "\xE9t\xE9 \x80\x81\x8A\x9F", 32), 8u);
  EXPECT_EQ(std::u16string(out), u"\u00e9t\u00e9 \u20ac\u0081\u0160\u0178");
}

TEST(Mbstowcs, InvalidSequencesFallBackBytewise) {
  WCHAR out[32];
  // Overlong "/" (C0 AF), an encoded surrogate (ED A0 80) and a cut-off
  // sequence at the end are each read byte by byte.
  mbstowcs(out, "\xC0\xAF|\xED\xA0\x80|\xE2\x82", 32);
  EXPECT_EQ(std::u16string(out), u"\u00c0\u00af|\u00ed\u00a0\u20ac|\u00e2\u201a");
  // Above U+FFFF: one replacement character.
  EXPECT_EQ(mbstowcs(out, "<\xF0\x9F\x98\x80>", 32), 3u);
  EXPECT_EQ(std::u16string(out), u"<\ufffd>");
}

TEST(Mbstowcs, NeverWritesMoreThanN) {
  WCHAR out[8];
  std::fill(std::begin(out), std::end(out), u'#');
  EXPECT_EQ(mbstowcs(out, "abcdef", 3), 3u);
  EXPECT_EQ(out[2], u'c');
  EXPECT_EQ(out[3], u'#'); // no terminator when full, as in the C runtime
  EXPECT_EQ(mbstowcs(static_cast<WCHAR *>(nullptr), "\xC3\xA9xy", 0), 3u); // length only
}

TEST(Utf, RoundTripKeepsSupplementaryCharacters) {
  std::string text = "Fran\xC3\xA7ois \xF0\x9F\x98\x80";
  std::u16string wide = Utf8ToUtf16(text);
  EXPECT_EQ(wide, u"Fran\u00e7ois \U0001F600");
  EXPECT_EQ(Utf16ToUtf8(wide), text);
  EXPECT_EQ(Utf16ToUtf8(u"\xD800x"), "\xEF\xBF\xBDx"); // lone surrogate
}

TEST(WideStrings, CompareCopyAndParse) {
  EXPECT_EQ(_wcsicmp(u"Stra\u00c4e", u"sTRA\u00e4E"), 0);
  EXPECT_LT(_wcsicmp(u"abc", u"abd"), 0);
  WCHAR buf[6];
  std::fill(std::begin(buf), std::end(buf), u'#');
  wcsncpy(buf, u"ab", 5);
  EXPECT_EQ(buf[2], 0);
  EXPECT_EQ(buf[4], 0);
  EXPECT_EQ(buf[5], u'#');
  WStrCopyN(buf, 4, u"abcdef");
  EXPECT_EQ(std::u16string(buf), u"abc");
  EXPECT_EQ(_wtoi(u"  -123x"), -123);
  const WCHAR *hello = u"hello world";
  EXPECT_EQ(wcsstr(hello, u"o w"), hello + 4);
  EXPECT_EQ(wcsrchr(hello, u'o'), hello + 7);
}

} // namespace
