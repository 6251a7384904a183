#include "platform/regional.h"
