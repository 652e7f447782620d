// The pre-flight on arbitrary bytes: it either yields statements that lie
// inside the text or refuses the script; it never crashes or hangs. INPUT
// files come from memory (a small script that includes itself again), so the
// nesting limit and the cycle check are reached too.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "engine/commands.h"
#include "engine/masking.h"
#include "engine/script.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    int reads = 0;
    const tallo::engine::InputReader reader =
        [&reads](const std::string& path) -> std::optional<std::string> {
        if (++reads > 64)
            return std::nullopt;
        return "select 1;\nSET TERM ^ ;\nINPUT 'x" + std::to_string(path.size() % 3) +
               ".sql'^\nSET TERM ; ^\n";
    };
    try {
        const tallo::engine::Script script = tallo::engine::LoadScript(text, reader);
        for (const tallo::engine::Statement& st : script.statements) {
            if (st.text.empty())
                std::abort();
            if (st.file == 0 &&
                (st.text.data() < text.data() || st.text.data() + st.text.size() > text.data() + size))
                std::abort();
            try {
                (void)tallo::engine::ParseCommand(st.text);
            } catch (const tallo::engine::CommandError&) {
            }
            (void)tallo::engine::MaskPasswords(st.text);
        }
    } catch (const tallo::engine::PreflightFailure&) {
    }
    return 0;
}
