// The scripted driver of the host's tests.
#include "tests/host/fake_driver.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstring>

namespace dorvane::testing {

void FakeDriver::fail(DriverCall call, int occurrence, std::int32_t result) {
  std::lock_guard hold(lock_);
  failures_[{call, occurrence}] = result;
}

void FakeDriver::stopAt(DriverCall call, int occurrence) {
  std::lock_guard hold(lock_);
  stops_[{call, occurrence}] = true;
}

void FakeDriver::release() {
  std::lock_guard hold(lock_);
  if (!held_) return;
  held_ = false;
  complete(1, made_ + 1);
}

int FakeDriver::calls(DriverCall call) const {
  std::lock_guard hold(lock_);
  const auto found = calls_.find(call);
  return found == calls_.end() ? 0 : found->second;
}

bool FakeDriver::open() const {
  std::lock_guard hold(lock_);
  return status_ != DORVANE_STATUS_NEVER_OPENED;
}

std::vector<double> FakeDriver::voltsOf(std::int32_t number) const {
  std::vector<double> volts(static_cast<std::size_t>(points_));
  for (std::size_t i = 0; i < volts.size(); ++i) volts[i] = std::cos(0.3 * static_cast<double>(i)) * (1 + 0.01 * number);
  return volts;
}

bool FakeDriver::scripted(DriverCall call, std::int32_t& result) {
  const int occurrence = ++calls_[call];
  // As the user's Ctrl-C: the host's handler counts it at once, in this thread.
  if (stops_.count({call, occurrence}) != 0) std::raise(SIGINT);
  const auto failure = failures_.find({call, occurrence});
  if (failure == failures_.end()) return false;
  result = failure->second;
  return true;
}

void FakeDriver::signal() const {
  const std::uint64_t one = 1;
  if (event_ != nullptr) {
    [[maybe_unused]] const ssize_t written = ::write(static_cast<int>(reinterpret_cast<std::intptr_t>(event_)), &one, sizeof one);
  }
}

void FakeDriver::complete(std::int32_t counted, std::int32_t dataOf) {
  made_ += counted;
  progress_ += counted;
  dataOf_ = dataOf;
  // After its last file the driver's thread ends.
  if (files_ > 0 && progress_ >= files_) status_ = DORVANE_STATUS_IDLE;
  signal();
}

void FakeDriver::nextFile() {
  const std::size_t index = static_cast<std::size_t>(made_);
  const FileComes comes = index < script_.size() ? script_[index] : FileComes::Arrives;
  switch (comes) {
    case FileComes::Arrives: complete(1, made_ + 1); break;
    case FileComes::Held: held_ = true; break;
    case FileComes::WithTheNext: complete(2, made_ + 2); break;
    case FileComes::Unretrievable: complete(1, dataOf_); break;
    case FileComes::FetchFails:
      fetchFails_ = true;
      complete(1, dataOf_);
      break;
    case FileComes::BlockFails: status_ = DORVANE_STATUS_IDLE; break;
  }
}

std::int32_t FakeDriver::execute(const char*) { return kIdentity; }

std::int32_t FakeDriver::open(std::int32_t) {
  std::lock_guard hold(lock_);
  std::int32_t result = 0;
  if (scripted(DriverCall::Open, result)) return result;
  status_ = DORVANE_STATUS_IDLE;
  return 0;
}

std::int32_t FakeDriver::initialize() {
  std::lock_guard hold(lock_);
  std::int32_t result = 0;
  if (scripted(DriverCall::Initialize, result)) return result;
  return status_ == DORVANE_STATUS_NEVER_OPENED ? 1 : 0;
}

std::int32_t FakeDriver::close() {
  std::lock_guard hold(lock_);
  std::int32_t result = 0;
  if (scripted(DriverCall::Close, result)) return result;
  status_ = DORVANE_STATUS_NEVER_OPENED;
  held_ = false;
  return 0;
}

std::int32_t FakeDriver::getSetup(char* text) {
  std::strcpy(text, "scanTime=0\r\n");
  return 0;
}

std::int32_t FakeDriver::getRemoteDataList(char* text) {
  text[0] = '\0';
  return 0;
}

std::int32_t FakeDriver::setCoaddCompleteEvent(dorvane_event_handle event) {
  std::lock_guard hold(lock_);
  event_ = event;
  return 0;
}

std::int32_t FakeDriver::setPoints(std::int32_t points) {
  std::lock_guard hold(lock_);
  points_ = points;
  return 0;
}

std::int32_t FakeDriver::getPoints() {
  std::lock_guard hold(lock_);
  return points_;
}

std::int32_t FakeDriver::setScans(std::int32_t scans) {
  std::lock_guard hold(lock_);
  scans_ = scans;
  return 0;
}

std::int32_t FakeDriver::getScans() {
  std::lock_guard hold(lock_);
  return scans_;
}

std::int32_t FakeDriver::setFiles(std::int32_t files) {
  std::lock_guard hold(lock_);
  files_ = files;
  return 0;
}

std::int32_t FakeDriver::getFiles() {
  std::lock_guard hold(lock_);
  return files_;
}

double FakeDriver::setGain(double gain) {
  std::lock_guard hold(lock_);
  gain_ = gain;
  return gain_;
}

double FakeDriver::getGain() {
  std::lock_guard hold(lock_);
  return gain_;
}

std::int32_t FakeDriver::startCoadd() {
  std::lock_guard hold(lock_);
  std::int32_t result = 0;
  if (scripted(DriverCall::StartCoadd, result)) return result;
  if (refuseStarts_) {
    status_ = DORVANE_STATUS_ACQUIRING;
    return 1;
  }
  status_ = DORVANE_STATUS_ACQUIRING;
  progress_ = 0;
  nextFile();
  return 0;
}

std::int32_t FakeDriver::stop() {
  std::lock_guard hold(lock_);
  std::int32_t result = 0;
  if (scripted(DriverCall::Stop, result)) return result;
  if (status_ == DORVANE_STATUS_ACQUIRING) status_ = DORVANE_STATUS_IDLE;
  held_ = false;
  return 0;
}

std::int32_t FakeDriver::getStatus() {
  std::lock_guard hold(lock_);
  std::int32_t result = 0;
  if (scripted(DriverCall::GetStatus, result)) return result;
  return status_;
}

std::int32_t FakeDriver::getScanProgress() {
  std::lock_guard hold(lock_);
  std::int32_t result = 0;
  if (scripted(DriverCall::GetScanProgress, result)) return result;
  return held_ ? scans_ : 0;
}

std::int32_t FakeDriver::getFileProgress() {
  std::lock_guard hold(lock_);
  std::int32_t result = 0;
  if (scripted(DriverCall::GetFileProgress, result)) return result;
  return progress_;
}

std::int32_t FakeDriver::getData(double* volts, std::int32_t points, double* timestamp) {
  std::lock_guard hold(lock_);
  std::int32_t result = 0;
  const bool failing = scripted(DriverCall::GetData, result) || fetchFails_ || dataOf_ == 0 || points < points_;
  if (failing) {
    fetchFails_ = false;
    std::fill(volts, volts + points, 0.0);
    return result != 0 ? result : 1;
  }
  const std::vector<double> data = voltsOf(dataOf_);
  std::copy(data.begin(), data.end(), volts);
  *timestamp = 1000.0 * dataOf_;
  // The host has what it was signalled for: the driver's thread goes on to the next file.
  if (status_ == DORVANE_STATUS_ACQUIRING && !held_) nextFile();
  return 0;
}

}  // namespace dorvane::testing
