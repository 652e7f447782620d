// A folder that includes one that includes it back.
#pragma once

#include "b/two.h"
