/* A host written in C: the public header compiles as C and the library links and answers. */
#include <stdio.h>

#include "dorvane.h"

int main(void) {
  const int32_t unrecognised = spectrometer_execute("no such command");
  const int32_t nothing = spectrometer_execute(NULL);
  if (unrecognised != 0 || nothing != 0) {
    printf("unexpected results %d %d\n", (int)unrecognised, (int)nothing);
    return 1;
  }
  return 0;
}
