#include "bench/requests.h"
