#include "engine/charset_check.h"

#include "text/lexer.h"
#include "text/script_encoding.h"

namespace tallo::engine {

std::vector<IntroducedText> IntroducedTexts(std::string_view statement) {
    std::vector<IntroducedText> texts;
    Lexer lexer(statement);
    std::string_view introducer;  // the character set named just before
    for (Lexeme t = lexer.NextCode(); t.kind != TokenKind::End; t = lexer.NextCode()) {
        if (t.IsLiteral() && !introducer.empty())
            texts.push_back({t.begin, t.end, t.inner_begin, t.inner_end, introducer});
        introducer = t.kind == TokenKind::Introducer ? lexer.TextOf(t).substr(1) : std::string_view();
    }
    return texts;
}

std::size_t FirstByteOutsideCharset(std::string_view statement, std::string_view charset) {
    using script_encoding::FirstByteOutside;
    constexpr std::size_t kNone = std::string_view::npos;
    std::size_t offset = FirstByteOutside(statement, charset);
    if (offset == kNone)
        return kNone;  // most statements: nothing to read
    const std::vector<IntroducedText> texts = IntroducedTexts(statement);
    auto text = texts.begin();
    for (;;) {
        while (text != texts.end() && text->end <= offset)
            ++text;
        if (text == texts.end() || offset < text->begin)
            return offset;
        // A literal starts and ends with an ASCII byte, so the scan reached
        // it at a character's start and goes on after it at another.
        const std::string_view content =
            statement.substr(text->content_begin, text->content_end - text->content_begin);
        if (const std::size_t inner = FirstByteOutside(content, text->charset); inner != kNone)
            return text->content_begin + inner;
        const std::size_t from = text->end;
        offset = FirstByteOutside(statement.substr(from), charset);
        if (offset == kNone)
            return kNone;
        offset += from;
    }
}

}  // namespace tallo::engine
