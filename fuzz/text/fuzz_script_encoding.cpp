// Feeds arbitrary bytes to the script-encoding reader as a script file's
// content: detection, decoding, conversion to Windows-1251 and the checks
// against a connection's character set, and the reading of a script's
// leading commands through the lexer. Checks that a text read as UTF-8
// converts back to itself when every character has a Windows-1251 form.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "text/script_encoding.h"
#include "text/win1251.h"

using namespace tallo::script_encoding;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const Encoding encoding = Detect(bytes);
    (void)SetsOwnCharacterSet(bytes);
    for (const char* charset : {"UTF8", "WIN1251", "NONE"}) {
        const std::size_t bad = FirstByteOutside(bytes, charset);
        if (bad != std::string_view::npos && bad >= size)
            std::abort();
    }
    // A connection other than WIN1251 reads the text decoded and nothing more.
    std::string text(bytes);
    try {
        (void)ToConnectionText(text, "UTF8", "fuzz.sql");
        if (encoding != Encoding::Windows1251 && text != Utf8Text(bytes, encoding, "fuzz.sql"))
            std::abort();
    } catch (const EncodingFailure&) {
    }
    if (encoding == Encoding::Windows1251)
        return 0;
    try {
        const std::string utf8 = Utf8Text(bytes, encoding, "fuzz.sql");
        // Decoded UTF-16 is well-formed; a marked UTF-8 text is taken as it
        // is and checked by the conversion.
        if (encoding != Encoding::Utf8 && !tallo::cp1251::IsValidUtf8(utf8))
            std::abort();
        const std::string cp1251 = ToWindows1251(utf8, "fuzz.sql");
        if (tallo::cp1251::ToUtf8(cp1251) != utf8)
            std::abort();
    } catch (const EncodingFailure& e) {
        if (e.line == 0 || e.column == 0)
            std::abort();
    }
    return 0;
}
