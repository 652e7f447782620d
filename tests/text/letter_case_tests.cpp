// The two letter-case rule sets: ASCII changes only a..z, Windows-1251 also
// the Cyrillic letters.
#include <gtest/gtest.h>

#include "text/letter_case.h"
#include "text/win1251.h"

namespace tallo {
namespace {

TEST(LetterCase, AsciiAndWindows1251RulesDifferOnlyBeyondAscii) {
    const struct {
        std::string a, b;
        bool ascii, cp1251;
    } cases[] = {
        {".ZqL", ".zql", true, true},
        {".zq", ".zql", false, false},
        {"\xCF\xD0\xC8", "\xEF\xF0\xE8", false, true},  // ПРИ / при
        {"\xA8", "\xB8", false, true},                  // Ё / ё
        {"@[", "`{", false, false},                     // neighbours of the letters
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ascii::EqualNoCase(c.a, c.b), c.ascii) << c.a;
        EXPECT_EQ(cp1251::EqualNoCase(c.a, c.b), c.cp1251) << c.a;
    }
    EXPECT_TRUE(ascii::StartsWithNoCase("MSG:done", "msg:"));
    EXPECT_FALSE(ascii::StartsWithNoCase("MSG", "msg:"));
}

}  // namespace
}  // namespace tallo
