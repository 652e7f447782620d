#include "engine/file_names.h"

#include "text/win1251.h"

namespace tallo::engine {

std::string FileSystemName(std::string_view script_name) {
#ifdef _WIN32
    return std::string(script_name);
#else
    if (cp1251::IsValidUtf8(script_name))
        return std::string(script_name);
    return cp1251::ToUtf8(script_name);
#endif
}

}  // namespace tallo::engine
