// The driver as the host calls it: one method per export the host uses, so that the acquisition and
// the commands run against the real library (exportsDriver) or against a stand-in that tests script.
#pragma once

#include <cstdint>

#include "dorvane.h"

namespace dorvane::host {

// Each method takes and returns what its export does (see dorvane.h); the host treats the results
// as the exports' own.
class BenchDriver {
 public:
  virtual ~BenchDriver() = default;

  virtual std::int32_t execute(const char* command) = 0;
  virtual std::int32_t open(std::int32_t id) = 0;
  virtual std::int32_t initialize() = 0;
  virtual std::int32_t close() = 0;
  virtual std::int32_t getSetup(char* text) = 0;  // DORVANE_SETUP_TEXT_SIZE bytes
  virtual std::int32_t getRemoteDataList(char* text) = 0;  // DORVANE_REMOTE_DATA_LIST_SIZE bytes

  virtual std::int32_t setCoaddCompleteEvent(dorvane_event_handle event) = 0;
  virtual std::int32_t setPoints(std::int32_t points) = 0;
  virtual std::int32_t getPoints() = 0;
  virtual std::int32_t setScans(std::int32_t scans) = 0;
  virtual std::int32_t getScans() = 0;
  virtual std::int32_t setFiles(std::int32_t files) = 0;
  virtual std::int32_t getFiles() = 0;
  virtual double setGain(double gain) = 0;
  virtual double getGain() = 0;

  virtual std::int32_t startCoadd() = 0;
  virtual std::int32_t stop() = 0;
  virtual std::int32_t getStatus() = 0;
  virtual std::int32_t getScanProgress() = 0;
  virtual std::int32_t getFileProgress() = 0;
  // Copies the newest co-add (`points` values at most) and its timestamp.
  virtual std::int32_t getData(double* volts, std::int32_t points, double* timestamp) = 0;
};

// The driver library's exports, the host's driver outside tests.
BenchDriver& exportsDriver();

}  // namespace dorvane::host
