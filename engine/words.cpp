#include "engine/words.h"

#include "engine/splitter.h"

namespace tallo::engine {

bool MentionsWord(std::string_view text, std::string_view upper) {
    if (upper.empty())
        return false;
    const char first_lower = static_cast<char>(upper[0] | 0x20);
    for (std::size_t i = 0; i + upper.size() <= text.size(); ++i) {
        if ((text[i] | 0x20) != first_lower)
            continue;
        if (!EqualsWord(text.substr(i, upper.size()), upper))
            continue;
        const std::size_t end = i + upper.size();
        if ((i == 0 || !IsWordByte(static_cast<unsigned char>(text[i - 1]))) &&
            (end == text.size() || !IsWordByte(static_cast<unsigned char>(text[end]))))
            return true;
    }
    return false;
}

std::size_t SkipBlanksAndCommentsAt(std::string_view text, std::size_t pos) {
    const std::size_t n = text.size();
    while (pos < n) {
        const char c = text[pos];
        if (IsBlankByte(static_cast<unsigned char>(c))) {
            ++pos;
        } else if (c == '-' && pos + 1 < n && text[pos + 1] == '-') {
            pos += 2;
            while (pos < n && text[pos] != '\n' && text[pos] != '\r')
                ++pos;
        } else if (c == '/' && pos + 1 < n && text[pos + 1] == '*') {
            const std::size_t close = text.find("*/", pos + 2);
            pos = close == std::string_view::npos ? n : close + 2;
        } else {
            break;
        }
    }
    return pos;
}

std::string_view WordReader::Next() {
    pos_ = SkipBlanksAndCommentsAt(text_, pos_);
    const std::size_t start = pos_;
    while (pos_ < text_.size() && IsWordByte(static_cast<unsigned char>(text_[pos_])))
        ++pos_;
    return text_.substr(start, pos_ - start);
}

bool TokenReader::AtEnd() {
    pos_ = SkipBlanksAndCommentsAt(text_, pos_);
    return pos_ >= text_.size();
}

Token TokenReader::Next() {
    Token token;
    if (AtEnd())
        return token;
    const std::size_t start = pos_;
    const char c = text_[pos_];
    if (c == '\'' || c == '"') {
        token.kind = c == '\'' ? Token::Kind::String : Token::Kind::Quoted;
        ++pos_;
        while (pos_ < text_.size()) {
            if (text_[pos_] == c) {
                if (pos_ + 1 < text_.size() && text_[pos_ + 1] == c) {
                    token.value += c;
                    pos_ += 2;
                    continue;
                }
                ++pos_;
                break;
            }
            token.value += text_[pos_++];
        }
    } else {
        token.kind = Token::Kind::Bare;
        while (pos_ < text_.size() && !IsBlankByte(static_cast<unsigned char>(text_[pos_])) &&
               text_[pos_] != '\'' && text_[pos_] != '"')
            ++pos_;
        token.value = std::string(text_.substr(start, pos_ - start));
    }
    token.raw = text_.substr(start, pos_ - start);
    return token;
}

}  // namespace tallo::engine
