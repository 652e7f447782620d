#pragma once

#include "a/one.h"
