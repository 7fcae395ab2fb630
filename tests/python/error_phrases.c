/* Prints "code<TAB>phrase" for every code from -200 to 200 as dorvane_error_text in dorvane.h gives
 * it, for the Python binding's copy of the table to be held to. */
#include <stdio.h>

#include "dorvane.h"

int main(void) {
  int32_t code;
  for (code = -200; code <= 200; ++code) printf("%d\t%s\n", (int)code, dorvane_error_text(code));
  return 0;
}
