// The root of the engine's failures. Every exception the engine raises
// itself derives from EngineFailure, and so from Failure, the root of every
// failure the system raises; what() is the exact message. None of them
// leaves the library: the C entry turns each into an error callback.
#pragma once

#include "text/failure.h"

namespace tallo::engine {

class EngineFailure : public Failure {
  public:
    using Failure::Failure;
};

}  // namespace tallo::engine
