// A driver for the host's tests: no bench and no port. Each file of the run comes as its script
// says, and the co-add event is signalled inline, between the host's calls, as the driver's own
// thread would signal it; any call can fail with a chosen result or bring a stop request (Ctrl-C).
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "host/instrument/bench_driver.h"

namespace dorvane::testing {

enum class DriverCall { Open, Initialize, Close, StartCoadd, Stop, GetStatus, GetScanProgress, GetFileProgress, GetData };

// How a file of the run comes (the files past the script arrive).
enum class FileComes {
  Arrives,        // complete, its co-add fetched
  Held,           // scanned and on the line until release(); never, for a bench gone silent
  WithTheNext,    // replaced by the next before it was fetched: the file count jumps by two
  Unretrievable,  // counted, but its retrieval failed: getData hands the previous co-add again
  FetchFails,     // counted, and getData fails
  BlockFails,     // never counted: the bench reports the block failed and the status leaves acquiring
};

class FakeDriver final : public host::BenchDriver {
 public:
  static constexpr std::int32_t kIdentity = 7;

  explicit FakeDriver(std::vector<FileComes> script = {}) : script_(std::move(script)) {}

  // The `occurrence`th call (1 for the first) does nothing and returns `result`.
  void fail(DriverCall call, int occurrence, std::int32_t result);
  // A stop request, as Ctrl-C makes it, as the `occurrence`th call begins (catchStopRequests first).
  void stopAt(DriverCall call, int occurrence);
  // Every start is refused as the driver refuses one while its previous acquisition still runs.
  void refuseStarts() { refuseStarts_ = true; }
  // The held file arrives now.
  void release();
  int calls(DriverCall call) const;
  bool open() const;
  // The co-add the fake hands over for file `number` of the run (read once the run is over).
  std::vector<double> voltsOf(std::int32_t number) const;

  std::int32_t execute(const char* command) override;
  std::int32_t open(std::int32_t id) override;
  std::int32_t initialize() override;
  std::int32_t close() override;
  std::int32_t getSetup(char* text) override;
  std::int32_t getRemoteDataList(char* text) override;
  std::int32_t setCoaddCompleteEvent(dorvane_event_handle event) override;
  std::int32_t setPoints(std::int32_t points) override;
  std::int32_t getPoints() override;
  std::int32_t setScans(std::int32_t scans) override;
  std::int32_t getScans() override;
  std::int32_t setFiles(std::int32_t files) override;
  std::int32_t getFiles() override;
  double setGain(double gain) override;
  double getGain() override;
  std::int32_t startCoadd() override;
  std::int32_t stop() override;
  std::int32_t getStatus() override;
  std::int32_t getScanProgress() override;
  std::int32_t getFileProgress() override;
  std::int32_t getData(double* volts, std::int32_t points, double* timestamp) override;

 private:
  // Counts the call, makes its stop request; true (and `result`) when the call is to fail.
  bool scripted(DriverCall call, std::int32_t& result);
  // The driver's thread finishing the next file of the script.
  void nextFile();
  void complete(std::int32_t counted, std::int32_t dataOf);
  void signal() const;

  mutable std::mutex lock_;
  std::vector<FileComes> script_;
  std::map<std::pair<DriverCall, int>, std::int32_t> failures_;
  std::map<std::pair<DriverCall, int>, bool> stops_;
  std::map<DriverCall, int> calls_;
  bool refuseStarts_ = false;
  dorvane_event_handle event_ = nullptr;
  std::int32_t points_ = 0, scans_ = 1, files_ = 1;
  double gain_ = 1;
  std::int32_t status_ = DORVANE_STATUS_NEVER_OPENED;
  std::int32_t made_ = 0;      // files of the run the script has dealt with
  std::int32_t progress_ = 0;  // files of the current acquisition counted
  bool held_ = false;
  bool fetchFails_ = false;
  std::int32_t dataOf_ = 0;  // the run's file whose co-add getData hands over; 0: none yet
};

}  // namespace dorvane::testing
