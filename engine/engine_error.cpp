#include "engine/engine_error.h"
