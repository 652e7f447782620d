#include "app/commands/pack_commands.h"

#include "packing/zip_file.h"

namespace tallo {

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
