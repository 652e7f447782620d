#include "packing/packed_names.h"

#include "base/text_rules.h"
#include "text/letter_case.h"

namespace tallo {

std::string PackedNameFor(const std::string& source) {
    std::string old_ext = ExtensionOf(source);
    std::string new_ext = ".Z";
    if (old_ext.size() > 2)
        new_ext += old_ext.substr(2, 2);
    return ChangeExtension(source, new_ext);
}

std::string UnpackedNameFor(const std::string& source) {
    return ChangeExtension(source, ascii::EqualNoCase(ExtensionOf(source), ".zql") ? ".sql" : ".txt");
}

}  // namespace tallo
