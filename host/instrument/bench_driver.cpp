// The host's driver interface over the library's exports: each method one export.
#include "host/instrument/bench_driver.h"

namespace dorvane::host {
namespace {

class ExportsDriver final : public BenchDriver {
 public:
  std::int32_t execute(const char* command) override { return spectrometer_execute(command); }
  std::int32_t open(std::int32_t id) override { return spectrometer_open(id); }
  std::int32_t initialize() override { return spectrometer_initialize(); }
  std::int32_t close() override { return spectrometer_close(); }
  std::int32_t getSetup(char* text) override { return ::getSetup(text, 0); }
  std::int32_t getRemoteDataList(char* text) override { return ::getRemoteDataList(text); }

  std::int32_t setCoaddCompleteEvent(dorvane_event_handle event) override {
    return spectrometer_setCoaddCompleteEventHandle(event);
  }
  std::int32_t setPoints(std::int32_t points) override { return spectrometer_setPoints(points); }
  std::int32_t getPoints() override { return spectrometer_getPoints(); }
  std::int32_t setScans(std::int32_t scans) override { return spectrometer_setScans(scans); }
  std::int32_t getScans() override { return spectrometer_getScans(); }
  std::int32_t setFiles(std::int32_t files) override { return spectrometer_setFiles(files); }
  std::int32_t getFiles() override { return spectrometer_getFiles(); }
  double setGain(double gain) override { return spectrometer_setGain(gain); }
  double getGain() override { return spectrometer_getGain(); }

  std::int32_t startCoadd() override { return spectrometer_startCoadd(); }
  std::int32_t stop() override { return spectrometer_stop(); }
  std::int32_t getStatus() override { return spectrometer_getStatus(); }
  std::int32_t getScanProgress() override { return spectrometer_getScanProgress(); }
  std::int32_t getFileProgress() override { return spectrometer_getFileProgress(); }
  std::int32_t getData(double* volts, std::int32_t points, double* timestamp) override {
    return spectrometer_getData(volts, points, timestamp);
  }
};

}  // namespace

BenchDriver& exportsDriver() {
  static ExportsDriver driver;
  return driver;
}

}  // namespace dorvane::host
