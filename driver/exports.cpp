// The C exports: each checks its arguments, forwards to the process driver and lets no exception out.
#include "dorvane.h"
#include "driver/driver.h"

namespace {

// Runs an export's body; anything thrown (only an allocation failure can be) becomes the export's
// failure result.
template <typename Result, typename Body>
Result guarded(Result failure, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}

}  // namespace

extern "C" {

DORVANE_API int32_t DORVANE_CALL spectrometer_execute(const char* command) {
  return guarded<int32_t>(0, [&] { return dorvane::driver::processDriver().execute(command); });
}

}  // extern "C"
