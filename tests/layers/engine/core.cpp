// The engine reaching above text/.
#include "a/one.h"
