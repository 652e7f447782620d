#include "engine/masking.h"

#include "text/lexer.h"
#include "text/quoting.h"

namespace tallo::engine {

namespace {

constexpr std::string_view kMask = "****";

std::string Undoubled(std::string_view inner, char quote) {
    std::string out;
    out.reserve(inner.size());
    AppendUndoubled(out, inner, quote);
    return out;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The statements whose operands are secrets whatever keywords stand around
// them, told by their leading words: CONNECT and CREATE DATABASE (every
// operand after the database), and the USER statements (CREATE, ALTER,
// CREATE OR ALTER and RECREATE USER, ALTER CURRENT USER: every literal).
enum class HeadKind { Other, Attach, User };

struct Head {
    HeadKind kind = HeadKind::Other;
    std::size_t words = 0;  // the leading words; the database or the user name follows them
};

Head HeadOf(std::string_view text) {
    Lexer lexer(text);
    std::string_view word = lexer.NextWord();
    if (EqualsWord(word, "CONNECT"))
        return {HeadKind::Attach, 1};
    const bool create = EqualsWord(word, "CREATE");
    if (!create && !EqualsWord(word, "ALTER") && !EqualsWord(word, "RECREATE"))
        return {};
    word = lexer.NextWord();
    if (create && (EqualsWord(word, "DATABASE") || EqualsWord(word, "SCHEMA")))
        return {HeadKind::Attach, 2};
    std::size_t words = 2;
    if (EqualsWord(word, "OR")) {
        lexer.NextWord();  // ALTER
        word = lexer.NextWord();
        words += 2;
    }
    if (EqualsWord(word, "CURRENT")) {
        word = lexer.NextWord();
        ++words;
    }
    if (EqualsWord(word, "USER"))
        return {HeadKind::User, words};
    return {};
}

class Masker {
  public:
    Masker(std::string_view text, std::vector<std::string>& secrets) : text_(text), secrets_(secrets) {}

    std::string Run() {
        head_ = HeadOf(text_);
        const bool password_statement = head_.kind != HeadKind::Other;
        Lexer tokens(text_);
        std::size_t copied = 0;
        bool after_password = false;
        std::size_t index = 0;  // of the next token: the database or user name follows the leading words
        for (Lexeme t = tokens.NextCode(); t.kind != TokenKind::End; t = tokens.NextCode()) {
            if (t.begin < copied)
                continue;  // inside a bare password already masked
            const std::size_t at = index++;
            bool mask = false;
            if (after_password) {
                after_password = false;
                // After an introducer the literal is the password.
                if (t.kind == TokenKind::Introducer && tokens.PeekCode().IsLiteral()) {
                    t = tokens.NextCode();
                    ++index;
                    mask = true;
                }
                // Elsewhere only a literal is one: SELECT password FROM ...
                if (!mask)
                    mask = t.IsLiteral() || (password_statement &&
                                             (t.kind != TokenKind::Other || !IsPunctuation(text_[t.begin])));
            }
            // In a USER statement every literal, and every "..." but the
            // user name ("..." is a string in dialect 1); in CONNECT and
            // CREATE DATABASE every operand after the database.
            if (head_.kind == HeadKind::User &&
                (t.IsLiteral() || (t.kind == TokenKind::Quoted && at != head_.words)))
                mask = true;
            if (head_.kind == HeadKind::Attach && at > head_.words &&
                (t.IsLiteral() || t.kind == TokenKind::Quoted))
                mask = true;
            if (t.kind == TokenKind::Word && EqualsWord(tokens.TextOf(t), "PASSWORD"))
                after_password = true;

            std::string replacement;
            if (mask) {
                replacement = Masked(t);
            } else if (t.kind == TokenKind::String || t.kind == TokenKind::QString) {
                // A text run by EXECUTE STATEMENT may set a password itself.
                const std::string_view inner = tokens.InnerOf(t);
                if (!NamesWord(inner, "PASSWORD"))
                    continue;
                if (t.kind == TokenKind::String) {
                    const std::string statement = Undoubled(inner, '\'');
                    std::string masked = Masker(statement, secrets_).Run();
                    if (masked == statement)
                        continue;
                    replacement = std::string(text_.substr(t.begin, t.inner_begin - t.begin));
                    AppendDoubled(replacement, masked, '\'');
                    replacement += text_.substr(t.inner_end, t.end - t.inner_end);
                } else {
                    std::string masked = Masker(inner, secrets_).Run();
                    if (masked == inner)
                        continue;
                    replacement = std::string(text_.substr(t.begin, t.inner_begin - t.begin)) + masked +
                                  std::string(text_.substr(t.inner_end, t.end - t.inner_end));
                }
            } else {
                continue;
            }
            out_.append(text_.substr(copied, t.begin - copied));
            out_ += replacement;
            copied = t.end;
        }
        out_.append(text_.substr(copied));
        return std::move(out_);
    }

  private:
    static bool IsPunctuation(char c) { return c == ';' || c == ',' || c == ')' || c == '(' || c == '='; }

    // The token with its content replaced by ****, its delimiters kept; the
    // content is remembered as a secret.
    std::string Masked(Lexeme& t) {
        if (t.IsBare() || t.kind == TokenKind::Other) {
            // A bare password runs to the next blank, ";", "," or ")".
            std::size_t end = t.end;
            while (end < text_.size() && !IsBlankByte(static_cast<unsigned char>(text_[end])) &&
                   text_[end] != ';' && text_[end] != ',' && text_[end] != ')')
                ++end;
            Remember(std::string(text_.substr(t.begin, end - t.begin)));
            t.end = end;
            return std::string(kMask);
        }
        const std::string_view inner = text_.substr(t.inner_begin, t.inner_end - t.inner_begin);
        Remember(std::string(inner));
        if (t.kind == TokenKind::String)
            Remember(Undoubled(inner, '\''));
        if (t.kind == TokenKind::Quoted)
            Remember(Undoubled(inner, '"'));
        if (t.kind == TokenKind::HexString) {
            std::string bytes;
            for (std::size_t i = 0; i + 1 < inner.size(); i += 2) {
                const int high = HexValue(inner[i]);
                const int low = HexValue(inner[i + 1]);
                if (high < 0 || low < 0)
                    break;
                bytes += static_cast<char>(high * 16 + low);
            }
            Remember(bytes);
        }
        return std::string(text_.substr(t.begin, t.inner_begin - t.begin)) + std::string(kMask) +
               std::string(text_.substr(t.inner_end, t.end - t.inner_end));
    }

    void Remember(std::string secret) {
        if (!secret.empty())
            secrets_.push_back(std::move(secret));
    }

    std::string_view text_;
    std::vector<std::string>& secrets_;
    std::string out_;
    Head head_;
};

// A text can hold a secret only when it names PASSWORD or is one of the
// statements whose operands are secrets whatever they are called.
bool MayHoldSecrets(std::string_view text) {
    return HeadOf(text).kind != HeadKind::Other || NamesWord(text, "PASSWORD");
}

}  // namespace

MaskedText MaskSecrets(std::string_view text) {
    MaskedText result;
    if (!MayHoldSecrets(text)) {
        result.text = std::string(text);
        return result;
    }
    result.text = Masker(text, result.secrets).Run();
    return result;
}

std::string MaskPasswords(std::string_view text) {
    return MaskSecrets(text).text;
}

std::string MaskErrorText(std::string_view message, std::string_view statement) {
    const MaskedText masked = MaskSecrets(statement);
    std::string out(message);
    for (const std::string& secret : masked.secrets) {
        // Whole tokens only: a short password must not blot out every
        // occurrence of its letters inside other words.
        const bool word_start = IsWordByte(static_cast<unsigned char>(secret.front()));
        const bool word_end = IsWordByte(static_cast<unsigned char>(secret.back()));
        for (std::size_t pos = out.find(secret); pos != std::string::npos; pos = out.find(secret, pos)) {
            const std::size_t end = pos + secret.size();
            const bool bounded =
                (!word_start || pos == 0 || !IsWordByte(static_cast<unsigned char>(out[pos - 1]))) &&
                (!word_end || end >= out.size() || !IsWordByte(static_cast<unsigned char>(out[end])));
            if (!bounded) {
                ++pos;
                continue;
            }
            out.replace(pos, secret.size(), kMask);
            pos += kMask.size();
        }
    }
    return out;
}

}  // namespace tallo::engine
