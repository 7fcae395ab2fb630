// dorvane fetch: a block from the bench's memory, saved.
#include <chrono>
#include <cmath>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "dorvane.h"
#include "host/instrument/driver_words.h"
#include "host/instrument/session.h"
#include "host/cli/commands.h"
#include "host/os/host_failure.h"
#include "host/os/host_os.h"
#include "host/text/text.h"
#include "platform/event.h"
#include "platform/thread.h"

namespace dorvane::host::cli {
namespace {

// On a terminal, a line redrawn twice a second while the main thread waits in a driver call that
// says nothing until it returns.
class WaitingLine {
 public:
  explicit WaitingLine(std::function<std::string()> text) : text_(std::move(text)) {
    if (!stdoutIsTerminal()) return;
    started_ = worker_.start(
        [this] {
          while (!done_.wait(kRedrawMs)) std::cout << "\r\033[K" << text_() << std::flush;
          std::cout << "\r\033[K" << std::flush;
          return 0u;
        },
        platform::ThreadPriority::normal);
  }
  ~WaitingLine() {
    done_.set();
    if (started_) worker_.join();
  }
  WaitingLine(const WaitingLine&) = delete;
  WaitingLine& operator=(const WaitingLine&) = delete;

 private:
  static constexpr std::uint32_t kRedrawMs = 500;
  std::function<std::string()> text_;
  platform::Event done_;
  platform::Thread worker_;
  bool started_ = false;
};

// Saves the block as stored-block-<its time>.*: block numbers shift with every acquisition.
void fetchStoredBlock(const FetchArguments& arguments) {
  const CheckedSettings settings = loadSettings(arguments.iniPath);
  OutputFolder output(arguments.output.folder, !arguments.output.noPlot, arguments.output.existing());
  OpenBench bench(settings);
  const std::vector<std::string> dates = storedBlockDates();
  const std::int32_t index = arguments.index;
  if (index < 0 || static_cast<std::size_t>(index) >= dates.size()) {
    throw HostFailure("no stored block " + std::to_string(index) + ": the bench holds " + std::to_string(dates.size()) +
                      " (dorvane list shows them)");
  }
  const std::string setupText = bench.setupText();
  // The block's own size is known only once it is here: the bench's current points, in the widest
  // points, bound the wait.
  const std::int64_t setupPoints = setupValue(setupText, "dataPoints").value_or(0);
  const double mostSeconds = transferSeconds(setupPoints, 4, settings.baud);
  // Set before the line that announces the transfer: a Ctrl-C may follow the line at once.
  const auto started = std::chrono::steady_clock::now();
  setStopNotice([started, mostSeconds](int) -> std::string {
    const double spent = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::string line = "stopping after the current transfer: the driver cannot cut a block's transfer short";
    if (mostSeconds > spent) line += "; up to about " + std::to_string(std::lround(std::ceil(mostSeconds - spent))) + " s more";
    return line;
  });
  std::cout << "fetching stored block " << index << " (" << printableAscii(dates[static_cast<std::size_t>(index)]) << ") at "
            << settings.baud << " baud";
  if (mostSeconds > 0) std::cout << ": up to about " << std::lround(std::ceil(mostSeconds)) << " s";
  std::cout << std::endl;
  std::vector<double> values(DORVANE_MOST_BLOCK_POINTS);
  std::int32_t count = 0;
  std::int32_t result = 0;
  {
    const WaitingLine waiting([started, mostSeconds] {
      const double spent = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      return "transferring: " + std::to_string(std::lround(spent)) + " s" +
             (mostSeconds > 0 ? " of up to about " + std::to_string(std::lround(std::ceil(mostSeconds))) + " s" : "");
    });
    result = getRemoteData(index, values.data(), &count);
  }
  setStopNotice({});
  if (result != 0) throw HostFailure(callFailed("getRemoteData", result, result == 1 ? "the block could not be retrieved" : nullptr));
  if (count <= 0 || static_cast<std::size_t>(count) > values.size()) {
    throw HostFailure("getRemoteData reported " + std::to_string(count) + " points for block " + std::to_string(index));
  }
  InterferogramRecord record;
  record.title = "stored block " + std::to_string(index);
  record.volts.assign(values.begin(), values.begin() + count);
  record.benchDate = dates[static_cast<std::size_t>(index)];
  record.benchIdentity = bench.identity();
  record.setupText = setupText;
  record.scans = storedBlockScans(setupText);
  record.laserWavenumber = defaultLaserWavenumber();
  record.undersampling = undersamplingOf(settings.lasersamp);
  applyNotes(record, arguments.output.notes);
  const SavedFiles files = output.save(record, storedBlockStem(record.benchDate, index));
  std::cout << "saved " << record.title << " (" << count << " points, " << printableAscii(record.benchDate) << "): " << files.csv()
            << ", " << fileName(files.jcamp()) << (files.png().empty() ? "" : ", " + fileName(files.png())) << "\n";
}

}  // namespace

int runFetch(FetchArguments& arguments) {
  fetchStoredBlock(arguments);
  return afterBenchCalls(0);
}


}  // namespace dorvane::host::cli
