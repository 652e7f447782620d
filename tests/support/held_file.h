// A file held open the way another program would hold it, for the cases
// about sharing.
#pragma once

#include <string>

#include "base/platform.h"

namespace tallo::testing {

// Opens the existing file with that access and sharing; a closed File when
// it cannot (the caller asserts IsOpen).
inline platform::File HoldFile(const std::string& name, platform::Access access, platform::Share share) {
    int error = 0;
    return platform::File::Open(name, access, share, platform::Disposition::OpenExisting, &error);
}

}  // namespace tallo::testing
