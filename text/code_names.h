// Names that a table gives to numeric codes: catalogue object types, I/O
// error codes.
#pragma once

#include <span>

namespace tallo {

struct CodeName {
    long long code;
    const char* name;
};

// The name the table gives code, or nullptr when it gives none.
constexpr const char* NameOf(std::span<const CodeName> table, long long code) {
    for (const CodeName& entry : table) {
        if (entry.code == code)
            return entry.name;
    }
    return nullptr;
}

}  // namespace tallo
