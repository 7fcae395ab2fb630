// One acquisition of a run of several (the demo's, a qualification's) as it goes: its file and
// pictures kept for the caller, and the live view told of each file as the run's own number.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/acquisition/acquire.h"
#include "host/live/live_run.h"

namespace dorvane::host::live {

// Each acquisition counts its files from 1: the run shows file k of this one as `offset` + k. With
// a null run (no --live) it only keeps what the acquisition saved. The acquisition's end is not
// the run's, which goes on with the next acquisition: the caller tells the run its end.
class NumberedObserver final : public AcquireObserver {
 public:
  NumberedObserver(LiveRun* run, std::int32_t offset) : run_(run), offset_(offset) {}

  // Read once the acquisition has returned.
  std::shared_ptr<const AcquiredFile> file;  // the newest saved
  std::vector<std::string> pictures;         // the newest file's
  std::vector<SeriesRow> rows;               // of a series, in the order saved

  void started(std::int32_t benchIdentity, std::int32_t files, std::int32_t scans,
               std::optional<double> fileSeconds) override;
  void scanning(std::int32_t own) override;
  void transferring(std::int32_t own) override;
  void waiting(std::int32_t own, double seconds) override;
  void saved(const std::shared_ptr<const AcquiredFile>& saved) override;
  void drawn(std::int32_t own, const std::vector<std::string>& drawn) override;
  void remark(const std::string& line) override;
  void notice(const std::string& line) override;
  void ended(const std::string& failure, bool stopped) override;

 private:
  LiveRun* run_;
  std::int32_t offset_;
};

}  // namespace dorvane::host::live
