// dorvane qualify: the bench's performance qualification on the command line, and on the live view
// with --live.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "host/cli/commands.h"
#include "host/live/live_view.h"
#include "host/live/numbered_observer.h"
#include "host/live/live_run.h"
#include "host/qualification/figures.h"
#include "host/qualification/qualification_settings.h"
#include "host/qualification/qualify.h"
#include "host/files/whole_file.h"
#include "host/os/file_system.h"
#include "host/os/host_failure.h"
#include "host/text/text.h"

namespace dorvane::host::cli {

ProcessingOptions qualificationView() {
  ProcessingOptions processing = qualification::qualificationProcessing();
  processing.range = demoProcessing().range;  // where a bench's light and the film's bands are
  return processing;
}

LiveQualification::LiveQualification(live::LiveRun& run, std::int32_t before) : run_(run), before_(before) {}
LiveQualification::~LiveQualification() = default;

AcquireObserver* LiveQualification::acquisition(std::int32_t offset) {
  observers_.push_back(std::make_unique<live::NumberedObserver>(&run_, before_ + offset));
  return observers_.back().get();
}
void LiveQualification::files(std::int32_t count) { run_.expectFiles(before_ + count); }
void LiveQualification::step(const std::string& step) { run_.qualifying(step); }
void LiveQualification::background(const InterferogramRecord& record, const std::string& path) { run_.setBackground(record, path); }
void LiveQualification::verdict(const std::string& test, bool passed, const std::string& detail) {
  run_.verdict(test, passed, detail);
}
void LiveQualification::qualified(bool passed, const std::string& report) { run_.qualified(passed, report); }

int runQualify(QualifyArguments& arguments) {
  if (!arguments.writeSettings.empty()) {
    const std::string text = qualification::settingsText(qualification::defaultSettings());
    const FileSetMember member{arguments.writeSettings, [&text](TemporaryFile& file) { return file.write(text); }};
    if (const std::string failure = writeFileSet({member}, Existing::Keep); !failure.empty()) {
      // The set's own reason points to --overwrite, which this command has not: a lab's edited
      // settings are never replaced.
      if (failure == cannotWrite(arguments.writeSettings, kFileExists)) {
        throw HostFailure(cannotWrite(arguments.writeSettings, "the file exists: give --write-settings a new file's name"), kExitUsage);
      }
      throw HostFailure(failure, kExitUsage);
    }
    std::cout << "the qualification's settings with their defaults: " << shownPath(arguments.writeSettings) << std::endl;
    return 0;
  }
  qualification::QualifyOptions& options = arguments.qualify;
  live::LiveSession live(arguments.live, options.folder, qualificationView());
  std::optional<LiveQualification> observer;
  if (live::LiveRun* run = live.run()) options.observer = &observer.emplace(*run, 0);
  int verdict = qualification::kCouldNotQualify;
  const int status = live.perform([&] { verdict = qualification::qualify(options); });
  if (status != 0) return status;
  return live.run() ? verdict : afterBenchCalls(verdict);
}

}  // namespace dorvane::host::cli
