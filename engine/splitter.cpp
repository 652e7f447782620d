#include "engine/splitter.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "text/script_encoding.h"

namespace tallo::engine {

namespace {

// What an unterminated token of each kind is called.
const char* DamageMessage(TokenKind kind) {
    switch (kind) {
        case TokenKind::Quoted:
            return "Unterminated quoted identifier";
        case TokenKind::QString:
            return "Unterminated q-string";
        case TokenKind::Comment:
            return "Unterminated block comment";
        default:
            return "Unterminated string";
    }
}

void CheckIntact(const Lexeme& t) {
    if (t.damaged)
        throw ScriptDamage(DamageMessage(t.kind), t.line);
}

}  // namespace

std::string_view CutAtNul(std::string_view text) {
    if (text.empty())
        return text;  // perhaps without any memory behind it
    const void* nul = std::memchr(text.data(), 0, text.size());
    if (nul == nullptr)
        return text;
    return text.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - text.data()));
}

Splitter::Splitter(std::string_view text, std::size_t pos, std::size_t line)
    : lexer_(CutAtNul(text), {}, pos, line) {}

bool Splitter::OpensPsqlBody(const Lexeme& first) const {
    if (first.kind != TokenKind::Word)
        return false;
    std::string_view w = lexer_.TextOf(first);
    Lexer words(lexer_.Text(), {}, first.end);
    if (EqualsWord(w, "EXECUTE"))
        return EqualsWord(words.NextWord(), "BLOCK");
    if (EqualsWord(w, "CREATE")) {
        w = words.NextWord();
        if (EqualsWord(w, "OR")) {
            if (!EqualsWord(words.NextWord(), "ALTER"))
                return false;
            w = words.NextWord();
        }
    } else if (EqualsWord(w, "ALTER") || EqualsWord(w, "RECREATE")) {
        w = words.NextWord();
    } else {
        return false;
    }
    return EqualsWord(w, "PROCEDURE") || EqualsWord(w, "TRIGGER") || EqualsWord(w, "FUNCTION") ||
           EqualsWord(w, "PACKAGE");
}

std::optional<RawStatement> Splitter::Next(std::string_view terminator) {
    lexer_.SetTerminator(terminator);
    const std::string_view text = lexer_.Text();
    for (;;) {
        // Blanks and comments before a statement are dropped.
        Lexeme first = lexer_.Next();
        while (first.kind == TokenKind::Comment) {
            CheckIntact(first);
            first = lexer_.Next();
        }
        if (first.kind == TokenKind::End)
            return std::nullopt;
        if (first.kind == TokenKind::Terminator)
            continue;  // an empty statement
        CheckIntact(first);
        const std::size_t start = first.begin;
        const std::size_t line = first.line;
        const bool body = terminator == ";" && OpensPsqlBody(first);
        lexer_.Seek(start, line);
        // PSQL body state: openers not yet closed ('B' for BEGIN, 'C' for
        // CASE), whether AS opened the body, and whether its outermost BEGIN
        // has been closed.
        std::string openers;
        bool as_seen = false;
        bool closed = false;
        int parens = 0;
        for (;;) {
            const Lexeme t = body ? lexer_.Next() : lexer_.NextDelimited();
            if (t.kind == TokenKind::End) {
                if (body && as_seen && !closed)
                    throw ScriptDamage("PSQL body without its END", line);
                throw ScriptDamage("Expected end of statement, encountered EOF", line);
            }
            CheckIntact(t);
            if (t.kind == TokenKind::Terminator) {
                if (body && !(openers.empty() && (closed || !as_seen)))
                    continue;
                std::size_t end = t.begin;
                while (end > start && IsBlankByte(static_cast<unsigned char>(text[end - 1])))
                    --end;
                return RawStatement{text.substr(start, end - start), line};
            }
            if (t.kind == TokenKind::Other) {
                if (text[t.begin] == '(')
                    ++parens;
                else if (text[t.begin] == ')')
                    --parens;
                continue;
            }
            if (!t.IsBare())
                continue;
            const std::string_view word = lexer_.TextOf(t);
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

namespace {

// Bytes past a statement's end that its reading may have looked at: a
// terminator that did not match, or the start of a q-string or comment.
constexpr std::size_t kLookahead = kMaxTerminatorLength + 33;

}  // namespace

WindowSplitter::WindowSplitter(ScriptSource& source)
    : source_(source),
      size_(source.Size()),
      window_(source.Whole().value_or(std::string_view())),
      splitter_(window_) {}

std::optional<RawStatement> WindowSplitter::Next(std::string_view terminator) {
    for (;;) {
        const bool last = base_ + window_.size() >= size_;
        const std::size_t pos = splitter_.Position();
        const std::size_t line = splitter_.Line();
        try {
            std::optional<RawStatement> raw = splitter_.Next(terminator);
            if (last || splitter_.Position() + kLookahead <= window_.size())
                return raw;
        } catch (const ScriptDamage&) {
            if (last)
                throw;
        }
        // The window's end may have cut the statement short: read it again
        // in a larger one.
        Extend(pos, line);
    }
}

void WindowSplitter::Extend(std::size_t pos, std::size_t line) {
    buffer_.erase(0, pos);
    base_ += pos;
    if (buffer_.capacity() > 8 * kWindowBytes && buffer_.size() < buffer_.capacity() / 4)
        buffer_.shrink_to_fit();
    const std::uint64_t left = size_ - base_ - buffer_.size();
    const std::size_t more =
        static_cast<std::size_t>(std::min<std::uint64_t>(left, std::max(kWindowBytes, 2 * buffer_.size())));
    const std::size_t had = buffer_.size();
    source_.Read(base_ + had, more, buffer_);
    if (buffer_.size() == had)
        throw EngineFailure("The script's text ended before its length");
    window_ = buffer_;
    splitter_ = Splitter(window_, 0, line);
}

void WindowSplitter::PositionOf(const char* byte, bool utf8, std::size_t& line, std::size_t& column) {
    const std::uint64_t offset = base_ + static_cast<std::uint64_t>(byte - window_.data());
    script_encoding::Position position(utf8);
    if (const std::optional<std::string_view> whole = source_.Whole()) {
        position.Feed(whole->substr(0, static_cast<std::size_t>(offset)));
    } else {
        std::string piece;
        for (std::uint64_t at = 0; at < offset; at += piece.size()) {
            piece.clear();
            source_.Read(at, static_cast<std::size_t>(std::min<std::uint64_t>(offset - at, kWindowBytes)),
                         piece);
            if (piece.empty())
                break;
            position.Feed(piece);
        }
    }
    line = position.line;
    column = position.column;
}

}  // namespace tallo::engine
