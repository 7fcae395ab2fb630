#include "bench/spectrum.h"
