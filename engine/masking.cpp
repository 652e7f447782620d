#include "engine/masking.h"

#include "engine/splitter.h"
#include "engine/words.h"

namespace tallo::engine {

namespace {

constexpr std::string_view kMask = "****";

struct Token {
    enum class Kind { Word, String, QString, Hex, Quoted, Other };
    Kind kind = Kind::Other;
    std::size_t begin = 0;
    std::size_t end = 0;
    // The part between the delimiters, for the literal kinds.
    std::size_t inner_begin = 0;
    std::size_t inner_end = 0;

    bool IsLiteral() const { return kind == Kind::String || kind == Kind::QString || kind == Kind::Hex; }
};

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

// Reads the tokens of one statement the way Firebird's lexer sees them:
// words, '...' strings, q'x...x' strings, x'...' hex strings, "..." quoted
// identifiers and single other bytes; blanks and comments are skipped. An
// unterminated construct runs to the end of the text.
class Tokens {
  public:
    explicit Tokens(std::string_view text) : text_(text) {}

    bool Next(Token& t) {
        pos_ = SkipBlanksAndCommentsAt(text_, pos_);
        if (pos_ >= text_.size())
            return false;
        t = Token{};
        t.begin = pos_;
        const char c = text_[pos_];
        const bool quote_follows = pos_ + 1 < text_.size() && text_[pos_ + 1] == '\'';
        if ((c == 'q' || c == 'Q') && quote_follows && pos_ + 2 < text_.size()) {
            t.kind = Token::Kind::QString;
            const char closer = QStringCloser(text_[pos_ + 2]);
            t.inner_begin = pos_ + 3;
            std::size_t i = t.inner_begin;
            while (i < text_.size() && !(text_[i] == closer && i + 1 < text_.size() && text_[i + 1] == '\''))
                ++i;
            t.inner_end = i;
            t.end = i < text_.size() ? i + 2 : i;
        } else if ((c == 'x' || c == 'X') && quote_follows) {
            t.kind = Token::Kind::Hex;
            Quoted(t, pos_ + 1);
        } else if (c == '\'') {
            t.kind = Token::Kind::String;
            Quoted(t, pos_);
        } else if (c == '"') {
            t.kind = Token::Kind::Quoted;
            Quoted(t, pos_);
        } else if (IsWordByte(static_cast<unsigned char>(c))) {
            t.kind = Token::Kind::Word;
            std::size_t i = pos_;
            while (i < text_.size() && IsWordByte(static_cast<unsigned char>(text_[i])))
                ++i;
            t.end = i;
        } else {
            t.kind = Token::Kind::Other;
            t.end = pos_ + 1;
        }
        pos_ = t.end;
        return true;
    }

    // The token after the current one, without moving on.
    bool Peek(Token& t) {
        const std::size_t saved = pos_;
        const bool got = Next(t);
        pos_ = saved;
        return got;
    }

  private:
    // A run quoted by the byte at open; doubled quotes stay inside.
    void Quoted(Token& t, std::size_t open) {
        const char quote = text_[open];
        t.inner_begin = open + 1;
        std::size_t i = t.inner_begin;
        while (i < text_.size()) {
            if (text_[i] == quote) {
                if (i + 1 < text_.size() && text_[i + 1] == quote) {
                    i += 2;
                    continue;
                }
                break;
            }
            ++i;
        }
        t.inner_end = i;
        t.end = i < text_.size() ? i + 1 : i;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

std::string Undoubled(std::string_view inner, char quote) {
    std::string out;
    out.reserve(inner.size());
    for (std::size_t i = 0; i < inner.size(); ++i) {
        out += inner[i];
        if (inner[i] == quote && i + 1 < inner.size() && inner[i + 1] == quote)
            ++i;
    }
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
        Tokens tokens(text_);
        Token t;
        std::size_t copied = 0;
        bool after_password = false;
        std::size_t index = 0;  // of the token: the database follows the leading words
        while (tokens.Next(t)) {
            if (t.begin < copied)
                continue;  // inside a bare password already masked
            bool mask = false;
            if (after_password) {
                after_password = false;
                if (t.kind == Token::Kind::Word && t.end - t.begin > 1 && text_[t.begin] == '_') {
                    // An introducer: the literal after it is the password.
                    Token literal;
                    if (tokens.Peek(literal) && literal.IsLiteral()) {
                        tokens.Next(t);
                        mask = true;
                    }
                }
                // Elsewhere only a literal is one: SELECT password FROM ...
                if (!mask)
                    mask = t.IsLiteral() || (password_statement_ && (t.kind != Token::Kind::Other ||
                                                                     !IsPunctuation(text_[t.begin])));
            }
            if (any_operand_ && index++ > lead_words_ && (t.IsLiteral() || t.kind == Token::Kind::Quoted))
                mask = true;
            if (t.kind == Token::Kind::Word && EqualsWord(Slice(t), "PASSWORD"))
                after_password = true;

            std::string replacement;
            if (mask) {
                replacement = Masked(t);
            } else if (t.kind == Token::Kind::String || t.kind == Token::Kind::QString) {
                // A text run by EXECUTE STATEMENT may set a password itself.
                const std::string_view inner = text_.substr(t.inner_begin, t.inner_end - t.inner_begin);
                if (!MentionsWord(inner, "PASSWORD"))
                    continue;
                if (t.kind == Token::Kind::String) {
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
    std::string_view Slice(const Token& t) const { return text_.substr(t.begin, t.end - t.begin); }

    static bool IsPunctuation(char c) { return c == ';' || c == ',' || c == ')' || c == '(' || c == '='; }

    // CONNECT and CREATE DATABASE carry secrets in every string operand after
    // the database; they and the USER statements take a password in any form.
    void DecideKind() {
        WordReader head(text_, 0);
        std::string_view word = head.Next();
        if (EqualsWord(word, "CONNECT")) {
            any_operand_ = password_statement_ = true;
            lead_words_ = 1;
            return;
        }
        if (!EqualsWord(word, "CREATE") && !EqualsWord(word, "ALTER") && !EqualsWord(word, "RECREATE"))
            return;
        const bool create = EqualsWord(word, "CREATE");
        word = head.Next();
        if (create && (EqualsWord(word, "DATABASE") || EqualsWord(word, "SCHEMA"))) {
            any_operand_ = password_statement_ = true;
            lead_words_ = 2;
            return;
        }
        if (EqualsWord(word, "OR")) {
            head.Next();  // ALTER
            word = head.Next();
        }
        if (EqualsWord(word, "CURRENT"))
            word = head.Next();
        password_statement_ = EqualsWord(word, "USER");
    }

    // The token with its content replaced by ****, its delimiters kept; the
    // content is remembered as a secret.
    std::string Masked(Token& t) {
        if (t.kind == Token::Kind::Word || t.kind == Token::Kind::Other) {
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
        if (t.kind == Token::Kind::String)
            Remember(Undoubled(inner, '\''));
        if (t.kind == Token::Kind::Quoted)
            Remember(Undoubled(inner, '"'));
        if (t.kind == Token::Kind::Hex) {
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
    if (MentionsWord(text, "PASSWORD"))
        return true;
    WordReader head(text, 0);
    const std::string_view first = head.Next();
    if (EqualsWord(first, "CONNECT"))
        return true;
    if (!EqualsWord(first, "CREATE"))
        return false;
    const std::string_view second = head.Next();
    return EqualsWord(second, "DATABASE") || EqualsWord(second, "SCHEMA");
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
