// The run as the live view shows it: what the acquisition (or `dorvane view`) tells it, kept under
// a lock and pushed to the pages through the server as it changes. A file's data is read back from
// its saved file when a page asks for it, so the run holds only names however long it lasts.
//
// The JSON the pages get (numbers are plain JSON numbers; absent values are null):
//   state: {"mode": "acquire" | "view", "bench": "FT-IR bench (family 1, model 2)" | "",
//           "files": n (0: until Ctrl-C), "done": files saved, "scans": per file,
//           "phase": "starting" | "scanning" | "transferring" | "finished" | "failed" | "stopped" | "viewing",
//           "file": the number of the file under way or null,
//           "elapsed": seconds since the run began, at the moment of sending,
//           "fileSeconds": what a file is expected to take or null,
//           "remaining": the estimate of the rest in seconds or null (none for a run until Ctrl-C),
//           "error": "" or the last error in words, "folder": where the files go,
//           "spectrum": "single beam" | "absorbance" | "transmittance", "background": its file name or ""}
//   file:  {"number": k (1 for the first), "name": "run-001", "time": "2026-12-07 10:53:26 UTC",
//           "saved": ["run-001.csv", "run-001.jdx", "run-001.png", ...]}
//   /run.json and the event "run": {"state": state, "files": [file, ...]}
//   events "state" (state) and "file" (file) as they change
//   /files/K.json: {"number": k, "name": ..., "points": all of the interferogram's points,
//           "interferogram": {"x": [point index...], "y": [volts...]} (at most 4096 points: a min/max
//                            pair for each stretch when there are more),
//           "zoom": {"x": [...], "y": [...]} (every point within 256 of the centre burst),
//           "spectrum": {"kind": "single beam" | ..., "x": [cm-1...], "y": [...]} (at most 4096 points)
//                       or null, "spectrumError": "" or why there is none}
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/mutex.h"
#include "tools/live/live_server.h"
#include "tools/spectrum.h"

namespace dorvane::host::live {

class LiveRun : public LiveContent {
 public:
  enum class Mode { Acquire, View };
  // `processing` and `background` make the spectra the pages show, as acquire --spectrum does.
  LiveRun(Mode mode, const std::string& folder, const ProcessingOptions& processing,
          std::optional<InterferogramRecord> background, const std::string& backgroundName);

  // The server to publish each change to; none: changes are only kept.
  void attach(LiveServer* server);

  void started(std::int32_t benchIdentity, std::int32_t files, std::int32_t scans, std::optional<double> fileSeconds);
  void transferring(std::int32_t number);
  // A file saved whole: its interferogram at `interferogramPath` (read back when a page asks),
  // and the names of every file of its set (and its spectrum's).
  void saved(std::int32_t number, const std::string& name, const std::string& time, const std::string& interferogramPath,
             const std::vector<std::string>& savedNames);
  // A problem that does not end the run (a file that could not be retrieved).
  void notice(const std::string& line);
  // The end: `failure` empty when every file was saved; `stopped` for a stop the user asked for.
  void ended(const std::string& failure, bool stopped);

  std::string runJson() override;
  std::optional<std::string> fileJson(std::int32_t number) override;

 private:
  struct File {
    std::int32_t number;
    std::string name, time, path;
    std::vector<std::string> saved;
  };
  std::string stateJsonLocked() const;
  static std::string fileEntryJson(const File& file);
  void publish(const char* event, const std::string& json);

  Mode mode_;
  std::string folder_;
  ProcessingOptions processing_;
  std::optional<InterferogramRecord> background_;
  std::string backgroundName_;

  mutable platform::Mutex lock_;
  LiveServer* server_ = nullptr;
  std::string bench_;
  std::int32_t files_ = 0, scans_ = 0;
  std::optional<double> fileSeconds_;
  std::string phase_;
  std::optional<std::int32_t> underWay_;
  std::string error_;
  double startedAt_ = 0;  // seconds on the steady clock
  double underWaySince_ = 0;
  std::vector<File> saved_;
  // The newest files' data as sent, so that every page asking for the newest file gets it at once.
  std::deque<std::pair<std::int32_t, std::string>> cache_;
};

}  // namespace dorvane::host::live
