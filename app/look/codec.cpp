#include "app/look/codec.h"

#include <QFile>

#include "text/win1251.h"

namespace tallo::gui {

namespace {

// The byte the code page leaves undefined travels as U+0098.
constexpr unsigned char kUndefinedByte = 0x98;

char16_t CharOf(unsigned char b) {
    const char32_t cp = cp1251::CharFor(b);
    return b == kUndefinedByte ? char16_t{kUndefinedByte} : static_cast<char16_t>(cp);
}

// The byte of a character, or -1 when the code page lacks it.
int ByteOf(char16_t c) {
    return c == kUndefinedByte ? kUndefinedByte : cp1251::ByteFor(c);
}

}  // namespace

QString FromCp1251(std::string_view bytes) {
    QString out;
    out.reserve(static_cast<qsizetype>(bytes.size()));
    for (char b : bytes)
        out.append(QChar(CharOf(static_cast<unsigned char>(b))));
    return out;
}

std::string ToCp1251(const QString& text) {
    std::string out;
    out.reserve(static_cast<std::size_t>(text.size()));
    for (QChar c : text) {
        int b = ByteOf(c.unicode());
        out.push_back(b < 0 ? '?' : static_cast<char>(b));
    }
    return out;
}

bool FitsCp1251(const QString& text) {
    for (QChar c : text) {
        if (ByteOf(c.unicode()) < 0)
            return false;
    }
    return true;
}

QString FromFileName(const std::string& bytes) {
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

std::string ToFileName(const QString& name) {
    return QFile::encodeName(name).toStdString();
}

}  // namespace tallo::gui
