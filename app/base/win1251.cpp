#include "win1251.h"

#include <array>

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
        for (int c = 'A'; c <= 'Z'; ++c) pair(c, c + 32);
        for (int c = 0xC0; c <= 0xDF; ++c) pair(c, c + 32);  // А..Я / а..я
        pair(0xA8, 0xB8);  // Ё ё
        pair(0x80, 0x90);  // Ђ ђ
        pair(0x81, 0x83);  // Ѓ ѓ
        pair(0x8A, 0x9A);  // Љ љ
        pair(0x8C, 0x9C);  // Њ њ
        pair(0x8D, 0x9D);  // Ќ ќ
        pair(0x8E, 0x9E);  // Ћ ћ
        pair(0x8F, 0x9F);  // Џ џ
        pair(0xA1, 0xA2);  // Ў ў
        pair(0xA3, 0xBC);  // Ј ј
        pair(0xA5, 0xB4);  // Ґ ґ
        pair(0xAA, 0xBA);  // Є є
        pair(0xAF, 0xBF);  // Ї ї
        pair(0xB2, 0xB3);  // І і
        pair(0xBD, 0xBE);  // Ѕ ѕ
    }
};

constexpr Tables kTables;

}  // namespace

unsigned char ToUpper(unsigned char c) { return kTables.upper[c]; }
unsigned char ToLower(unsigned char c) { return kTables.lower[c]; }

std::string Upper(std::string_view text) {
    std::string out(text);
    for (auto& ch : out) ch = static_cast<char>(kTables.upper[static_cast<unsigned char>(ch)]);
    return out;
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (auto& ch : out) ch = static_cast<char>(kTables.lower[static_cast<unsigned char>(ch)]);
    return out;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (kTables.upper[static_cast<unsigned char>(a[i])] != kTables.upper[static_cast<unsigned char>(b[i])])
            return false;
    }
    return true;
}

}  // namespace tallo::cp1251
