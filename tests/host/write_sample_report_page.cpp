// Writes the sample qualification's report page to the path given: for the browser test, and for a
// person to look at the page without a bench.
#include <cstdio>
#include <fstream>

#include "tests/host/qualification_sample.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s PAGE.html\n", argv[0]);
    return 2;
  }
  using namespace dorvane::testing;
  const std::string page = dorvane::host::qualification::reportPage(sampleQualificationReport(), sampleFilm(),
                                                                     sampleHundredPercentLine(), sampleTrends());
  std::ofstream file(argv[1], std::ios::binary);
  if (!file.write(page.data(), static_cast<std::streamsize>(page.size())) || !file.flush()) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
