/* Prints "code<TAB>phrase" for every code from -200 to 200 as dorvane_error_text in dorvane.h gives
 * it, or with "constants" the header's named numbers as "NAME<TAB>value", for the Python binding's
 * copies to be held to. */
#include <stdio.h>
#include <string.h>

#include "dorvane.h"

#define PRINT_CONSTANT(name) printf("%s\t%ld\n", #name, (long)(name))

int main(int argc, char** argv) {
  int32_t code;
  if (argc > 1 && strcmp(argv[1], "constants") == 0) {
    PRINT_CONSTANT(DORVANE_ERROR_NO_NEW_SRQ);
    PRINT_CONSTANT(DORVANE_ERROR_NULL_POINTER);
    PRINT_CONSTANT(DORVANE_ERROR_PORT_IN_USE);
    PRINT_CONSTANT(DORVANE_ERROR_PORT_DENIED);
    PRINT_CONSTANT(DORVANE_ERROR_NOT_A_SERIAL_PORT);
    PRINT_CONSTANT(DORVANE_ERROR_NO_SUCH_BLOCK);
    PRINT_CONSTANT(DORVANE_ERROR_PORT_BUSY);
    PRINT_CONSTANT(DORVANE_STATUS_NEVER_OPENED);
    PRINT_CONSTANT(DORVANE_STATUS_IDLE);
    PRINT_CONSTANT(DORVANE_STATUS_ACQUIRING);
    PRINT_CONSTANT(DORVANE_MOST_BLOCK_POINTS);
    return 0;
  }
  for (code = -200; code <= 200; ++code) printf("%d\t%s\n", (int)code, dorvane_error_text(code));
  return 0;
}
