#include "packing/pack_commands.h"

#include "base/text_rules.h"
#include "packing/zip_file.h"
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

void AZipFileExecute(WindowServices& window) {
    window.OD().filter = kPackFilter;
    window.OD().title = kPackTitle;
    if (!window.ExecuteOD())
        return;
    std::string source = window.OD().file_name;
    PackFile(source, PackedNameFor(source));
}

void AUnzipFileExecute(WindowServices& window) {
    window.OD().filter = kUnpackFilter;
    window.OD().title = kUnpackTitle;
    if (!window.ExecuteOD())
        return;
    std::string source = window.OD().file_name;
    UnpackFile(source, UnpackedNameFor(source));
}

}  // namespace tallo
