// The facts an attachment tells through its information items and the
// client library's version texts (SHOW DATABASE, SHOW VERSION).
#pragma once

#include <firebird/Interface.h>

#include "engine/session.h"

namespace tallo::engine::fb {

// Throws Firebird::FbException.
AttachmentFacts ReadAttachmentFacts(Firebird::ThrowStatusWrapper* status, Firebird::IUtil* util,
                                    Firebird::IAttachment* attachment);

}  // namespace tallo::engine::fb
