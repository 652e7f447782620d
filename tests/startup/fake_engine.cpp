// A stand-in engine: reports one status text and answers 42.
#include "ibescript.h"

extern "C" int32_t TALLO_STDCALL ExecScriptText(const char* text, TalloEngineCallback on_error,
                                                TalloEngineCallback on_status,
                                                TalloEngineCallback on_statement) {
    (void)text;
    (void)on_error;
    (void)on_statement;
    if (on_status)
        on_status("", "fake engine");
    return 42;
}
