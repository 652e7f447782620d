#include "engine/splitter.h"

#include <array>
#include <cstring>

#include "engine/words.h"

namespace tallo::engine {

namespace {

// Bytes that need a closer look while a statement is scanned: quotes, comment
// starts and q-strings. The terminator's first byte is checked separately.
constexpr std::array<bool, 256> MakePlainTable() {
    std::array<bool, 256> t{};
    t['\''] = t['"'] = t['-'] = t['/'] = t['q'] = t['Q'] = true;
    return t;
}

// Inside a PSQL body every word matters too (BEGIN, END, CASE, AS), and so do
// parentheses.
constexpr std::array<bool, 256> MakeBodyTable() {
    std::array<bool, 256> t = MakePlainTable();
    for (int c = 0; c < 256; ++c) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
            c == '$' || c >= 128)
            t[static_cast<std::size_t>(c)] = true;
    }
    t['('] = t[')'] = true;
    return t;
}

constexpr std::array<bool, 256> kPlain = MakePlainTable();
constexpr std::array<bool, 256> kBody = MakeBodyTable();

}  // namespace

std::string_view CutAtNul(std::string_view text) {
    const void* nul = std::memchr(text.data(), 0, text.size());
    if (nul == nullptr)
        return text;
    return text.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - text.data()));
}

Splitter::Splitter(std::string_view text) : text_(CutAtNul(text)) {}

std::size_t Splitter::LineAt(std::size_t pos) {
    if (pos < counted_pos_) {
        counted_pos_ = 0;
        counted_line_ = 1;
    }
    const char* d = text_.data();
    const std::size_t n = text_.size();
    if (pos > n)
        pos = n;
    std::size_t line = counted_line_;
    // Every LF ends a line, and so does a CR that no LF follows.
    const char* from = d + counted_pos_;
    const char* to = d + pos;
    for (const char* p = from; (p = static_cast<const char*>(std::memchr(p, '\n', to - p))) != nullptr; ++p)
        ++line;
    for (const char* p = from; (p = static_cast<const char*>(std::memchr(p, '\r', to - p))) != nullptr; ++p) {
        if (p + 1 >= d + n || p[1] != '\n')
            ++line;
    }
    counted_pos_ = pos;
    counted_line_ = line;
    return line;
}

std::size_t Splitter::SkipQuoted(std::size_t pos) {
    const char quote = text_[pos];
    std::size_t i = pos + 1;
    for (;;) {
        const std::size_t close = text_.find(quote, i);
        if (close == std::string_view::npos)
            throw ScriptDamage(quote == '\'' ? "Unterminated string" : "Unterminated quoted identifier",
                               LineAt(pos));
        if (close + 1 < text_.size() && text_[close + 1] == quote) {
            i = close + 2;
            continue;
        }
        return close + 1;
    }
}

std::size_t Splitter::SkipLineComment(std::size_t pos) const {
    for (std::size_t i = pos + 2; i < text_.size(); ++i) {
        if (text_[i] == '\n' || text_[i] == '\r')
            return i;
    }
    return text_.size();
}

std::size_t Splitter::SkipBlockComment(std::size_t pos) {
    const std::size_t close = text_.find("*/", pos + 2);
    if (close == std::string_view::npos)
        throw ScriptDamage("Unterminated block comment", LineAt(pos));
    return close + 2;
}

bool Splitter::StartsQString(std::size_t pos) const {
    return pos + 2 < text_.size() && text_[pos + 1] == '\'' &&
           (pos == 0 || !IsWordByte(static_cast<unsigned char>(text_[pos - 1])));
}

std::size_t Splitter::SkipQString(std::size_t pos) {
    const char open = text_[pos + 2];
    char close = open;
    switch (open) {
        case '{':
            close = '}';
            break;
        case '(':
            close = ')';
            break;
        case '[':
            close = ']';
            break;
        case '<':
            close = '>';
            break;
        default:
            break;
    }
    std::size_t i = pos + 3;
    for (;;) {
        const std::size_t end = text_.find(close, i);
        if (end == std::string_view::npos || end + 1 >= text_.size())
            throw ScriptDamage("Unterminated q-string", LineAt(pos));
        if (text_[end + 1] == '\'')
            return end + 2;
        i = end + 1;
    }
}

void Splitter::SkipBlanksAndComments() {
    const std::size_t n = text_.size();
    while (pos_ < n) {
        const char c = text_[pos_];
        if (IsBlankByte(static_cast<unsigned char>(c))) {
            ++pos_;
        } else if (c == '-' && pos_ + 1 < n && text_[pos_ + 1] == '-') {
            pos_ = SkipLineComment(pos_);
        } else if (c == '/' && pos_ + 1 < n && text_[pos_ + 1] == '*') {
            pos_ = SkipBlockComment(pos_);
        } else {
            break;
        }
    }
}

bool Splitter::OpensPsqlBody(std::size_t pos) const {
    WordReader words(text_, pos);
    std::string_view w = words.Next();
    if (EqualsWord(w, "EXECUTE"))
        return EqualsWord(words.Next(), "BLOCK");
    if (EqualsWord(w, "CREATE")) {
        w = words.Next();
        if (EqualsWord(w, "OR")) {
            if (!EqualsWord(words.Next(), "ALTER"))
                return false;
            w = words.Next();
        }
    } else if (EqualsWord(w, "ALTER") || EqualsWord(w, "RECREATE")) {
        w = words.Next();
    } else {
        return false;
    }
    return EqualsWord(w, "PROCEDURE") || EqualsWord(w, "TRIGGER") || EqualsWord(w, "FUNCTION") ||
           EqualsWord(w, "PACKAGE");
}

std::optional<RawStatement> Splitter::Next(std::string_view terminator) {
    const char* d = text_.data();
    const std::size_t n = text_.size();
    const std::size_t tlen = terminator.size();
    const char t0 = terminator.empty() ? ';' : terminator[0];
    for (;;) {
        SkipBlanksAndComments();
        if (pos_ >= n)
            return std::nullopt;
        const std::size_t start = pos_;
        const bool body = terminator == ";" && OpensPsqlBody(start);
        const std::array<bool, 256>& special = body ? kBody : kPlain;
        // PSQL body state: openers not yet closed ('B' for BEGIN, 'C' for
        // CASE), whether AS opened the body, and whether its outermost BEGIN
        // has been closed.
        std::string openers;
        bool as_seen = false;
        bool closed = false;
        int parens = 0;
        std::size_t p = start;
        for (;;) {
            while (p < n && d[p] != t0 && !special[static_cast<unsigned char>(d[p])])
                ++p;
            if (p >= n) {
                if (body && as_seen && !closed)
                    throw ScriptDamage("PSQL body without its END", LineAt(start));
                throw ScriptDamage("Expected end of statement, encountered EOF", LineAt(start));
            }
            const char c = d[p];
            if (c == t0 && n - p >= tlen && std::memcmp(d + p, terminator.data(), tlen) == 0 &&
                (!body || (openers.empty() && (closed || !as_seen)))) {
                std::size_t end = p;
                while (end > start && IsBlankByte(static_cast<unsigned char>(d[end - 1])))
                    --end;
                pos_ = p + tlen;
                if (end == start)
                    break;  // an empty statement
                return RawStatement{text_.substr(start, end - start), LineAt(start)};
            }
            switch (c) {
                case '\'':
                case '"':
                    p = SkipQuoted(p);
                    continue;
                case '-':
                    p = (p + 1 < n && d[p + 1] == '-') ? SkipLineComment(p) : p + 1;
                    continue;
                case '/':
                    p = (p + 1 < n && d[p + 1] == '*') ? SkipBlockComment(p) : p + 1;
                    continue;
                case 'q':
                case 'Q':
                    if (StartsQString(p)) {
                        p = SkipQString(p);
                        continue;
                    }
                    break;
                default:
                    break;
            }
            if (!body) {
                ++p;
                continue;
            }
            if (c == '(') {
                ++parens;
                ++p;
                continue;
            }
            if (c == ')') {
                --parens;
                ++p;
                continue;
            }
            if (!IsWordByte(static_cast<unsigned char>(c))) {
                ++p;
                continue;
            }
            const std::size_t word_start = p;
            while (p < n && IsWordByte(static_cast<unsigned char>(d[p])))
                ++p;
            const std::string_view word = text_.substr(word_start, p - word_start);
            if (EqualsWord(word, "BEGIN")) {
                openers.push_back('B');
            } else if (EqualsWord(word, "CASE")) {
                openers.push_back('C');
            } else if (EqualsWord(word, "END")) {
                if (!openers.empty()) {
                    const char opener = openers.back();
                    openers.pop_back();
                    if (openers.empty() && opener == 'B')
                        closed = true;
                }
            } else if (EqualsWord(word, "AS") && openers.empty() && parens <= 0) {
                as_seen = true;
            }
        }
    }
}

}  // namespace tallo::engine
