/* The script engine's C interface, as the tool calls it.
 *
 * The library is built under the file name "IBEScript.dll" on every platform
 * and exports exactly one entry, ExecScriptText. The call is synchronous and
 * makes every callback on the calling thread; no C++ exception leaves it.
 * Texts are zero-terminated 8-bit strings (Windows-1251); a null pointer in a
 * callback argument counts as an empty text.
 */
#ifndef TALLO_IBESCRIPT_H
#define TALLO_IBESCRIPT_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define TALLO_STDCALL __stdcall
#else
#define TALLO_STDCALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Error callback:     first = error text, second = where it happened.
 * Status callback:    first unused (""), second = progress text.
 * Statement callback: first = statement or protocol text, second unused. */
typedef int32_t(TALLO_STDCALL* TalloEngineCallback)(const char* first, const char* second);

/* Runs the whole text; answers the number of errors reported (0 = clean). */
typedef int32_t(TALLO_STDCALL* TalloExecScriptTextFn)(const char* text, TalloEngineCallback on_error,
                                                      TalloEngineCallback on_status,
                                                      TalloEngineCallback on_statement);

#define TALLO_ENGINE_FILE_NAME "IBEScript.dll"
#define TALLO_ENGINE_ENTRY_NAME "ExecScriptText"

#ifdef __cplusplus
}
#endif

#endif
