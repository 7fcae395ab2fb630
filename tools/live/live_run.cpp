#include "tools/live/live_run.h"
