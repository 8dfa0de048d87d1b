// Every shipped layout file, loaded as the program loads it: typing the
// keyboard's scancodes for a sample text in the layout's language gives that
// text on a US-keymap host (letters, capitals through Shift and caps lock,
// digits, punctuation, dead-key accents and AltGr characters).
//
// Keys are written as the characters on the keyboard's keys (a-z, 0-9,
// space and # ' , - . / ; = [ \ ] `) and {S} Shift, {C} caps lock, {G}
// AltGr, {B} Backspace, {E} Enter, {T} Tab. The modifiers are sticky: {S}a is
// Shift, then a.
#include "common/settings_store.h"
#include "keys/keycode_table.h"
#include "tests/keys/keys_fixture.h"


namespace keytest {
namespace {

std::vector<int> scancodesFor(const std::string &keys) {
  std::vector<int> out;
  for (size_t i = 0; i < keys.size(); ++i) {
    const char c = keys[i];
    if (c == '{') {
      const char name = keys.at(i + 1);
      i += 2; // the name and the closing brace
      switch (name) {
      case 'S': out.push_back(2); break;
      case 'C': out.push_back(3); break;
      case 'G': out.push_back(114); break;
      case 'B': out.push_back(8); break;
      case 'E': out.push_back(13); break;
      case 'T': out.push_back(9); break;
      default: ADD_FAILURE() << "unknown key {" << name << "}";
      }
    } else if (c >= 'a' && c <= 'z') {
      out.push_back(c - 'a' + 'A');
    } else {
      out.push_back(static_cast<unsigned char>(c));
    }
  }
  return out;
}

std::u32string utf32(const std::string &utf8) {
  std::u16string units = Utf8ToUtf16(utf8);
  std::u32string out;
  for (char16_t u : units)
    out.push_back(u); // the samples hold no characters beyond U+FFFF
  return out;
}

std::string show(const std::u32string &text) {
  std::u16string units;
  for (char32_t c : text)
    units.push_back(static_cast<char16_t>(c));
  return Utf16ToUtf8(units);
}

struct Piece {
  const char *keys;
  const char *text; // UTF-8
};

class LayoutTypingTest : public KeysTest {
protected:
  void load(const std::string &fileName) {
    const std::string bytes = testsupport::ReadFile(testsupport::DataFile(fileName));
    ASSERT_FALSE(bytes.empty()) << fileName;
    writeInstallFile(fileName, bytes);
    SettingsStore::WriteDword(u"Initialised", 1);
    SettingsStore::WriteString(u"keycode", Utf8ToUtf16(fileName).c_str());
    ASSERT_TRUE(loadKeycodeFile(nullptr));
  }

  // Types the pieces one after the other; after each, the host must show
  // the text of all pieces so far.
  void typeAndCheck(const std::vector<Piece> &pieces) {
    std::u32string expected;
    for (const Piece &p : pieces) {
      type(scancodesFor(p.keys));
      expected += utf32(p.text);
      UsHostModel host;
      ASSERT_EQ(show(host.type(injector.calls)), show(expected)) << "after keys " << p.keys;
      ASSERT_FALSE(host.shiftDown);
      ASSERT_FALSE(host.capsOn);
    }
  }
};

TEST_F(LayoutTypingTest, IntlEnglish) {
  load("Intl English.kcod");
  EXPECT_EQ(AppGlobals.SensitivityChoices[1].value, 20);
  EXPECT_EQ(AppGlobals.batteryThreshold[4], 130.0f);
  typeAndCheck({
      {"{S}caf'e, ", "Café, "},
      {"na{G}iiiive ", "naïve "},
      {"pi{G}nata{S}; ", "piñata: "},
      {"{G}[{G}{C}'c{C}a va{S}/{G}]{G} ", "«Ça va?» "},
      {"100{G}4{G} {S}7 ", "100€ & "},
      {"'quoted'{E}", "'quoted'\n"},
      {"{C}`a'e{C}{S}1 ", "ÀÉ! "},
      {"for{S}6et {S}`n {G}uuuu{G} {G}ss{G} ", "forêt ñ ü § "},
      {"{G}eeeee{G} {G}e{G}", "€ é"},
      {"`a ` {S}` {S}6 ", "à `~^"},
      {"{S}2{S}3{S}4{S}5 x{B}-=[]\\;,./{T}", "@#$% -=[]\\;,./\t"},
      {"{C}{S}ab{C}", "aB"},
  });
}

TEST_F(LayoutTypingTest, US) {
  load("US.kcod");
  typeAndCheck({
      {"{S}hello, {S}world{S}1 ", "Hello, World! "},
      {"1{S}=2=3 {S}9a{S}-b{S}0 ", "1+2=3 (a_b) "},
      {"{S}'q{S}' {S}[x{S}] [y] ", "\"q\" {x} [y] "},
      {"{S}``{S}\\\\{S},{S}.{S}/;{S};#{S}#", "~`|\\<>?;:#~"},
      {"{C}abc{S}d{C}e{G}f", "ABCdef"},
      {"{S}2{S}3{S}4{S}5{S}6{S}7{S}8", "@#$%^&*"},
  });
}

TEST_F(LayoutTypingTest, UK) {
  load("UK.kcod");
  typeAndCheck({
      {"{S}3{S}5 {S}' {S}2q{S}2 ", "£% @ \"q\" "},
      {"{S}` {S}# ", "¬ ~ "},
      {"{G}4{G} caf{G}e{G} {G}aa{G}", "€ café á"},
  });
}

TEST_F(LayoutTypingTest, Deutsch) {
  load("Deutsch.kcod");
  typeAndCheck({
      {"{S}gr[-e, {S};l {S}6 {S}'pfel{S}. ", "Grüße, Öl & Äpfel: "},
      {"5{G}e{G} {G}q{G}home{S}, {S}ma-{S}-", "5€ @home; Maß?"},
      {" {C}[ber{C} ", " ÜBER "},
      {"`e =e {S}=e `o {C}=e{C} ", "ê é è ô É "},
      {"\\{S}\\{S}1{S}2{S}3{S}7{S}0 ", "#'!\"§/= "},
      {"/{S}/]{S}]#{S}# ", "-_+*<> "},
      {"{G}7{G}{G}0{G}{G}-{G}{G}]{G}{G}#{G}{G}8{G}{G}9{G}", "{}\\~|[]"},
      {"` ", "^"},
  });
}

TEST_F(LayoutTypingTest, Francais) {
  load("Français.kcod");
  typeAndCheck({
      {"{C}9{C}a 2t2 0 ", "Ça été à "},
      {"{S}no{S}[el/ ", "Noël: "},
      {"for[et, o'{S}, ", "forêt, où? "},
      {"{S}1{S}/{S}2 {S}3{G}e{G} ; ", "1/2 3€ ! "},
      {"{C}7[e{C} 1345678 ", "ÈÊ &\"'(-è_ "},
      {"{S}[ [ {S}-={S}=]{S}]\\{S}\\#{S}#{S}'{S}.", "¨^°=+$£*µ<>%."},
      {"{G}aa{G} {G}oo{G}", "â œ"},
  });
}

} // namespace
} // namespace keytest
