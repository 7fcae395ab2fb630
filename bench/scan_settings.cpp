#include "bench/scan_settings.h"
