#include "sim/simos.h"
