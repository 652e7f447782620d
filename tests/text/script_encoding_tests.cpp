// Recognising and converting the encoding of script files.
#include "text/script_encoding.h"

#include <gtest/gtest.h>

#include "text/win1251.h"

namespace tallo::script_encoding {
namespace {

using cp1251::operator""_cp;

TEST(ScriptEncoding, DetectsByMarkOrByValidMultiByteUtf8) {
    const struct {
        std::string bytes;
        Encoding expected;
    } cases[] = {
        {"", Encoding::Windows1251},
        {"select 1;", Encoding::Windows1251},            // ASCII stays as it is
        {"select 'Привет';"_cp, Encoding::Windows1251},  // Cyrillic in Windows-1251
        {"\xD0\xB0\xD1", Encoding::Windows1251},         // UTF-8 cut inside a character
        {"\xC3\xA9 \xE9", Encoding::Windows1251},        // valid, then not
        {"select 'Привет';", Encoding::Utf8},
        {"\xEF\xBB\xBFselect 1;", Encoding::Utf8},
        {"\xFF\xFEs\0", Encoding::Utf16Le},
        {"\xFE\xFF\0s", Encoding::Utf16Be},
        {std::string(100, 'a') + "\xF0\x9F\x98\x80", Encoding::Utf8},  // after the 8-byte ASCII steps
    };
    for (const auto& c : cases)
        EXPECT_EQ(Detect(c.bytes), c.expected) << c.bytes;
}

TEST(ScriptEncoding, ConvertsToWindows1251OrNamesThePlaceOfWhatItCannot) {
    EXPECT_EQ(ToWindows1251("Ёжик № 5 — «ok»", "f.sql"), "Ёжик № 5 — «ok»"_cp);
    const struct {
        std::string utf8;
        std::size_t line, column;
        const char* what;
    } refused[] = {
        {"ab中", 1, 3, "f.sql: line 1, column 3: the character U+4E2D has no Windows-1251 form"},
        {"a\r\nб\nв\rгд\xF0\x9F\x98\x80", 4, 3, "f.sql: line 4, column 3: the character U+1F600"},
        {"x\ny\xC0z", 2, 2, "f.sql: line 2, column 2: the byte 0xC0 is not valid UTF-8"},
    };
    for (const auto& c : refused) {
        try {
            ToWindows1251(c.utf8, "f.sql");
            ADD_FAILURE() << c.utf8;
        } catch (const EncodingFailure& e) {
            EXPECT_EQ(e.line, c.line);
            EXPECT_EQ(e.column, c.column);
            EXPECT_EQ(std::string(e.what()).rfind(c.what, 0), 0u) << e.what();
        }
    }
}

TEST(ScriptEncoding, Utf16IsDecodedAndDamagedUtf16Refused) {
    EXPECT_EQ(Utf8Text(std::string("\xFF\xFEO\0\x16\x04\x3D\xD8\x00\xDE", 10), Encoding::Utf16Le, "f"),
              "OЖ\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf8Text(std::string("\xFE\xFF\0O\x04\x16", 6), Encoding::Utf16Be, "f"), "OЖ");
    EXPECT_EQ(Utf8Text("\xEF\xBB\xBFx", Encoding::Utf8, "f"), "x");
    EXPECT_THROW(Utf8Text(std::string("\xFF\xFEO\0O", 5), Encoding::Utf16Le, "f"), EncodingFailure);
    EXPECT_THROW(Utf8Text(std::string("\xFF\xFE\x3D\xD8O\0", 6), Encoding::Utf16Le, "f"), EncodingFailure);
}

TEST(ScriptEncoding, OwnCharacterSetIsASetNamesAmongTheLeadingClientCommands) {
    const struct {
        const char* script;
        bool own;
    } cases[] = {
        {"SET NAMES UTF8;\nCONNECT 'x';", true},
        {"-- made by hand\n/* v2 */ set sql dialect 3;\nset names utf8;", true},
        {"SET TERM ^ ;\nSET AUTODDL ON^\nSET NAMES UTF8^", true},
        {"SET TERM ^;\nSET NAMES UTF8^", true},
        {"SET ECHO ON; SET NAMES 'UTF8';", true},
        {"insert into t values (1);\nSET NAMES UTF8;", false},
        {"CONNECT 'x'; SET NAMES UTF8;", false},
        {"SET TRANSACTION; SET NAMES UTF8;", false},
        {"SET GENERATOR g TO 5; SET NAMES UTF8;", false},
        {"", false},
        // Terminators in comments and strings end nothing.
        {"SET BAIL ON -- don't;\n; SET NAMES UTF8;", true},
        {"SET ECHO ON /* ; */; SET NAMES UTF8;", true},
        {"SET TERMINATOR !! ;\nSET PLANONLY 'x!!''!!' !!\nSET NAMES UTF8!!", true},
        {"SET TERM ^ ;\nSET ECHO ON;\nSET NAMES UTF8;", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SetsOwnCharacterSet(c.script), c.own) << c.script;
}

TEST(ScriptEncoding, ConnectionTextFollowsTheConnectionsCharacterSet) {
    const std::string utf16le("\xFF\xFE\x16\x04", 4);  // Ж
    const std::string utf16be("\xFE\xFF\x04\x16", 4);
    const struct {
        std::string bytes;
        std::string_view charset;
        std::string text, read_as;
    } cases[] = {
        {"select 'Ж';"_cp, "WIN1251", "select 'Ж';"_cp, ""},
        {"select 'Ж';"_cp, "UTF8", "select 'Ж';"_cp, ""},
        {"select 'Ж';", "WIN1251", "select 'Ж';"_cp, "read as UTF-8, converted to Windows-1251"},
        {"\xEF\xBB\xBFЖ", "win1251", "Ж"_cp, "read as UTF-8, converted to Windows-1251"},
        {utf16le, "WIN1251", "Ж"_cp, "read as UTF-16LE, converted to Windows-1251"},
        // A script that sets its own character set, and every connection
        // but a WIN1251 one, or none yet, reads UTF-8.
        {"SET NAMES UTF8; Ж", "WIN1251", "SET NAMES UTF8; Ж", ""},
        {"\xEF\xBB\xBFSET NAMES UTF8; Ж", "WIN1251", "SET NAMES UTF8; Ж", ""},
        {"Ж", "UTF8", "Ж", ""},
        {"Ж", "", "Ж", ""},
        {"\xEF\xBB\xBFЖ", "NONE", "Ж", ""},
        {utf16be, "UTF8", "Ж", "read as UTF-16BE, converted to UTF-8"},
    };
    for (const auto& c : cases) {
        std::string text = c.bytes;
        EXPECT_EQ(ToConnectionText(text, c.charset, "f.sql"), c.read_as) << c.bytes;
        EXPECT_EQ(text, c.text) << c.bytes;
    }
    std::string han = "ab中";
    EXPECT_THROW(ToConnectionText(han, "WIN1251", "f.sql"), EncodingFailure);
    EXPECT_EQ(ToConnectionText(han, "UTF8", "f.sql"), "");
}

TEST(ScriptEncoding, BytesOutsideACharacterSet) {
    constexpr std::size_t kNone = std::string_view::npos;
    const struct {
        std::string_view text, charset;
        std::size_t offset;
    } cases[] = {
        {"ok 'Привет'", "UTF8", kNone}, {"ab\xD0\x96x\xC0", "utf8", 5}, {"ab\xC0", "UTF-8", 2},
        {"ab\xC0", "UNICODE_FSS", 2},   {"\xC0\xC1", "WIN1251", kNone}, {"a\x98", "win1251", 1},
        {"\xC0\x98", "NONE", kNone},    {"\xC0\x98", "OCTETS", kNone},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FirstByteOutside(c.text, c.charset), c.offset) << c.text << " " << c.charset;
    std::size_t line = 0, column = 0;
    PositionOf("ab\n\xD0\x96x\xC0", 6, true, line, column);
    EXPECT_EQ(line, 2u);
    EXPECT_EQ(column, 3u);  // Ж counts once
}

}  // namespace
}  // namespace tallo::script_encoding
