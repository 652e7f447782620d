// A stand-in script engine that shows what it was handed: the whole text
// comes back as one "MSG:" error, and is written unchanged into the file
// named by TALLO_PROBE_OUT when that is set. With TALLO_PROBE_SECONDS it
// then takes that long, like a long statement; it has no CancelScriptText,
// so its runs cannot be stopped.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "ibescript.h"

extern "C" __attribute__((visibility("default"))) int32_t TALLO_STDCALL
ExecScriptText(const char* text, TalloEngineCallback on_error, TalloEngineCallback /*on_status*/,
               TalloEngineCallback /*on_statement*/) {
    if (const char* path = std::getenv("TALLO_PROBE_OUT")) {
        if (std::FILE* f = std::fopen(path, "wb")) {
            std::fputs(text, f);
            std::fclose(f);
        }
    }
    if (const char* seconds = std::getenv("TALLO_PROBE_SECONDS"))
        ::sleep(static_cast<unsigned>(std::atoi(seconds)));
    on_error(("MSG:" + std::string(text)).c_str(), "");
    return 1;
}
