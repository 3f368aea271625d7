#include "store/trap_name.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace tervane::store {
namespace {

TEST(TrapName, FoldsLettersOfEveryScriptInEveryLocale) {
  struct Case {
    std::string a;
    std::string b;
    bool same;
  };
  const std::vector<Case> cases = {
      {"linkDown", "LINKDOWN", true},
      {"linkDown", "linkUp", false},
      {"", "", true},
      {"überTrap", "ÜberTrap", true},
      {"überTrap", "uberTrap", false},
      {"Straße", "STRAẞE", true},    // U+1E9E folds to ß (status S)
      {"Straße", "STRASSE", false},  // ß to ss is a full folding only
      {"ς", "σ", true},
      {"Σ", "ς", true},
      {"\U00010400", "\U00010428", true},  // Deseret, four bytes each
      {"\U00010400", "\U00010429", false},
      {"K", "\u212A", true},  // KELVIN SIGN, three bytes, folds to one
      {"ı", "i", false},      // U+0131 has no folding
      {"İ", "i", false},      // U+0130 folds only in full or Turkic folding
      {"A\xC3", "a\xC3", true},
      {"\xC3", "\xC4", false},
      {"\xC1\x81", "A", false},      // overlong "A"
      {"\xE0\x83\x9C", "ü", false},  // overlong "Ü"
  };
  const std::string previous = std::setlocale(LC_ALL, nullptr);
  for (const char* locale : {"C", "C.UTF-8"}) {
    ASSERT_NE(std::setlocale(LC_ALL, locale), nullptr) << locale;
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(locale) + ": \"" + c.a + "\" vs \"" + c.b + "\"");
      EXPECT_EQ(SameTrapName(c.a, c.b), c.same);
    }
  }
  std::setlocale(LC_ALL, previous.c_str());
}

TEST(TrapName, KeepsBytesThatAreNotUtf8) {
  struct Case {
    std::string text;
    std::string folded;
  };
  const std::vector<Case> cases = {
      {"\xC3", "\xC3"},                          // truncated at the end
      {"\xC3Ä", "\xC3ä"},                        // truncated before a letter
      {"\x80\xBFÄ", "\x80\xBFä"},                // stray continuation bytes
      {"\xC1\x81", "\xC1\x81"},                  // overlong "A", not folded to "a"
      {"\xE0\x83\x9C", "\xE0\x83\x9C"},          // overlong "Ü"
      {"\xF0\x80\x81\x81", "\xF0\x80\x81\x81"},  // overlong "A" in four bytes
      {"\xED\xA0\x80", "\xED\xA0\x80"},          // surrogate U+D800
      {"\xF4\x90\x80\x80", "\xF4\x90\x80\x80"},  // above U+10FFFF
      {"\xF5\xFF", "\xF5\xFF"},
      {"\xF0\x90\x90", "\xF0\x90\x90"},       // truncated U+10400
      {"\xE2\x84\xAA\xE2\x84", "k\xE2\x84"},  // KELVIN SIGN, then a truncated one
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    // A buffer of exactly the text's size, so that the address sanitizer catches a read past
    // its end (a string's terminating NUL would hide one).
    const std::vector<char> exact(c.text.begin(), c.text.end());
    const std::string folded = FoldCase(std::string_view(exact.data(), exact.size()));
    EXPECT_EQ(folded, c.folded);
    EXPECT_EQ(FoldCase(folded), folded);
  }
}

// The UTF-8 of a code point, written independently of the code under test.
std::string Utf8(uint32_t c) {
  if (c < 0x80) return std::string(1, static_cast<char>(c));
  const int n = c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
  std::string s(n, '\0');
  for (int i = n - 1; i > 0; --i, c >>= 6) s[i] = static_cast<char>(0x80 | (c & 0x3F));
  s[0] = static_cast<char>((0xFF00u >> n & 0xFFu) | c);  // 110xxxxx, 1110xxxx or 11110xxx
  return s;
}

// Every code point against the Unicode data file: those of a C or S line fold to its mapping,
// which folds to itself, and every other one folds to itself.
TEST(TrapName, FoldsEveryCodePointAsCaseFoldingTxtSays) {
  const char* path = "/usr/share/unicode/CaseFolding.txt";
  std::ifstream file(path);
  if (!file) GTEST_SKIP() << path << " is missing (Debian package unicode-data)";
  std::map<uint32_t, uint32_t> folding;
  for (std::string line; std::getline(file, line);) {
    unsigned from = 0;
    unsigned to = 0;
    char status = 0;
    if (std::sscanf(line.c_str(), "%x; %c; %x;", &from, &status, &to) == 3 &&
        (status == 'C' || status == 'S')) {
      folding[from] = to;
    }
  }
  ASSERT_GT(folding.size(), 1400u);  // 1454 in Unicode 15.0
  for (const auto& [from, to] : folding) {
    ASSERT_EQ(FoldCase(Utf8(to)), Utf8(to)) << std::hex << "U+" << to;
  }
  for (uint32_t c = 0; c <= 0x10FFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    const auto it = folding.find(c);
    ASSERT_EQ(FoldCase(Utf8(c)), Utf8(it == folding.end() ? c : it->second))
        << std::hex << "U+" << c;
  }
}

}  // namespace
}  // namespace tervane::store
