#include "engine/masking.h"

#include "engine/lexer.h"

namespace tallo::engine {

namespace {

constexpr std::string_view kMask = "****";

std::string Undoubled(std::string_view inner, char quote) {
    std::string out;
    out.reserve(inner.size());
    AppendUndoubled(out, inner, quote);
    return out;
}

std::string Doubled(std::string_view text, char quote) {
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        out += c;
        if (c == quote)
            out += c;
    }
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

class Masker {
  public:
    Masker(std::string_view text, std::vector<std::string>& secrets) : text_(text), secrets_(secrets) {}

    std::string Run() {
        DecideKind();
        Lexer tokens(text_);
        std::size_t copied = 0;
        bool after_password = false;
        std::size_t index = 0;  // of the token: the database follows the leading words
        for (Lexeme t = tokens.NextCode(); t.kind != TokenKind::End; t = tokens.NextCode()) {
            if (t.begin < copied)
                continue;  // inside a bare password already masked
            bool mask = false;
            if (after_password) {
                after_password = false;
                // After an introducer the literal is the password.
                if (t.kind == TokenKind::Introducer && tokens.PeekCode().IsLiteral()) {
                    t = tokens.NextCode();
                    mask = true;
                }
                // Elsewhere only a literal is one: SELECT password FROM ...
                if (!mask)
                    mask = t.IsLiteral() || (password_statement_ &&
                                             (t.kind != TokenKind::Other || !IsPunctuation(text_[t.begin])));
            }
            if (any_operand_ && index++ > lead_words_ && (t.IsLiteral() || t.kind == TokenKind::Quoted))
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
                    replacement = std::string(text_.substr(t.begin, t.inner_begin - t.begin)) +
                                  Doubled(masked, '\'') +
                                  std::string(text_.substr(t.inner_end, t.end - t.inner_end));
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

    // CONNECT and CREATE DATABASE carry secrets in every string operand after
    // the database; they and the USER statements take a password in any form.
    void DecideKind() {
        Lexer head(text_);
        std::string_view word = head.NextWord();
        if (EqualsWord(word, "CONNECT")) {
            any_operand_ = password_statement_ = true;
            lead_words_ = 1;
            return;
        }
        if (!EqualsWord(word, "CREATE") && !EqualsWord(word, "ALTER") && !EqualsWord(word, "RECREATE"))
            return;
        const bool create = EqualsWord(word, "CREATE");
        word = head.NextWord();
        if (create && (EqualsWord(word, "DATABASE") || EqualsWord(word, "SCHEMA"))) {
            any_operand_ = password_statement_ = true;
            lead_words_ = 2;
            return;
        }
        if (EqualsWord(word, "OR")) {
            head.NextWord();  // ALTER
            word = head.NextWord();
        }
        if (EqualsWord(word, "CURRENT"))
            word = head.NextWord();
        password_statement_ = EqualsWord(word, "USER");
    }

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
    bool any_operand_ = false;
    bool password_statement_ = false;
    std::size_t lead_words_ = 0;  // CONNECT, or CREATE DATABASE
};

// A text can hold a secret only when it names PASSWORD or is a CONNECT or
// CREATE DATABASE (whose operands are secrets whatever they are called).
bool MayHoldSecrets(std::string_view text) {
    Lexer head(text);
    const std::string_view first = head.NextWord();
    if (EqualsWord(first, "CONNECT"))
        return true;
    if (EqualsWord(first, "CREATE")) {
        const std::string_view second = head.NextWord();
        if (EqualsWord(second, "DATABASE") || EqualsWord(second, "SCHEMA"))
            return true;
    }
    return NamesWord(text, "PASSWORD");
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
