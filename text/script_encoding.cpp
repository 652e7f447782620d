#include "text/script_encoding.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "text/lexer.h"
#include "text/win1251.h"

namespace tallo::script_encoding {

namespace {

unsigned char Byte(std::string_view text, std::size_t i) {
    return static_cast<unsigned char>(text[i]);
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
constexpr std::string_view kUtf16BeMark = "\xFE\xFF";

// The offset of the next byte from 0x80 up at or after i (text.size() when
// none): eight ASCII bytes at a time.
std::size_t NextHighByte(std::string_view text, std::size_t i) {
    while (i + 8 <= text.size()) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        if (word & 0x8080808080808080ULL)
            break;
        i += 8;
    }
    while (i < text.size() && Byte(text, i) < 0x80)
        ++i;
    return i;
}

std::string CodePoint(char32_t cp) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(cp));
    return buf;
}

std::string ByteText(unsigned char b) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", b);
    return buf;
}

[[noreturn]] void Refuse(const std::string& file_name, std::string_view text, std::size_t offset,
                         const std::string& what) {
    std::size_t line = 1, column = 1;
    PositionOf(text, offset, true, line, column);
    throw EncodingFailure(
        file_name + ": line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + what,
        line, column);
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string Utf16ToUtf8(std::string_view units, bool big_endian, const std::string& file_name) {
    std::string out;
    out.reserve(units.size());
    auto unit_at = [&](std::size_t i) -> char32_t {
        const char32_t a = Byte(units, i), b = Byte(units, i + 1);
        return big_endian ? (a << 8) | b : (b << 8) | a;
    };
    std::size_t i = 0;
    for (; i + 1 < units.size(); i += 2) {
        char32_t cp = unit_at(i);
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 3 < units.size()) {
            const char32_t low = unit_at(i + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (cp >= 0xD800 && cp <= 0xDFFF)
            Refuse(file_name, out, out.size(), "an unpaired UTF-16 surrogate " + CodePoint(cp));
        AppendUtf8(out, cp);
    }
    if (i < units.size())
        Refuse(file_name, out, out.size(), "the UTF-16 text ends inside a character");
    return out;
}

bool IsUtf8Charset(std::string_view charset) {
    return cp1251::EqualNoCase(charset, "UTF8") || cp1251::EqualNoCase(charset, "UTF-8") ||
           cp1251::EqualNoCase(charset, "UNICODE_FSS");
}

}  // namespace

Encoding Detect(std::string_view bytes) {
    if (StartsWith(bytes, kUtf16LeMark))
        return Encoding::Utf16Le;
    if (StartsWith(bytes, kUtf16BeMark))
        return Encoding::Utf16Be;
    if (StartsWith(bytes, kUtf8Mark))
        return Encoding::Utf8;
    bool multi_byte = false;
    for (std::size_t i = NextHighByte(bytes, 0); i < bytes.size(); i = NextHighByte(bytes, i)) {
        char32_t cp = 0;
        const std::size_t length = cp1251::DecodeUtf8At(bytes, i, cp);
        if (length == 0)
            return Encoding::Windows1251;
        multi_byte = true;
        i += length;
    }
    return multi_byte ? Encoding::Utf8 : Encoding::Windows1251;
}

const char* NameOf(Encoding encoding) {
    switch (encoding) {
        case Encoding::Utf8:
            return "UTF-8";
        case Encoding::Utf16Le:
            return "UTF-16LE";
        case Encoding::Utf16Be:
            return "UTF-16BE";
        case Encoding::Windows1251:
            break;
    }
    return "Windows-1251";
}

std::string Utf8Text(std::string_view bytes, Encoding encoding, const std::string& file_name) {
    switch (encoding) {
        case Encoding::Utf8:
            return std::string(StartsWith(bytes, kUtf8Mark) ? bytes.substr(kUtf8Mark.size()) : bytes);
        case Encoding::Utf16Le:
            return Utf16ToUtf8(bytes.substr(kUtf16LeMark.size()), false, file_name);
        case Encoding::Utf16Be:
            return Utf16ToUtf8(bytes.substr(kUtf16BeMark.size()), true, file_name);
        case Encoding::Windows1251:
            break;
    }
    return std::string(bytes);
}

std::string ToWindows1251(std::string_view utf8, const std::string& file_name) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t done = 0;
    for (std::size_t i = NextHighByte(utf8, 0); i < utf8.size(); i = NextHighByte(utf8, i)) {
        out.append(utf8, done, i - done);
        char32_t cp = 0;
        const std::size_t length = cp1251::DecodeUtf8At(utf8, i, cp);
        if (length == 0)
            Refuse(file_name, utf8, i, "the byte " + ByteText(Byte(utf8, i)) + " is not valid UTF-8");
        const int b = cp1251::ByteFor(cp);
        if (b < 0)
            Refuse(file_name, utf8, i, "the character " + CodePoint(cp) + " has no Windows-1251 form");
        out += static_cast<char>(b);
        i += length;
        done = i;
    }
    out.append(utf8, done, std::string_view::npos);
    return out;
}

bool SetsOwnCharacterSet(std::string_view script) {
    std::string terminator = ";";
    Lexer lexer(script, terminator);
    for (;;) {
        if (!EqualsWord(lexer.NextWord(), "SET"))
            return false;
        const std::string_view option = lexer.NextWord();
        if (EqualsWord(option, "NAMES"))
            return true;
        // These reach the database.
        if (option.empty() || EqualsWord(option, "TRANSACTION") || EqualsWord(option, "GENERATOR") ||
            EqualsWord(option, "STATISTICS"))
            return false;
        // "SET TERM ^ ;" and "SET TERM ^;": the new terminator is the first
        // run of the statement that holds no blank or quote.
        const std::size_t operand = lexer.PeekCode().begin;
        Lexeme t = lexer.NextDelimited();
        while (t.kind != TokenKind::Terminator) {
            if (t.kind == TokenKind::End)
                return false;
            t = lexer.NextDelimited();
        }
        if (AbbreviatesWord(option, "TERMINATOR", 4)) {
            const std::size_t end = std::min(lexer.RunEnd(operand), t.begin);
            terminator = end == operand ? ";" : std::string(script.substr(operand, end - operand));
            lexer.SetTerminator(terminator);
        }
    }
}

std::string ToConnectionText(std::string& text, std::string_view charset, const std::string& file_name) {
    const Encoding encoding = Detect(text);
    if (encoding == Encoding::Windows1251)
        return {};
    std::string utf8 = Utf8Text(text, encoding, file_name);
    const std::string read_as = std::string("read as ") + NameOf(encoding);
    if (!cp1251::EqualNoCase(charset, "WIN1251") || SetsOwnCharacterSet(utf8)) {
        text = std::move(utf8);
        return encoding == Encoding::Utf8 ? std::string() : read_as + ", converted to UTF-8";
    }
    text = ToWindows1251(utf8, file_name);
    return read_as + ", converted to Windows-1251";
}

std::size_t FirstByteOutside(std::string_view text, std::string_view charset) {
    if (IsUtf8Charset(charset))
        return cp1251::InvalidUtf8At(text);
    if (cp1251::EqualNoCase(charset, "WIN1251"))
        return text.find('\x98');
    return std::string_view::npos;
}

void PositionOf(std::string_view text, std::size_t offset, bool utf8, std::size_t& line,
                std::size_t& column) {
    Position position(utf8);
    position.Feed(text.substr(0, std::min(offset, text.size())));
    line = position.line;
    column = position.column;
}

void Position::Feed(std::string_view piece) {
    for (const char byte : piece) {
        const auto c = static_cast<unsigned char>(byte);
        if (c == '\r' || (c == '\n' && !after_cr_)) {
            ++line;
            column = 1;
        } else if (c != '\n' && !(utf8_ && c >= 0x80 && c < 0xC0)) {
            ++column;
        }
        after_cr_ = c == '\r';
    }
}

}  // namespace tallo::script_encoding
