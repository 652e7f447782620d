#include "packing/text_files.h"

#include <new>

#include "base/errors.h"
#include "base/platform.h"
#include "base/text_rules.h"
#include "packing/streams.h"
#include "text/quoting.h"

namespace tallo {

std::string ReadTextFile(const std::string& name) {
    std::int64_t size = 0;
    platform::File file = OpenForReading(name, platform::Share::ReadWrite, &size);
    int error = 0;
    if (static_cast<std::uint64_t>(size) > kMaxContentSize)
        throw OutOfMemoryFailure();
    std::string text;
    try {
        text.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        throw OutOfMemoryFailure();
    }
    if (size > 0) {
        std::int64_t got = file.Read(text.data(), text.size(), &error);
        if (got < 0)
            throw ReadFailure();
        // The file shrank since its size was taken: keep what is there
        // rather than padding the text with bytes the file never had.
        text.resize(static_cast<std::size_t>(got));
    }
    return text;
}

std::string ProtocolRetryQuestion(const std::string& name) {
    // "Не удается создать файл протокола выполнения скрипта " + Q(name) + "."
    // CR LF "Попытаться еще раз?"
    return "\xCD\xE5 \xF3\xE4\xE0\xE5\xF2\xF1\xFF \xF1\xEE\xE7\xE4\xE0\xF2\xFC \xF4\xE0\xE9\xEB "
           "\xEF\xF0\xEE\xF2\xEE\xEA\xEE\xEB\xE0 \xE2\xFB\xEF\xEE\xEB\xED\xE5\xED\xE8\xFF "
           "\xF1\xEA\xF0\xE8\xEF\xF2\xE0 " +
           Q(platform::FileNameText(name)) + "." + kCrLf +
           "\xCF\xEE\xEF\xFB\xF2\xE0\xF2\xFC\xF1\xFF \xE5\xF9\xE5 \xF0\xE0\xE7?";
}

bool WriteProtocolFile(WindowServices& window, const std::string& text, const std::string& name,
                       const std::string& like) {
    for (;;) {
        try {
            SaveWholeFile(name, text.data(), text.size(), like);
            return true;
        } catch (const CreateFileFailure&) {
            // The operator decides: try again, or go without a protocol file.
            if (!window.AskErrorYesNo(ProtocolRetryQuestion(name)))
                return false;
        }
    }
}

}  // namespace tallo
