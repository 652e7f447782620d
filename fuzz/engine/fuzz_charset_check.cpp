// The pre-run character-set check against the lexer's view of a whole
// script. The input is cut into statements at ";" as the pre-flight cuts it.
// Each statement's introduced literals, read alone, must be the ones a lexer
// reading the whole script token by token finds there; and for UTF8 and
// WIN1251 the byte the check reports must be the first one that the
// character set governing it cannot hold, the statement taken piece by piece:
// the stretches between introduced literals the connection's, each
// introduced literal the connection's or, failing that, its content the
// introducer's.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "engine/charset_check.h"
#include "engine/splitter.h"
#include "text/lexer.h"
#include "text/script_encoding.h"

namespace {

using namespace tallo;
using namespace tallo::engine;
using tallo::script_encoding::FirstByteOutside;
constexpr std::size_t kNone = std::string_view::npos;

std::vector<IntroducedText> LiteralsOfTheWholeText(std::string_view text) {
    std::vector<IntroducedText> found;
    Lexer lexer(text, ";");
    std::string_view introducer;
    for (Lexeme t = lexer.Next(); t.kind != TokenKind::End; t = lexer.Next()) {
        if (t.kind == TokenKind::Comment)
            continue;
        const bool literal =
            t.kind == TokenKind::String || t.kind == TokenKind::QString || t.kind == TokenKind::HexString;
        if (literal && !introducer.empty())
            found.push_back({t.begin, t.end, t.inner_begin, t.inner_end, introducer});
        introducer = t.kind == TokenKind::Introducer ? lexer.TextOf(t).substr(1) : std::string_view();
    }
    return found;
}

// The first byte of text[begin, end) outside charset, or npos.
std::size_t Outside(std::string_view text, std::size_t begin, std::size_t end, std::string_view charset) {
    const std::size_t at = FirstByteOutside(text.substr(begin, end - begin), charset);
    return at == kNone ? kNone : begin + at;
}

std::size_t PieceByPiece(std::string_view text, std::size_t begin, std::size_t end,
                         const std::vector<IntroducedText>& literals, std::string_view charset) {
    std::size_t from = begin;
    for (const IntroducedText& l : literals) {
        if (const std::size_t at = Outside(text, from, l.begin, charset); at != kNone)
            return at;
        if (Outside(text, l.begin, l.end, charset) != kNone) {
            if (const std::size_t at = Outside(text, l.content_begin, l.content_end, l.charset); at != kNone)
                return at;
        }
        from = l.end;
    }
    return Outside(text, from, end, charset);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<IntroducedText> whole = LiteralsOfTheWholeText(text);
    Splitter splitter(text);
    try {
        while (const auto raw = splitter.Next(";")) {
            const std::size_t begin = static_cast<std::size_t>(raw->text.data() - text.data());
            const std::size_t end = begin + raw->text.size();
            std::vector<IntroducedText> expected;
            for (IntroducedText l : whole) {
                if (l.begin < begin || l.end > end)
                    continue;
                l.begin -= begin;
                l.end -= begin;
                l.content_begin -= begin;
                l.content_end -= begin;
                expected.push_back(l);
            }
            if (IntroducedTexts(raw->text) != expected)
                std::abort();
            for (const std::string_view charset : {"UTF8", "WIN1251"}) {
                if (FirstByteOutsideCharset(raw->text, charset) !=
                    PieceByPiece(raw->text, 0, raw->text.size(), expected, charset))
                    std::abort();
            }
        }
    } catch (const ScriptDamage&) {
    }
    return 0;
}
