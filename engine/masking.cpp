#include "engine/masking.h"

#include "engine/splitter.h"
#include "engine/words.h"

namespace tallo::engine {

namespace {

// The end of a quoted run starting at pos (doubled quotes stay inside); the
// end of the text when it is unterminated.
std::size_t QuotedEnd(std::string_view text, std::size_t pos) {
    const char quote = text[pos];
    std::size_t i = pos + 1;
    while (i < text.size()) {
        if (text[i] == quote) {
            if (i + 1 < text.size() && text[i + 1] == quote) {
                i += 2;
                continue;
            }
            return i + 1;
        }
        ++i;
    }
    return text.size();
}

// The end of a bare password starting at pos: the next blank, ";", "," or ")".
std::size_t BarePasswordEnd(std::string_view text, std::size_t pos) {
    while (pos < text.size() && !IsBlankByte(static_cast<unsigned char>(text[pos])) && text[pos] != ';' &&
           text[pos] != ',' && text[pos] != ')')
        ++pos;
    return pos;
}

}  // namespace

std::string MaskPasswords(std::string_view text) {
    // Only a text that names PASSWORD can hold one.
    if (!MentionsWord(text, "PASSWORD"))
        return std::string(text);
    // In CONNECT and CREATE DATABASE any operand is a password; elsewhere
    // only a string literal is (SELECT password FROM ... stays as it is).
    WordReader head(text, 0);
    const std::string_view first = head.Next();
    bool any_operand = EqualsWord(first, "CONNECT");
    if (EqualsWord(first, "CREATE")) {
        const std::string_view second = head.Next();
        any_operand = EqualsWord(second, "DATABASE") || EqualsWord(second, "SCHEMA");
    }
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    bool after_password = false;
    while (pos < text.size()) {
        const std::size_t skipped = SkipBlanksAndCommentsAt(text, pos);
        if (skipped > pos) {
            out.append(text.substr(pos, skipped - pos));
            pos = skipped;
            continue;
        }
        const char c = text[pos];
        std::size_t end;
        if (c == '\'' || c == '"') {
            end = QuotedEnd(text, pos);
            if (after_password && (c == '\'' || any_operand)) {
                out += c;
                out += "****";
                if (end > pos + 1 && text[end - 1] == c)
                    out += c;
            } else {
                out.append(text.substr(pos, end - pos));
            }
            after_password = false;
        } else if (IsWordByte(static_cast<unsigned char>(c))) {
            end = pos;
            while (end < text.size() && IsWordByte(static_cast<unsigned char>(text[end])))
                ++end;
            const std::string_view word = text.substr(pos, end - pos);
            if (after_password && any_operand) {
                end = BarePasswordEnd(text, end);
                out += "****";
                after_password = false;
            } else {
                out.append(word);
                after_password = EqualsWord(word, "PASSWORD");
            }
        } else {
            end = pos + 1;
            if (after_password && any_operand) {
                // A bare password that starts with a punctuation character.
                end = BarePasswordEnd(text, end);
                out += "****";
                after_password = false;
            } else {
                out += c;
                after_password = false;
            }
        }
        pos = end;
    }
    return out;
}

}  // namespace tallo::engine
