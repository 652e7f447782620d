#include "text/lexer.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "text/letter_case.h"

namespace tallo {

namespace {

constexpr std::array<bool, 256> MakeWordTable() {
    std::array<bool, 256> t{};
    for (int c = 0; c < 256; ++c) {
        t[static_cast<std::size_t>(c)] = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                                         (c >= '0' && c <= '9') || c == '_' || c == '$' || c >= 128;
    }
    return t;
}

// The bytes NextDelimited stops at: quotes, comment starts, q-strings and
// line ends. The terminator's first byte is checked apart.
constexpr std::array<bool, 256> MakeDelimiterTable() {
    std::array<bool, 256> t{};
    t['\''] = t['"'] = t['-'] = t['/'] = t['q'] = t['Q'] = t['\n'] = t['\r'] = true;
    return t;
}

constexpr std::array<bool, 256> kWord = MakeWordTable();
constexpr std::array<bool, 256> kDelimiter = MakeDelimiterTable();

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool InWord(char c) {
    return kWord[static_cast<unsigned char>(c)];
}

// The closing delimiter of a q-string opened with c.
char QStringCloser(char c) {
    switch (c) {
        case '{':
            return '}';
        case '(':
            return ')';
        case '[':
            return ']';
        case '<':
            return '>';
        default:
            return c;
    }
}

// Whether the byte at p ends a line: every LF does, and so does a CR that no
// LF follows.
bool EndsLine(const char* p, const char* end) {
    return *p == '\n' || (*p == '\r' && (p + 1 >= end || p[1] != '\n'));
}

// The first byte from p that is t0 or one NextDelimited stops at.
const char* SkipPlain(const char* p, const char* end, char t0) {
    while (p < end && *p != t0 && !kDelimiter[static_cast<unsigned char>(*p)])
        ++p;
    return p;
}

}  // namespace

bool IsWordByte(unsigned char c) {
    return kWord[c];
}

bool IsBlankByte(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool EqualsWord(std::string_view word, std::string_view upper) {
    return ascii::EqualNoCase(word, upper);
}

bool AbbreviatesWord(std::string_view word, std::string_view upper, std::size_t min_length) {
    return word.size() >= min_length && word.size() <= upper.size() && ascii::StartsWithNoCase(upper, word);
}

bool Lexer::TerminatorAt(std::size_t pos) const {
    const std::size_t n = terminator_.size();
    return n != 0 && text_[pos] == terminator_[0] && text_.size() - pos >= n &&
           (n == 1 || std::memcmp(text_.data() + pos + 1, terminator_.data() + 1, n - 1) == 0);
}

bool Lexer::QStringAt(std::size_t pos) const {
    return pos + 2 < text_.size() && text_[pos + 1] == '\'' && (pos == 0 || !InWord(text_[pos - 1]));
}

void Lexer::ReadQuoted(Lexeme& t, std::size_t open) const {
    const char quote = text_[open];
    t.inner_begin = open + 1;
    for (std::size_t i = t.inner_begin;;) {
        const std::size_t close = text_.find(quote, i);
        if (close == std::string_view::npos) {
            t.damaged = true;
            t.inner_end = t.end = text_.size();
            return;
        }
        if (close + 1 < text_.size() && text_[close + 1] == quote) {
            i = close + 2;
            continue;
        }
        t.inner_end = close;
        t.end = close + 1;
        return;
    }
}

void Lexer::ReadQString(Lexeme& t) const {
    const char close = QStringCloser(text_[t.begin + 2]);
    t.inner_begin = t.begin + 3;
    for (std::size_t i = t.inner_begin;;) {
        const std::size_t at = text_.find(close, i);
        if (at == std::string_view::npos || at + 1 >= text_.size()) {
            t.damaged = true;
            t.inner_end = t.end = text_.size();
            return;
        }
        if (text_[at + 1] == '\'') {
            t.inner_end = at;
            t.end = at + 2;
            return;
        }
        i = at + 1;
    }
}

void Lexer::ReadComment(Lexeme& t) const {
    t.kind = TokenKind::Comment;
    if (text_[t.begin] == '-') {
        std::size_t i = t.begin + 2;
        while (i < text_.size() && text_[i] != '\n' && text_[i] != '\r')
            ++i;
        t.end = i;
    } else {
        const std::size_t close = text_.find("*/", t.begin + 2);
        t.damaged = close == std::string_view::npos;
        t.end = t.damaged ? text_.size() : close + 2;
    }
}

void Lexer::ReadNumber(Lexeme& t) const {
    t.kind = TokenKind::Number;
    const std::size_t n = text_.size();
    std::size_t i = t.begin;
    bool dot = text_[i] == '.';
    if (dot)
        ++i;
    for (;;) {
        while (i < n && InWord(text_[i]))
            ++i;
        // One point joins the number unless a letter follows it (1.END).
        if (!dot && i < n && text_[i] == '.' &&
            (i + 1 >= n || !InWord(text_[i + 1]) || IsDigit(text_[i + 1]))) {
            dot = true;
            ++i;
            continue;
        }
        break;
    }
    t.end = i;
}

bool Lexer::ReadDelimited(Lexeme& t) const {
    const std::size_t p = t.begin;
    const char c = text_[p];
    const char next = p + 1 < text_.size() ? text_[p + 1] : '\0';
    switch (c) {
        case '\'':
        case '"':
            t.kind = c == '\'' ? TokenKind::String : TokenKind::Quoted;
            ReadQuoted(t, p);
            return true;
        case '-':
        case '/':
            if (next != (c == '-' ? '-' : '*'))
                return false;
            ReadComment(t);
            return true;
        case 'q':
        case 'Q':
            if (!QStringAt(p))
                return false;
            t.kind = TokenKind::QString;
            ReadQString(t);
            return true;
        default:
            return false;
    }
}

Lexeme Lexer::Finish(Lexeme t) {
    if (t.kind != TokenKind::String && t.kind != TokenKind::QString && t.kind != TokenKind::HexString &&
        t.kind != TokenKind::Quoted) {
        t.inner_begin = t.begin;
        t.inner_end = t.end;
    }
    t.line = line_;
    pos_ = t.end;
    if (t.kind == TokenKind::String || t.kind == TokenKind::QString || t.kind == TokenKind::HexString ||
        t.kind == TokenKind::Quoted || t.kind == TokenKind::Comment) {
        const char* d = text_.data();
        for (const char* p = d + t.begin; p < d + t.end; ++p)
            line_ += EndsLine(p, d + text_.size()) ? 1 : 0;
    }
    return t;
}

Lexeme Lexer::Next() {
    const std::size_t n = text_.size();
    const char* d = text_.data();
    std::size_t p = pos_;
    while (p < n && IsBlankByte(static_cast<unsigned char>(d[p]))) {
        line_ += EndsLine(d + p, d + n) ? 1 : 0;
        ++p;
    }
    Lexeme t;
    t.begin = t.end = p;
    if (p >= n)
        return Finish(t);
    const char c = text_[p];
    const char next = p + 1 < n ? text_[p + 1] : '\0';
    if (TerminatorAt(p)) {
        t.kind = TokenKind::Terminator;
        t.end = p + terminator_.size();
        return Finish(t);
    }
    if (ReadDelimited(t))
        return Finish(t);
    switch (c) {
        case 'x':
        case 'X':
            if (next == '\'') {
                t.kind = TokenKind::HexString;
                ReadQuoted(t, p + 1);
                return Finish(t);
            }
            break;
        case '.':
            if (IsDigit(next)) {
                ReadNumber(t);
                return Finish(t);
            }
            break;
        default:
            if (IsDigit(c)) {
                ReadNumber(t);
                return Finish(t);
            }
            break;
    }
    if (!InWord(c)) {
        t.kind = TokenKind::Other;
        t.end = p + 1;
        return Finish(t);
    }
    std::size_t end = p + 1;
    while (end < n && InWord(text_[end]))
        ++end;
    t.end = end;
    t.kind = c == '_' && end - p > 1 ? TokenKind::Introducer : TokenKind::Word;
    return Finish(t);
}

Lexeme Lexer::NextCode() {
    Lexeme t = Next();
    while (t.kind == TokenKind::Comment)
        t = Next();
    return t;
}

Lexeme Lexer::PeekCode() const {
    Lexer ahead = *this;
    return ahead.NextCode();
}

std::string_view Lexer::NextWord() {
    Lexer ahead = *this;
    const Lexeme t = ahead.NextCode();
    if (!t.IsBare())
        return {};
    *this = ahead;
    return TextOf(t);
}

Lexeme Lexer::NextDelimited() {
    const char* d = text_.data();
    const std::size_t n = text_.size();
    const std::size_t from = pos_;
    // With no terminator the first byte to watch for is one already watched.
    const char t0 = terminator_.empty() ? '\'' : terminator_[0];
    std::size_t p = pos_;
    for (;;) {
        p = static_cast<std::size_t>(SkipPlain(d + p, d + n, t0) - d);
        Lexeme t;
        t.begin = t.end = p;
        if (p >= n)
            return Finish(t);
        const char c = d[p];
        if (c == '\n' || c == '\r') {
            line_ += EndsLine(d + p, d + n) ? 1 : 0;
            ++p;
            continue;
        }
        if (c == t0 && TerminatorAt(p)) {
            t.kind = TokenKind::Terminator;
            t.end = p + terminator_.size();
            return Finish(t);
        }
        // x'...' when the x starts a word.
        if (c == '\'' && p > from && (d[p - 1] == 'x' || d[p - 1] == 'X') &&
            (p - 1 == 0 || !InWord(d[p - 2]))) {
            t.kind = TokenKind::HexString;
            t.begin = p - 1;
            ReadQuoted(t, p);
            return Finish(t);
        }
        if (ReadDelimited(t))
            return Finish(t);
        ++p;
    }
}

std::size_t Lexer::RunEnd(std::size_t pos) const {
    const std::size_t end = text_.find_first_of(" \t\n\v\f\r'\"", pos);
    return end == std::string_view::npos ? text_.size() : end;
}

void AppendUndoubled(std::string& out, std::string_view inner, char quote) {
    for (;;) {
        const std::size_t at = inner.find(quote);
        if (at == std::string_view::npos) {
            out.append(inner);
            return;
        }
        out.append(inner.substr(0, at + 1));
        inner.remove_prefix(at + 1);
        if (!inner.empty() && inner.front() == quote)
            inner.remove_prefix(1);
    }
}

namespace {

// Whether upper's letters stand in text in a row, in any case: a word cannot
// be in a text that lacks them, and most texts are let go after this look.
bool HoldsLetters(std::string_view text, std::string_view upper) {
    if (upper.empty() || text.size() < upper.size())
        return false;
    // Where the word may start; each case of its first letter is looked for
    // on its own, in bulk.
    const std::string_view starts = text.substr(0, text.size() - upper.size() + 1);
    const char first = upper[0];
    const char other = static_cast<char>(first | 0x20);
    constexpr std::size_t kNone = std::string_view::npos;
    std::size_t a = starts.find(first);
    std::size_t b = other == first ? kNone : starts.find(other);
    while (a != kNone || b != kNone) {
        const std::size_t i = std::min(a, b);
        if (EqualsWord(text.substr(i, upper.size()), upper))
            return true;
        if (i == a)
            a = starts.find(first, i + 1);
        else
            b = starts.find(other, i + 1);
    }
    return false;
}

bool FindWord(std::string_view text, std::string_view upper, bool in_strings) {
    if (!HoldsLetters(text, upper))
        return false;
    Lexer lexer(text);
    for (Lexeme t = lexer.Next(); t.kind != TokenKind::End; t = lexer.Next()) {
        if (t.kind == TokenKind::Word && EqualsWord(lexer.TextOf(t), upper))
            return true;
        if (!in_strings || (t.kind != TokenKind::String && t.kind != TokenKind::QString))
            continue;
        const std::string_view inner = lexer.InnerOf(t);
        if (t.kind == TokenKind::String && inner.find('\'') != std::string_view::npos) {
            std::string undoubled;
            AppendUndoubled(undoubled, inner, '\'');
            if (FindWord(undoubled, upper, true))
                return true;
        } else if (FindWord(inner, upper, true)) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool HasWord(std::string_view text, std::string_view upper) {
    return FindWord(text, upper, false);
}

bool NamesWord(std::string_view text, std::string_view upper) {
    return FindWord(text, upper, true);
}

}  // namespace tallo
