// The pack and unpack commands of the main window (Ctrl+F11, Ctrl+F12): the
// operator picks a file with the shared dialog OD, the other name follows
// from its extension.
#pragma once

#include <string>

#include "packing/packed_names.h"
#include "script/window_services.h"

namespace tallo {

// Dialog settings the commands put into OD before showing it.
inline constexpr const char* kPackFilter = "Script Files|*.sql|All Files (*.*)|*.*";
// "Выберите скрипт для упаковки"
inline constexpr const char* kPackTitle =
    "\xC2\xFB\xE1\xE5\xF0\xE8\xF2\xE5 \xF1\xEA\xF0\xE8\xEF\xF2 \xE4\xEB\xFF "
    "\xF3\xEF\xE0\xEA\xEE\xE2\xEA\xE8";
inline constexpr const char* kUnpackFilter =
    "Script Files|*.zql|Script Report Files|*.zxt|All Files (*.*)|*.*";
// "Выберите файл для распаковки"
inline constexpr const char* kUnpackTitle =
    "\xC2\xFB\xE1\xE5\xF0\xE8\xF2\xE5 \xF4\xE0\xE9\xEB \xE4\xEB\xFF "
    "\xF0\xE0\xF1\xEF\xE0\xEA\xEE\xE2\xEA\xE8";

// Ctrl+F11: pick a file and pack it. Cancelling does nothing; failures leave
// to the caller.
void AZipFileExecute(WindowServices& window);
// Ctrl+F12: pick a packed file and unpack it.
void AUnzipFileExecute(WindowServices& window);

}  // namespace tallo
