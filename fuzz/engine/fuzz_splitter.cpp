// The pre-flight on arbitrary bytes: it either yields statements that lie
// inside the text or refuses the script; it never crashes or hangs. INPUT
// files come from memory (a small script that includes itself again), so the
// nesting limit and the cycle check are reached too. Read again in windows
// of a few bytes, as the engine's worker reads the caller's text, the same
// text gives the same statements, or the same refusal.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "engine/commands.h"
#include "engine/masking.h"
#include "engine/script.h"
#include "tests/support/piece_source.h"

namespace {

using namespace tallo::engine;

struct Reading {
    std::vector<std::string> statements;  // text, line and file of each
    std::string refusal;
    bool operator==(const Reading&) const = default;
};

std::string Entry(const Statement& st) {
    return std::string(st.text) + "@" + std::to_string(st.line) + ":" + std::to_string(st.file);
}

InputReader Inputs(int& reads) {
    return [&reads](const std::string& path) -> std::optional<std::string> {
        if (++reads > 64)
            return std::nullopt;
        return "select 1;\nSET TERM ^ ;\nINPUT 'x" + std::to_string(path.size() % 3) +
               ".sql'^\nSET TERM ; ^\n";
    };
}

Reading ReadInWindows(const std::string& text, std::size_t piece) {
    Reading reading;
    int reads = 0;
    PieceSource source(text, piece);
    try {
        const Script script = Preflight(source, {}, Inputs(reads));
        StatementReader reader(script, source);
        while (const auto st = reader.Next())
            reading.statements.push_back(Entry(*st));
    } catch (const PreflightFailure& f) {
        reading.refusal = std::string(f.what()) + "@" + std::to_string(f.line);
    }
    return reading;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    int reads = 0;
    Reading whole;
    try {
        const Script script = LoadScript(text, Inputs(reads));
        for (const Statement& st : script.statements) {
            if (st.text.empty())
                std::abort();
            if (st.file == 0 &&
                (st.text.data() < text.data() || st.text.data() + st.text.size() > text.data() + size))
                std::abort();
            try {
                (void)ParseCommand(st.text);
            } catch (const CommandError&) {
            }
            (void)MaskPasswords(st.text);
            whole.statements.push_back(Entry(st));
        }
    } catch (const PreflightFailure& f) {
        whole.refusal = std::string(f.what()) + "@" + std::to_string(f.line);
    }
    if (ReadInWindows(text, 1 + size % 7) != whole)
        std::abort();
    return 0;
}
