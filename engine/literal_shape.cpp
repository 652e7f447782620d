#include "engine/literal_shape.h"

#include "engine/splitter.h"
#include "engine/words.h"

namespace tallo::engine {

namespace {

// The longest string a parameter can carry (a VARCHAR's limit).
constexpr std::size_t kMaxStringBytes = 32765;
constexpr int kMaxDigits = 18;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsHexDigit(char c) {
    return IsDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

int HexValue(char c) {
    if (IsDigit(c))
        return c - '0';
    return (c | 0x20) - 'a' + 10;
}

bool LeapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && LeapYear(y) ? 29 : kDays[m - 1];
}

// Reads a run of min..max digits of text from pos.
bool Digits(std::string_view text, std::size_t& pos, std::size_t min, std::size_t max, int& value) {
    std::size_t start = pos;
    value = 0;
    while (pos < text.size() && IsDigit(text[pos]) && pos - start < max)
        value = value * 10 + (text[pos++] - '0');
    return pos - start >= min && (pos >= text.size() || !IsDigit(text[pos]));
}

bool ReadDate(std::string_view text, std::size_t& pos, Literal& lit) {
    if (!Digits(text, pos, 4, 4, lit.year) || pos >= text.size() || text[pos++] != '-' ||
        !Digits(text, pos, 1, 2, lit.month) || pos >= text.size() || text[pos++] != '-' ||
        !Digits(text, pos, 1, 2, lit.day))
        return false;
    return lit.year >= 1 && lit.month >= 1 && lit.month <= 12 && lit.day >= 1 &&
           lit.day <= DaysInMonth(lit.year, lit.month);
}

bool ReadTime(std::string_view text, std::size_t& pos, Literal& lit) {
    if (!Digits(text, pos, 1, 2, lit.hour) || pos >= text.size() || text[pos++] != ':' ||
        !Digits(text, pos, 1, 2, lit.minute))
        return false;
    if (pos < text.size() && text[pos] == ':') {
        ++pos;
        if (!Digits(text, pos, 1, 2, lit.second))
            return false;
        if (pos < text.size() && text[pos] == '.') {
            const std::size_t start = ++pos;
            if (!Digits(text, pos, 1, 4, lit.fraction))
                return false;
            for (std::size_t n = pos - start; n < 4; ++n)
                lit.fraction *= 10;
        }
    }
    return lit.hour <= 23 && lit.minute <= 59 && lit.second <= 59;
}

// The date and time forms read here; everything else (other orders, 'NOW',
// 'TODAY', blanks) is left to the database.
bool ReadDateTime(const std::string& text, Literal& lit) {
    std::size_t pos = 0;
    bool ok = true;
    if (lit.kind == Literal::Kind::Date) {
        ok = ReadDate(text, pos, lit);
    } else if (lit.kind == Literal::Kind::Time) {
        ok = ReadTime(text, pos, lit);
    } else {
        ok = ReadDate(text, pos, lit);
        if (ok && pos < text.size()) {
            ok = text[pos++] == ' ' && ReadTime(text, pos, lit);
        }
    }
    return ok && pos == text.size();
}

class ShapeReader {
  public:
    ShapeReader(std::string_view sql, LiteralShape& shape) : sql_(sql), shape_(shape) {
        shape_.text.clear();
        shape_.literals.clear();
    }

    bool Read() {
        if (Keyword("INSERT")) {
            if (!Keyword("INTO") || !Name())
                return false;
            if (Punct('(')) {
                do {
                    if (!Name())
                        return false;
                } while (Punct(','));
                if (!Punct(')'))
                    return false;
            }
            if (!Keyword("VALUES") || !Punct('('))
                return false;
            do {
                if (!Value(false))
                    return false;
            } while (Punct(','));
            return Punct(')') && Finish();
        }
        if (Keyword("UPDATE")) {
            if (!Name() || !Keyword("SET"))
                return false;
            do {
                if (!Name() || !Punct('=') || !Value(false))
                    return false;
            } while (Punct(','));
            return Where() && Finish();
        }
        if (Keyword("DELETE")) {
            return Keyword("FROM") && Name() && Where() && Finish();
        }
        if (Keyword("EXECUTE")) {
            if (!Keyword("PROCEDURE") || !Name())
                return false;
            if (AtEnd())
                return Finish();
            const bool parenthesised = Punct('(');
            do {
                if (!Value(false))
                    return false;
            } while (Punct(','));
            return (!parenthesised || Punct(')')) && Finish();
        }
        return false;
    }

  private:
    // Skips blanks; a comment makes the reader unsure.
    bool Blanks() {
        while (pos_ < sql_.size() && IsBlankByte(static_cast<unsigned char>(sql_[pos_])))
            ++pos_;
        if (pos_ + 1 < sql_.size() &&
            ((sql_[pos_] == '-' && sql_[pos_ + 1] == '-') || (sql_[pos_] == '/' && sql_[pos_ + 1] == '*')))
            return false;
        return true;
    }

    bool AtEnd() { return Blanks() && pos_ >= sql_.size(); }

    // A bare word (ASCII letters, digits, _, $) at pos; empty when none.
    std::string_view PeekWord() const {
        std::size_t end = pos_;
        if (end < sql_.size() && IsLetter(sql_[end])) {
            while (end < sql_.size() && IsWordByte(static_cast<unsigned char>(sql_[end]))) {
                if (static_cast<unsigned char>(sql_[end]) >= 128)
                    return {};
                ++end;
            }
        }
        return sql_.substr(pos_, end - pos_);
    }

    bool Keyword(std::string_view upper) {
        if (!Blanks())
            return false;
        const std::string_view word = PeekWord();
        if (!EqualsWord(word, upper))
            return false;
        pos_ += word.size();
        return true;
    }

    bool Punct(char c) {
        if (!Blanks() || pos_ >= sql_.size() || sql_[pos_] != c)
            return false;
        ++pos_;
        return true;
    }

    bool Name() {
        if (!Blanks() || pos_ >= sql_.size())
            return false;
        if (sql_[pos_] == '"') {
            std::size_t i = pos_ + 1;
            for (;;) {
                const std::size_t close = sql_.find('"', i);
                if (close == std::string_view::npos)
                    return false;
                if (close + 1 < sql_.size() && sql_[close + 1] == '"') {
                    i = close + 2;
                    continue;
                }
                pos_ = close + 1;
                return true;
            }
        }
        const std::string_view word = PeekWord();
        if (word.empty())
            return false;
        pos_ += word.size();
        return true;
    }

    bool Where() {
        if (AtEnd())
            return true;
        if (!Keyword("WHERE"))
            return false;
        do {
            if (!Name() || !Punct('=') || !Value(true))
                return false;
        } while (Keyword("AND"));
        return true;
    }

    bool Finish() {
        if (!AtEnd())
            return false;
        shape_.text.append(sql_.substr(copied_));
        return true;
    }

    // A '...' string at pos: its bytes, quotes undone.
    bool QuotedString(std::string& bytes) {
        if (pos_ >= sql_.size() || sql_[pos_] != '\'')
            return false;
        std::size_t i = pos_ + 1;
        bytes.clear();
        for (;;) {
            const std::size_t close = sql_.find('\'', i);
            if (close == std::string_view::npos)
                return false;
            bytes.append(sql_.substr(i, close - i));
            if (close + 1 < sql_.size() && sql_[close + 1] == '\'') {
                bytes.push_back('\'');
                i = close + 2;
                continue;
            }
            pos_ = close + 1;
            return bytes.size() <= kMaxStringBytes;
        }
    }

    bool QString(std::string& bytes) {
        if (pos_ + 2 >= sql_.size())
            return false;
        const char open = sql_[pos_ + 2];
        char close = open;
        if (open == '{')
            close = '}';
        else if (open == '(')
            close = ')';
        else if (open == '[')
            close = ']';
        else if (open == '<')
            close = '>';
        else if (IsBlankByte(static_cast<unsigned char>(open)))
            return false;
        for (std::size_t i = pos_ + 3; i + 1 < sql_.size(); ++i) {
            if (sql_[i] == close && sql_[i + 1] == '\'') {
                bytes.assign(sql_.substr(pos_ + 3, i - pos_ - 3));
                pos_ = i + 2;
                return bytes.size() <= kMaxStringBytes;
            }
        }
        return false;
    }

    bool HexString(std::string& bytes) {
        const std::size_t start = pos_ + 2;
        const std::size_t close = sql_.find('\'', start);
        if (close == std::string_view::npos || (close - start) % 2 != 0)
            return false;
        bytes.clear();
        for (std::size_t i = start; i < close; i += 2) {
            if (!IsHexDigit(sql_[i]) || !IsHexDigit(sql_[i + 1]))
                return false;
            bytes.push_back(static_cast<char>(HexValue(sql_[i]) * 16 + HexValue(sql_[i + 1])));
        }
        pos_ = close + 1;
        return bytes.size() <= kMaxStringBytes;
    }

    bool Number(Literal& lit) {
        bool negative = false;
        if (sql_[pos_] == '-') {
            negative = true;
            ++pos_;
            if (!Blanks())
                return false;
        }
        int digits = 0;
        int fraction = -1;
        std::int64_t value = 0;
        for (; pos_ < sql_.size(); ++pos_) {
            const char c = sql_[pos_];
            if (IsDigit(c)) {
                if (++digits > kMaxDigits)
                    return false;
                value = value * 10 + (c - '0');
                if (fraction >= 0)
                    ++fraction;
            } else if (c == '.' && fraction < 0) {
                fraction = 0;
            } else {
                break;
            }
        }
        // An exponent, a hex number or a word glued to the digits is not read.
        if (digits == 0 ||
            (pos_ < sql_.size() && (IsWordByte(static_cast<unsigned char>(sql_[pos_])) || sql_[pos_] == '.')))
            return false;
        lit.kind = Literal::Kind::Number;
        lit.value = negative ? -value : value;
        lit.scale = fraction < 0 ? 0 : fraction;
        return true;
    }

    // One literal at pos, replaced by "?" in the shape.
    bool Value(bool compared) {
        if (!Blanks() || pos_ >= sql_.size())
            return false;
        const std::size_t start = pos_;
        Literal& lit = shape_.literals.emplace_back();
        lit.compared = compared;
        const char c = sql_[pos_];
        bool ok = false;
        if (c == '\'') {
            lit.kind = Literal::Kind::String;
            ok = QuotedString(lit.bytes);
        } else if ((c == 'q' || c == 'Q') && pos_ + 1 < sql_.size() && sql_[pos_ + 1] == '\'') {
            lit.kind = Literal::Kind::String;
            ok = QString(lit.bytes);
        } else if ((c == 'x' || c == 'X') && pos_ + 1 < sql_.size() && sql_[pos_ + 1] == '\'') {
            lit.kind = Literal::Kind::String;
            lit.charset = "OCTETS";
            ok = HexString(lit.bytes);
        } else if (c == '_') {
            ok = Introduced(lit);
        } else if (c == '-' || c == '.' || IsDigit(c)) {
            ok = Number(lit);
        } else {
            const std::string_view word = PeekWord();
            pos_ += word.size();
            if (EqualsWord(word, "NULL")) {
                lit.kind = Literal::Kind::Null;
                ok = true;
            } else if (EqualsWord(word, "DATE") || EqualsWord(word, "TIME") ||
                       EqualsWord(word, "TIMESTAMP")) {
                lit.kind = EqualsWord(word, "DATE")   ? Literal::Kind::Date
                           : EqualsWord(word, "TIME") ? Literal::Kind::Time
                                                      : Literal::Kind::Timestamp;
                ok = Blanks() && QuotedString(lit.bytes) && ReadDateTime(lit.bytes, lit);
                lit.bytes.clear();
            }
        }
        if (!ok)
            return false;
        shape_.text.append(sql_.substr(copied_, start - copied_));
        shape_.text.push_back('?');
        copied_ = pos_;
        return true;
    }

    // _NAME '...' or _NAME x'...'.
    bool Introduced(Literal& lit) {
        std::size_t end = pos_ + 1;
        while (end < sql_.size() && (IsLetter(sql_[end]) || IsDigit(sql_[end]) || sql_[end] == '_'))
            ++end;
        if (end == pos_ + 1)
            return false;
        lit.kind = Literal::Kind::String;
        for (std::size_t i = pos_ + 1; i < end; ++i)
            lit.charset.push_back(static_cast<char>(IsLetter(sql_[i]) ? (sql_[i] & ~0x20) : sql_[i]));
        pos_ = end;
        if (!Blanks() || pos_ >= sql_.size())
            return false;
        if ((sql_[pos_] == 'x' || sql_[pos_] == 'X') && pos_ + 1 < sql_.size() && sql_[pos_ + 1] == '\'')
            return HexString(lit.bytes);
        return QuotedString(lit.bytes);
    }

    std::string_view sql_;
    LiteralShape& shape_;
    std::size_t pos_ = 0;
    std::size_t copied_ = 0;
};

}  // namespace

bool ReadLiteralShape(std::string_view sql, LiteralShape& shape) {
    return ShapeReader(sql, shape).Read();
}

}  // namespace tallo::engine
