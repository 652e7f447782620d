#include "text/win1251.h"

#include <array>

#include "text/letter_case.h"

namespace tallo::cp1251 {

namespace {

struct Tables {
    std::array<unsigned char, 256> upper{};
    std::array<unsigned char, 256> lower{};
    constexpr Tables() {
        for (int i = 0; i < 256; ++i) {
            upper[i] = static_cast<unsigned char>(i);
            lower[i] = static_cast<unsigned char>(i);
        }
        auto pair = [this](int up, int low) {
            upper[low] = static_cast<unsigned char>(up);
            lower[up] = static_cast<unsigned char>(low);
        };
        for (int c = 'A'; c <= 'Z'; ++c)
            pair(c, c + 32);
        for (int c = 0xC0; c <= 0xDF; ++c)
            pair(c, c + 32);  // А..Я / а..я
        pair(0xA8, 0xB8);     // Ё ё
        pair(0x80, 0x90);     // Ђ ђ
        pair(0x81, 0x83);     // Ѓ ѓ
        pair(0x8A, 0x9A);     // Љ љ
        pair(0x8C, 0x9C);     // Њ њ
        pair(0x8D, 0x9D);     // Ќ ќ
        pair(0x8E, 0x9E);     // Ћ ћ
        pair(0x8F, 0x9F);     // Џ џ
        pair(0xA1, 0xA2);     // Ў ў
        pair(0xA3, 0xBC);     // Ј ј
        pair(0xA5, 0xB4);     // Ґ ґ
        pair(0xAA, 0xBA);     // Є є
        pair(0xAF, 0xBF);     // Ї ї
        pair(0xB2, 0xB3);     // І і
        pair(0xBD, 0xBE);     // Ѕ ѕ
    }
};

constexpr Tables kTables;

// Unicode code points of the bytes 0x80..0xFF (0 = undefined).
constexpr std::array<char16_t, 128> kHighHalf = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0000, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, 0x0410,
    0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D,
    0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A,
    0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444,
    0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

// One UTF-8 sequence as its lead byte announces it: length 0 for a byte that
// leads no sequence; complete when every continuation byte is there.
struct Sequence {
    std::size_t length = 0;
    char32_t cp = 0;
    bool complete = false;
};

Sequence SequenceAt(std::string_view text, std::size_t i) {
    const auto b = static_cast<unsigned char>(text[i]);
    Sequence seq;
    if (b < 0x80)
        return {1, b, true};
    if ((b & 0xE0) == 0xC0)
        seq = {2, b & 0x1Fu, false};
    else if ((b & 0xF0) == 0xE0)
        seq = {3, b & 0x0Fu, false};
    else if ((b & 0xF8) == 0xF0)
        seq = {4, b & 0x07u, false};
    else
        return seq;
    if (i + seq.length > text.size())
        return seq;
    for (std::size_t k = 1; k < seq.length; ++k) {
        const auto c = static_cast<unsigned char>(text[i + k]);
        if ((c & 0xC0) != 0x80)
            return seq;
        seq.cp = (seq.cp << 6) | (c & 0x3F);
    }
    seq.complete = true;
    return seq;
}

// The Windows-1251 byte of a character above ASCII, or "?".
char ByteOf(char32_t cp) {
    const int b = ByteFor(cp);
    return b < 0 ? '?' : static_cast<char>(b);
}

// A complete sequence that is also well-formed: no overlong form, surrogate
// or code point beyond Unicode.
bool WellFormed(const Sequence& seq) {
    const char32_t cp = seq.cp;
    return seq.complete &&
           !((seq.length == 2 && cp < 0x80) || (seq.length == 3 && cp < 0x800) ||
             (seq.length == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF));
}

}  // namespace

unsigned char ToUpper(unsigned char c) {
    return kTables.upper[c];
}
unsigned char ToLower(unsigned char c) {
    return kTables.lower[c];
}

std::string Upper(std::string_view text) {
    std::string out(text);
    for (auto& ch : out)
        ch = static_cast<char>(kTables.upper[static_cast<unsigned char>(ch)]);
    return out;
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (auto& ch : out)
        ch = static_cast<char>(kTables.lower[static_cast<unsigned char>(ch)]);
    return out;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return text::EqualFolded(a, b, ToUpper);
}

std::string FromUtf8(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const Sequence seq = SequenceAt(utf8, i);
        if (seq.length == 1) {
            out += utf8[i++];
            continue;
        }
        if (seq.length != 0 && i + seq.length > utf8.size()) {
            out += '?';  // the text ends inside the sequence
            break;
        }
        out += seq.complete ? ByteOf(seq.cp) : '?';
        i += seq.complete ? seq.length : 1;
    }
    return out;
}

std::string ToUtf8(std::string_view cp1251_text) {
    std::string out;
    out.reserve(cp1251_text.size() * 2);
    for (char ch : cp1251_text) {
        auto b = static_cast<unsigned char>(ch);
        char32_t cp = CharFor(b);
        if (cp == 0 && b != 0)
            cp = 0xFFFD;
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

bool IsValidUtf8(std::string_view text) {
    return InvalidUtf8At(text) == std::string_view::npos;
}

std::size_t InvalidUtf8At(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        const Sequence seq = SequenceAt(text, i);
        if (!WellFormed(seq))
            return i;
        i += seq.length;
    }
    return std::string_view::npos;
}

std::size_t DecodeUtf8At(std::string_view text, std::size_t i, char32_t& cp) {
    const Sequence seq = SequenceAt(text, i);
    if (!WellFormed(seq))
        return 0;
    cp = seq.cp;
    return seq.length;
}

int ByteFor(char32_t cp) {
    if (cp < 0x80)
        return static_cast<int>(cp);
    if (cp >= 0x0410 && cp <= 0x044F)  // А..я, the bulk of Russian text
        return static_cast<int>(0xC0 + (cp - 0x0410));
    for (std::size_t k = 0; k < kHighHalf.size(); ++k) {
        if (kHighHalf[k] != 0 && kHighHalf[k] == cp)
            return static_cast<int>(0x80 + k);
    }
    return -1;
}

char32_t CharFor(unsigned char b) {
    return b < 0x80 ? b : kHighHalf[b - 0x80];
}

}  // namespace tallo::cp1251
