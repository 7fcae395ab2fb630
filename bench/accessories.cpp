#include "bench/accessories.h"
