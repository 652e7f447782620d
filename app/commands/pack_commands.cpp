#include "app/commands/pack_commands.h"

#include "packing/zip_file.h"

namespace tallo {

namespace {

// Shows OD with the filter and title; when a file was picked, hands it and
// its other name (what name_for makes of it) to convert.
void ConvertPickedFile(WindowServices& window, const char* filter, const char* title,
                       std::string (*name_for)(const std::string&),
                       bool (*convert)(const std::string&, const std::string&)) {
    window.OD().filter = filter;
    window.OD().title = title;
    if (!window.ExecuteOD())
        return;
    std::string source = window.OD().file_name;
    convert(source, name_for(source));
}

}  // namespace

void AZipFileExecute(WindowServices& window) {
    ConvertPickedFile(window, kPackFilter, kPackTitle, PackedNameFor, PackFile);
}

void AUnzipFileExecute(WindowServices& window) {
    ConvertPickedFile(window, kUnpackFilter, kUnpackTitle, UnpackedNameFor, UnpackFile);
}

}  // namespace tallo
