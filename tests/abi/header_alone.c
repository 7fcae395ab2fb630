/* dorvane.h alone, as the oldest C and C++ hosts compile it: it declares everything it names. */
#include "dorvane.h"

int32_t (DORVANE_CALL* const opens)(int32_t) = spectrometer_open;
