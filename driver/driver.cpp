// The driver object and the process-wide instance behind the exports.
#include "driver/driver.h"

#include "platform/module.h"
#include "runtime/debug_print.h"

namespace dorvane::driver {

Driver::Driver(const DriverServices& services)
    : clock_(services.clock),
      debugOutput_(services.debugOutput),
      serial_(services.serial),
      log_(services.clock, services.moduleFileName),
      link_{services.serial, services.clock, log_} {}

Driver::~Driver() {
  if (state_.scanThread) state_.scanThread->stop();
}

int Driver::debugPrint(const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  const int result = runtime::debugPrintV(debugOutput_, format, arguments);
  va_end(arguments);
  return result;
}

bool Driver::acquisitionHoldsPort() const { return state_.scanThread && state_.scanThread->running(); }

bool Driver::refusedWhileAcquiring(const char* exportName) {
  if (!acquisitionHoldsPort()) return false;
  // A thread that has told the host of its last file only closes the port and returns: a host that
  // starts the next acquisition as soon as it has fetched that file is made to wait for it, not
  // refused.
  CScanThread& thread = *state_.scanThread;
  if (thread.ending()) {
    log_.print("dorvane.dll %s: waiting for the ending acquisition to close the serial port", exportName);
    if (thread.waitForEnd(kEndingPatienceMs)) return false;
  }
  log_.print("dorvane.dll %s: refused, an acquisition holds the serial port", exportName);
  return true;
}

Driver& processDriver() {
  static Driver driver(DriverServices{platform::systemClock(), platform::systemDebugOutput(),
                                      platform::systemSerialLibrary(), &platform::moduleFileName});
  return driver;
}

}  // namespace dorvane::driver
