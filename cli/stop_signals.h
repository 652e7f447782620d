// Stopping a run from outside: the first SIGINT (Ctrl+C) or SIGTERM asks the
// engine to stop the call under way (CancelScriptText), which cancels the
// running statement, rolls back what was not committed and ends the call as
// a failed run, so its protocol is saved as usual; a second one ends the
// process at once, the default way. With an engine that cannot stop a call,
// the signals keep their default action.
#pragma once

#include <string>

#include "ibescript.h"

namespace tallo::cli {

// Gives SIGINT and SIGTERM the handler (either held while it runs, calls
// restarted) and lets them in on the calling thread.
void HandleStopSignals(void (*handler)(int));

// Takes SIGINT and SIGTERM on the calling thread (they are let in if held)
// for stopping the engine's calls through cancel; a null cancel gives them
// their default action. Call once the password has been read: its prompt
// has handlers of its own.
void StopRunsOnSignals(TalloCancelScriptTextFn cancel);

// The signal that asked for the stop; 0 while none came.
int StopSignal();

// Asks the engine again when the stop came while no call was under way yet;
// called from the engine's status callback.
void PassStopToEngine();

// The exit code of a process stopped by the signal: 128 + its number (130
// after SIGINT, 143 after SIGTERM), as a shell reports it.
int StoppedExitCode(int signal);

// "SIGINT", "SIGTERM", or "signal N".
std::string SignalName(int signal);

}  // namespace tallo::cli
