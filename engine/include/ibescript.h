/* The script engine's C interface, as the tool calls it.
 *
 * The library is built under the file name "IBEScript.dll" on every platform
 * and exports ExecScriptText, CancelScriptText and SetScriptFolder. The call
 * is synchronous and makes every callback on the calling thread; no C++
 * exception leaves it.
 * The Firebird work runs in a worker process installed beside the library;
 * the library relays its reports as they come, keeps the status line alive
 * while a statement runs, and turns a worker that dies into one error.
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
 * Statement callback: first = statement or protocol text, second unused.
 *
 * The error callback's second text is one of these, exactly (N in decimal,
 * "\r\n" a CR LF pair):
 *
 *   At line N[ of file "F"][, SQLSTATE S]\r\nT
 *       A statement failed. N is the line its first word is on (from 1) in
 *       the script text or in the INPUT file it came from; ` of file "F"` is
 *       present only for a statement of an INPUT file, F being that file's
 *       name as the INPUT command named it, joined to the including file's
 *       folder when relative (F may hold '"': it runs to the last '"' of the
 *       line); `, SQLSTATE S` is present only when the database gave a
 *       SQLSTATE (five characters, "42S02"); T is the statement's text
 *       without its terminator, passwords masked, and may span lines.
 *   At line N[ of file "F"]
 *       No statement text: the script was refused before anything ran (N is
 *       the line of the fault), the operator stopped the run, or the worker
 *       died (N is the line of the statement then running).
 *   Before the first statement
 *       Nothing ran: the connection, the worker or its folder could not be
 *       had, or the worker died or was stopped before its first statement.
 *   At the end of the script
 *   At the end of the script (commit)
 *       Closing the OUTPUT file, or the final commit, failed.
 *   "" (empty)
 *       The call itself failed: another call is running, or an internal
 *       failure of the engine. */
typedef int32_t(TALLO_STDCALL* TalloEngineCallback)(const char* first, const char* second);

/* Runs the whole text; answers the number of errors reported (0 = clean). */
typedef int32_t(TALLO_STDCALL* TalloExecScriptTextFn)(const char* text, TalloEngineCallback on_error,
                                                      TalloEngineCallback on_status,
                                                      TalloEngineCallback on_statement);

/* Asks the ExecScriptText call under way to stop: the running statement is
 * cancelled, no further statement runs, and work not yet committed is rolled
 * back. The call then reports one error naming the statement it stopped at
 * and returns. May be called from any thread, from inside a callback and from
 * a signal handler (it only sets a flag and writes to a pipe). Answers 1 when
 * a call was under way, 0 when none was (and then does nothing). Optional: a
 * caller looks it up beside ExecScriptText and does without it when absent. */
typedef int32_t(TALLO_STDCALL* TalloCancelScriptTextFn)(void);

/* Names the folder that relative INPUT file names of the script text are
 * taken from in the ExecScriptText calls that follow, until it is named
 * again: the folder of the script file the text was read from. An INPUT
 * file's own relative INPUT names are taken from that file's folder. Null or
 * "" means the current directory. The name is the file system's own (UTF-8
 * on POSIX systems). Optional: a caller looks it up beside ExecScriptText;
 * without it relative INPUT names are taken from the current directory. */
typedef void(TALLO_STDCALL* TalloSetScriptFolderFn)(const char* folder);

#define TALLO_ENGINE_FILE_NAME "IBEScript.dll"
#define TALLO_ENGINE_ENTRY_NAME "ExecScriptText"
#define TALLO_ENGINE_CANCEL_NAME "CancelScriptText"
#define TALLO_ENGINE_SCRIPT_FOLDER_NAME "SetScriptFolder"

#ifdef __cplusplus
}
#endif

#endif
