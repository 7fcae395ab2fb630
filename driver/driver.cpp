// The driver object and the process-wide instance behind the exports.
#include "driver/driver.h"

#include "platform/module.h"
#include "runtime/debug_print.h"

namespace dorvane::driver {

Driver::Driver(const DriverServices& services)
    : debugOutput_(services.debugOutput),
      log_(services.clock, services.moduleFileName) {}

int Driver::debugPrint(const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  const int result = runtime::debugPrintV(debugOutput_, format, arguments);
  va_end(arguments);
  return result;
}

Driver& processDriver() {
  static Driver driver(DriverServices{platform::systemClock(), platform::systemDebugOutput(),
                                      &platform::moduleFileName});
  return driver;
}

}  // namespace dorvane::driver
