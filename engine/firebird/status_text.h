// Firebird's status vector as the engine reports it: the formatted text
// (lines ended by CR LF), the SQLSTATE, whether a PSQL EXCEPTION raised it
// (then the text is the exception's own message alone) and whether the
// connection is gone.
#pragma once

#include <firebird/Interface.h>

#include <cstdint>
#include <string>

#include "engine/session.h"

namespace tallo::engine::fb {

// The message of a user exception in a status vector: the text argument
// that follows the exception's name; nullopt-like empty flag when the
// vector holds no isc_except.
bool UserExceptionText(const std::intptr_t* vector, std::string& text);

// Whether the vector reports a broken network link or a shut-down
// attachment or database.
bool ReportsLostConnection(const std::intptr_t* vector);

// attached: the failure came from an established attachment (only then can
// it have been lost).
SessionError ToSessionError(Firebird::IUtil* util, Firebird::IStatus* status, bool attached);

}  // namespace tallo::engine::fb
