// An acquisition's course forwarded to the run it is part of, its files renumbered as the run's.
#include "host/live/numbered_observer.h"

namespace dorvane::host::live {

void NumberedObserver::started(std::int32_t benchIdentity, std::int32_t files, std::int32_t scans,
                               std::optional<double> fileSeconds) {
  if (run_) run_->started(benchIdentity, files, scans, fileSeconds);
}

void NumberedObserver::scanning(std::int32_t own) {
  if (run_) run_->scanning(offset_ + own);
}

void NumberedObserver::transferring(std::int32_t own) {
  if (run_) run_->transferring(offset_ + own);
}

void NumberedObserver::waiting(std::int32_t own, double seconds) {
  if (run_) run_->waiting(offset_ + own, seconds);
}

void NumberedObserver::saved(const std::shared_ptr<const AcquiredFile>& saved) {
  file = saved;
  if (saved->row) rows.push_back(*saved->row);
  if (run_) run_->show(offset_ + saved->number, *saved);
}

void NumberedObserver::drawn(std::int32_t own, const std::vector<std::string>& drawn) {
  pictures = drawn;
  if (run_) run_->drawn(offset_ + own, drawn);
}

void NumberedObserver::remark(const std::string& line) {
  if (run_) run_->remark(line);
}

void NumberedObserver::notice(const std::string& line) {
  if (run_) run_->notice(line);
}

// The run goes on after this acquisition: its end is the caller's to tell.
void NumberedObserver::ended(const std::string&, bool) {}

}  // namespace dorvane::host::live
