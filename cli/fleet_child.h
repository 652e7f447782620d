// tallo-run's run for one database of several, in the process the runner
// starts for it (the option --fleet-result, which is the runner's own).
#pragma once

#include "cli/options.h"

namespace tallo::cli {

// Runs the script of the options for their one database and writes the
// result file; the exit code is 0, or 128 + a stop signal that came.
int RunFleetChild(const Options& o);

}  // namespace tallo::cli
