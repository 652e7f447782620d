#include "engine/literal_shape.h"

#include "text/letter_case.h"
#include "text/lexer.h"

namespace tallo::engine {

namespace {

// The longest string a parameter can carry (a VARCHAR's limit).
constexpr std::size_t kMaxStringBytes = 32765;
constexpr int kMaxDigits = 18;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
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

// Reads the statement token by token; a comment makes the reader unsure, as
// it matches nothing the reader expects.
class ShapeReader {
  public:
    ShapeReader(std::string_view sql, LiteralShape& shape) : sql_(sql), lexer_(sql), shape_(shape) {
        shape_.text.clear();
        shape_.literals.clear();
        shape_.markers.clear();
        t_ = lexer_.Next();
    }

    // For one literal at pos, where a token begins.
    ShapeReader(std::string_view sql, LiteralShape& shape, std::size_t pos)
        : sql_(sql), lexer_(sql, {}, pos), shape_(shape) {
        t_ = lexer_.Next();
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

    // Reads the literal the reader stands at into lit; false when there is
    // none. end: where it ends.
    bool OneLiteral(Literal& lit, std::size_t& end) {
        if (!ReadValue(lit))
            return false;
        end = end_;
        return true;
    }

  private:
    // Moves past the current token.
    void Take() {
        end_ = t_.end;
        t_ = lexer_.Next();
    }

    bool AtEnd() const { return t_.kind == TokenKind::End; }

    std::string_view Current() const { return lexer_.TextOf(t_); }

    bool Keyword(std::string_view upper) {
        if (t_.kind != TokenKind::Word || !EqualsWord(Current(), upper))
            return false;
        Take();
        return true;
    }

    bool Punct(char c) {
        if (t_.kind != TokenKind::Other || sql_[t_.begin] != c)
            return false;
        Take();
        return true;
    }

    // A plain name (an ASCII letter, then ASCII letters, digits, _ and $) or
    // a "quoted" one.
    bool Name() {
        if (t_.kind == TokenKind::Quoted) {
            if (t_.damaged)
                return false;
            Take();
            return true;
        }
        if (t_.kind != TokenKind::Word || !ascii::IsLetter(static_cast<unsigned char>(sql_[t_.begin])))
            return false;
        for (const char c : Current()) {
            if (static_cast<unsigned char>(c) >= 128)
                return false;
        }
        Take();
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

    // The current token when it is an intact literal of the kind.
    bool Intact(TokenKind kind) const { return t_.kind == kind && !t_.damaged; }

    // A '...' string: its bytes, quotes undone.
    bool QuotedString(std::string& bytes) {
        if (!Intact(TokenKind::String))
            return false;
        bytes.clear();
        AppendUndoubled(bytes, lexer_.InnerOf(t_), '\'');
        Take();
        return bytes.size() <= kMaxStringBytes;
    }

    bool QString(std::string& bytes) {
        if (!Intact(TokenKind::QString) || IsBlankByte(static_cast<unsigned char>(sql_[t_.begin + 2])))
            return false;
        bytes.assign(lexer_.InnerOf(t_));
        Take();
        return bytes.size() <= kMaxStringBytes;
    }

    // x'...' of whole bytes.
    bool HexString(std::string& bytes) {
        if (!Intact(TokenKind::HexString))
            return false;
        const std::string_view digits = lexer_.InnerOf(t_);
        if (digits.size() % 2 != 0)
            return false;
        bytes.clear();
        for (std::size_t i = 0; i < digits.size(); i += 2) {
            if (!IsHexDigit(digits[i]) || !IsHexDigit(digits[i + 1]))
                return false;
            bytes.push_back(static_cast<char>(HexValue(digits[i]) * 16 + HexValue(digits[i + 1])));
        }
        Take();
        return bytes.size() <= kMaxStringBytes;
    }

    // [-] digits [. digits], at most kMaxDigits digits.
    bool Number(Literal& lit) {
        const bool negative = Punct('-');
        if (t_.kind != TokenKind::Number)
            return false;
        int digits = 0;
        int fraction = -1;
        std::int64_t value = 0;
        // An exponent, a hex number or a word glued to the digits is not read.
        for (const char c : Current()) {
            if (IsDigit(c)) {
                if (++digits > kMaxDigits)
                    return false;
                value = value * 10 + (c - '0');
                if (fraction >= 0)
                    ++fraction;
            } else if (c == '.') {
                fraction = 0;
            } else {
                return false;
            }
        }
        Take();
        lit.kind = Literal::Kind::Number;
        lit.value = negative ? -value : value;
        lit.scale = fraction < 0 ? 0 : fraction;
        return true;
    }

    // One literal, replaced by "?" in the shape.
    bool Value(bool compared) {
        const std::size_t start = t_.begin;
        Literal& lit = shape_.literals.emplace_back();
        lit.compared = compared;
        if (!ReadValue(lit))
            return false;
        shape_.text.append(sql_.substr(copied_, start - copied_));
        shape_.markers.push_back(shape_.text.size());
        shape_.text.push_back('?');
        copied_ = end_;
        return true;
    }

    // The literal at the current token, its kind and value into lit.
    bool ReadValue(Literal& lit) {
        const std::size_t start = t_.begin;
        bool ok = false;
        switch (t_.kind) {
            case TokenKind::String:
                lit.kind = Literal::Kind::String;
                ok = QuotedString(lit.bytes);
                break;
            case TokenKind::QString:
                lit.kind = Literal::Kind::String;
                ok = QString(lit.bytes);
                break;
            case TokenKind::HexString:
                lit.kind = Literal::Kind::String;
                lit.charset = "OCTETS";
                ok = HexString(lit.bytes);
                break;
            case TokenKind::Introducer:
                ok = Introduced(lit);
                break;
            case TokenKind::Number:
            case TokenKind::Other:
                ok = Number(lit);
                break;
            case TokenKind::Word:
                if (Keyword("NULL")) {
                    lit.kind = Literal::Kind::Null;
                    ok = true;
                } else if (Keyword("DATE") || Keyword("TIME") || Keyword("TIMESTAMP")) {
                    const std::string_view word = sql_.substr(start, end_ - start);
                    lit.kind = EqualsWord(word, "DATE")   ? Literal::Kind::Date
                               : EqualsWord(word, "TIME") ? Literal::Kind::Time
                                                          : Literal::Kind::Timestamp;
                    ok = QuotedString(lit.bytes) && ReadDateTime(lit.bytes, lit);
                    lit.bytes.clear();
                }
                break;
            default:
                break;
        }
        return ok;
    }

    // _NAME '...' or _NAME x'...'.
    bool Introduced(Literal& lit) {
        const std::string_view name = Current().substr(1);
        lit.kind = Literal::Kind::String;
        for (const char c : name) {
            if (!ascii::IsLetter(static_cast<unsigned char>(c)) && !IsDigit(c) && c != '_')
                return false;
            lit.charset.push_back(static_cast<char>(ascii::ToUpper(static_cast<unsigned char>(c))));
        }
        Take();
        return t_.kind == TokenKind::HexString ? HexString(lit.bytes) : QuotedString(lit.bytes);
    }

    std::string_view sql_;
    Lexer lexer_;
    Lexeme t_;             // the token to read next
    std::size_t end_ = 0;  // the end of the last token read
    LiteralShape& shape_;
    std::size_t copied_ = 0;
};

// Whether sql is shape's text with other literals, each read into shape.
// Between the literals the text must be the same byte for byte, each literal
// must begin right where its "?" stands (not after more blanks), and not after
// a byte that would join it into one token with what stands before it (the
// name p in EXECUTE PROCEDURE p'x' and p5).
bool LayOver(std::string_view sql, LiteralShape& shape) {
    const std::string_view text = shape.text;
    std::size_t at = 0, from = 0;
    for (std::size_t i = 0; i < shape.markers.size(); ++i) {
        const std::string_view between = text.substr(from, shape.markers[i] - from);
        if (sql.substr(at, between.size()) != between)
            return false;
        at += between.size();
        if (at >= sql.size() || IsBlankByte(static_cast<unsigned char>(sql[at])) ||
            (at > 0 && (IsWordByte(static_cast<unsigned char>(sql[at - 1])) || sql[at - 1] == '.')))
            return false;
        Literal lit;
        lit.compared = shape.literals[i].compared;
        if (!ShapeReader(sql, shape, at).OneLiteral(lit, at))
            return false;
        shape.literals[i] = std::move(lit);
        from = shape.markers[i] + 1;
    }
    return sql.substr(at) == text.substr(from);
}

}  // namespace

bool ReadLiteralShape(std::string_view sql, LiteralShape& shape) {
    if (!shape.text.empty() && LayOver(sql, shape))
        return true;
    if (ShapeReader(sql, shape).Read())
        return true;
    shape.text.clear();
    return false;
}

}  // namespace tallo::engine
