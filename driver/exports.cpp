// The C exports: each forwards to the process driver and lets no exception out.
#include "dorvane.h"
#include "driver/driver.h"

namespace {

using dorvane::driver::processDriver;

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

std::uintptr_t handleValue(dorvane_event_handle event) { return reinterpret_cast<std::uintptr_t>(event); }

}  // namespace

extern "C" {

DORVANE_API int32_t DORVANE_CALL spectrometer_open(int32_t id) {
  return guarded<int32_t>(-1, [&] { return processDriver().open(id); });
}
DORVANE_API int32_t DORVANE_CALL spectrometer_initialize(void) {
  return guarded<int32_t>(1, [] { return processDriver().initialize(); });
}
DORVANE_API int32_t DORVANE_CALL spectrometer_close(void) {
  return guarded<int32_t>(1, [] { return processDriver().close(); });
}

DORVANE_API int32_t DORVANE_CALL spectrometer_startCoadd(void) {
  return guarded<int32_t>(1, [] { return processDriver().startCoadd(); });
}
DORVANE_API int32_t DORVANE_CALL spectrometer_stop(void) {
  return guarded<int32_t>(1, [] { return processDriver().stop(); });
}
DORVANE_API int32_t DORVANE_CALL spectrometer_getData(double* buffer, int32_t pts, double* timestamp) {
  return guarded<int32_t>(1, [&] { return processDriver().getData(buffer, pts, timestamp); });
}
DORVANE_API int32_t DORVANE_CALL spectrometer_getScanProgress(void) {
  return guarded<int32_t>(0, [] { return processDriver().getScanProgress(); });
}
DORVANE_API int32_t DORVANE_CALL spectrometer_getFileProgress(void) {
  return guarded<int32_t>(0, [] { return processDriver().getFileProgress(); });
}
DORVANE_API int32_t DORVANE_CALL spectrometer_getStatus(void) {
  return guarded<int32_t>(0, [] { return processDriver().getStatus(); });
}

DORVANE_API int32_t DORVANE_CALL spectrometer_getCapabilities(void) {
  return guarded<int32_t>(0, [] { return processDriver().getCapabilities(); });
}
DORVANE_API double DORVANE_CALL spectrometer_getTimestamp(void) {
  return guarded<double>(0.0, [] { return processDriver().getTimestamp(); });
}
DORVANE_API double DORVANE_CALL spectrometer_getGain(void) {
  return guarded<double>(0.0, [] { return processDriver().getGain(); });
}
DORVANE_API double DORVANE_CALL spectrometer_setGain(double gain) {
  return guarded<double>(0.0, [&] { return processDriver().setGain(gain); });
}
DORVANE_API double DORVANE_CALL spectrometer_getResolution(void) {
  return guarded<double>(0.0, [] { return processDriver().getResolution(); });
}
DORVANE_API double DORVANE_CALL spectrometer_setResolution(double resolution) {
  return guarded<double>(resolution, [&] { return processDriver().setResolution(resolution); });
}
DORVANE_API int32_t DORVANE_CALL spectrometer_getPoints(void) {
  return guarded<int32_t>(0, [] { return processDriver().getPoints(); });
}
DORVANE_API int32_t DORVANE_CALL spectrometer_setPoints(int32_t points) {
  return guarded<int32_t>(points, [&] { return processDriver().setPoints(points); });
}
DORVANE_API int32_t DORVANE_CALL spectrometer_getScans(void) {
  return guarded<int32_t>(0, [] { return processDriver().getScans(); });
}
DORVANE_API int32_t DORVANE_CALL spectrometer_setScans(int32_t scans) {
  return guarded<int32_t>(scans, [&] { return processDriver().setScans(scans); });
}
DORVANE_API int32_t DORVANE_CALL spectrometer_getFiles(void) {
  return guarded<int32_t>(0, [] { return processDriver().getFiles(); });
}
DORVANE_API int32_t DORVANE_CALL spectrometer_setFiles(int32_t files) {
  return guarded<int32_t>(files, [&] { return processDriver().setFiles(files); });
}
DORVANE_API int32_t DORVANE_CALL spectrometer_setScanCompleteEventHandle(dorvane_event_handle event) {
  return guarded<int32_t>(0, [&] { return processDriver().setScanCompleteEventHandle(handleValue(event)); });
}
DORVANE_API int32_t DORVANE_CALL spectrometer_setCoaddCompleteEventHandle(dorvane_event_handle event) {
  return guarded<int32_t>(0, [&] { return processDriver().setCoaddCompleteEventHandle(handleValue(event)); });
}

DORVANE_API int32_t DORVANE_CALL spectrometer_execute(const char* command) {
  return guarded<int32_t>(0, [&] { return processDriver().execute(command); });
}

DORVANE_API int32_t DORVANE_CALL getRemoteData(int32_t index, double* values, int32_t* count) {
  return guarded<int32_t>(1, [&] { return processDriver().getRemoteData(index, values, count); });
}
DORVANE_API int32_t DORVANE_CALL getRemoteDataList(char* text) {
  return guarded<int32_t>(1, [&] { return processDriver().getRemoteDataList(text); });
}
DORVANE_API int32_t DORVANE_CALL getSetup(char* text, int32_t ignored) {
  return guarded<int32_t>(1, [&] { return processDriver().getSetup(text, ignored); });
}

}  // extern "C"
