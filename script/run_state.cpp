#include "script/run_state.h"

namespace tallo {

RunState& TheRunState() {
    static RunState state;
    return state;
}

namespace {
// Unit start-up: the run state exists before any window does.
[[maybe_unused]] const RunState& kUnitStartUp = TheRunState();
}  // namespace

}  // namespace tallo
