#include "error/core_error.h"
