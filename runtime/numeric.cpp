#include "runtime/numeric.h"
