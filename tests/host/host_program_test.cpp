// dorvane, the command-line host, run as a user runs it: a separate program on the shared libraries,
// against the virtual instrument over a pseudo-terminal (or, for the demo, its own virtual bench).
#include <signal.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <set>
#include <sstream>
#include <tuple>
#include <utility>

#include <nlohmann/json.hpp>

#include "bench/retrieval.h"
#include "host/files/file_digest.h"
#include "platform/clock.h"
#include "runtime/log_file.h"
#include "sim/instrument.h"
#include "sim/instrument_data.h"
#include "sim/pseudo_terminal.h"
#include "sim/source_light.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"
#include "tests/host/saved_files.h"

namespace dorvane::testing {
namespace {

using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;
namespace fs = std::filesystem;

// A bound on a wait for a line from a program, for a broken program only: a pass never nears it.
constexpr int kPatienceMs = 60000;

// The demo's bench and the instrument here: family 9, a 10 V converter.
constexpr std::int32_t kFamily = 9;
constexpr std::uint8_t kAdcVolts = 10;

// The driver's conversion of the counts the bench sends, done here on the counts themselves.
std::vector<double> converted(const std::vector<std::uint32_t>& counts, std::uint16_t scans) {
  std::vector<std::uint8_t> bytes;
  sim::packPoints(counts, 4, bytes);
  runtime::LogFile silentLog(platform::systemClock(), [] { return std::string(); });
  bench::convertData(silentLog, kFamily, bytes.data(), static_cast<std::int32_t>(counts.size()), 4, scans, kAdcVolts);
  std::vector<double> volts(counts.size());
  for (std::size_t i = 0; i < counts.size(); ++i) {
    float value;
    std::memcpy(&value, bytes.data() + i * 4, sizeof value);
    volts[i] = value;
  }
  return volts;
}

// Exactly one line, ending in a newline.
bool isOneLine(const std::string& text) { return !text.empty() && text.find('\n') == text.size() - 1; }

// Files a crash or a cut write could have left: temporaries are hidden and never renamed.
std::vector<std::string> leftovers(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.front() == '.' || name.find("tmp") != std::string::npos) names.push_back(name);
  }
  return names;
}

class HostOnBench : public ::testing::Test {
 protected:
  void startBench(sim::InstrumentOptions options = {}, sim::BenchLinkOptions link = {}) {
    instrument = std::make_unique<sim::Instrument>(pty.masterFd(), options, link);
    instrument->start();
  }

  std::unique_ptr<ChildProcess> run(std::vector<std::string> arguments, const std::string& ini = "") {
    if (arguments.size() > 0 && arguments[0] != "demo" && arguments[0] != "plot" && arguments[0] != "series") {
      arguments.insert(arguments.begin() + 1, {"--ini", ini.empty() ? settings() : ini});
    }
    return std::make_unique<ChildProcess>(DORVANE_HOST, arguments,
                                          std::vector<std::string>{"DORVANE_COM49=" + pty.slavePath()});
  }

  std::string settings() const {
    return scratch.write("bench.ini", "[Settings]\nport=49\nbaud=38400\nfvel=4\nrvel=4\npoints=4096\nlasersamp=2\n");
  }

  // The bench's block converted as the driver converts it; blocks are listed newest first.
  std::vector<double> benchVolts(std::size_t newestFirst) const {
    const sim::BlockInfo block = instrument->blocks().at(newestFirst);
    return converted(instrument->blockCounts(block.stamp), block.scans);
  }

  fs::path out() const { return scratch.path() / "out"; }

  ScratchDirectory scratch;
  sim::PseudoTerminal pty;
  std::unique_ptr<sim::Instrument> instrument;
};

// "# name: value" from a saved file's comment lines; empty when it has none.
std::string commentValue(const fs::path& file, const std::string& name) {
  std::ifstream in(file);
  for (std::string line; std::getline(in, line) && line.starts_with("#");) {
    if (line.starts_with("# " + name + ": ")) return line.substr(name.size() + 4);
  }
  return {};
}

// Data first, pictures when they can: the pictures of `stems` that are drawn, and the line that
// counts them when some were passed over.
int expectPicturesCounted(const std::string& output, const std::vector<fs::path>& stems) {
  int drawn = 0;
  for (const fs::path& stem : stems) drawn += isPng(stem.string() + ".png") ? 1 : 0;
  if (drawn < static_cast<int>(stems.size())) {
    EXPECT_THAT(output, HasSubstr("pictures drawn for " + std::to_string(drawn) + " of " + std::to_string(stems.size()) +
                                  " files (the others were overtaken by newer files or failed); draw the rest with: "
                                  "dorvane plot "));
  }
  return drawn;
}

TEST_F(HostOnBench, AcquireSavesEveryFileWithTheBenchsValuesInEachFormat) {
  startBench();
  // On a schedule shorter than a file takes, with a band tracked.
  auto host = run({"acquire", "--files", "3", "--scans", "4", "--out", out().string(), "--prefix", "run", "--spectrum",
                   "--sample", "polystyrene film", "--operator", "A. Lab", "--comment", "dry air", "--every", "0.001",
                   "--track", "band=1000:2000"});
  ASSERT_EQ(host->wait(), 0) << host->errors();
  EXPECT_THAT(host->output(), AllOf(HasSubstr("acquiring 3 files of 4 scans, one every 0.001 s,"), HasSubstr("3 files saved"),
                                    HasSubstr("the schedule slipped: file 2 starts"),
                                    HasSubstr("the schedule slipped: file 3 starts")));
  // The rows written as the files came are those `dorvane series` makes of the saved files.
  const fs::path again = scratch.path() / "again.csv";
  auto series = run({"series", out().string(), "--track", "band=1000:2000", "--out", again.string()});
  ASSERT_EQ(series->wait(), 0) << series->errors();
  const std::string table = readWholeFile(out() / "run-series.csv");
  EXPECT_EQ(readWholeFile(again), table);
  EXPECT_THAT(table, ContainsRegex("\nseconds,file,band area,band height,band position\n0\\.000,run-001,[0-9.e+-]+,"
                                   "[0-9.e+-]+,1[0-9]{3}\\.[0-9]{3}\n[0-9]+\\.[0-9]{3},run-002,.*\n.*,run-003,.*\n$"));
  ASSERT_EQ(instrument->blocks().size(), 3u);
  std::vector<fs::path> stems;
  std::vector<std::string> plot{"plot"};
  for (int file = 1; file <= 3; ++file) {
    const fs::path stem = out() / ("run-00" + std::to_string(file));
    stems.push_back(stem);
    plot.insert(plot.end(), {stem.string() + ".jdx", stem.string() + "-single-beam.jdx"});
    const std::vector<double> expected = benchVolts(static_cast<std::size_t>(3 - file));
    ASSERT_EQ(expected.size(), 4096u + 64u);
    EXPECT_EQ(csvValues(stem.string() + ".csv"), expected) << "file " << file;
    EXPECT_EQ(jcampValues(stem.string() + ".jdx"), expected) << "file " << file;
    // The settings' lasersamp=2, and the spectrum beside: points 0 to the folding limit 7899 cm-1.
    EXPECT_THAT(commentValue(stem.string() + ".csv", "undersampling"), StartsWith("2 "));
    EXPECT_EQ(commentValue(stem.string() + ".csv", "sample"), "polystyrene film");
    EXPECT_EQ(commentValue(stem.string() + ".csv", "operator"), "A. Lab");
    EXPECT_EQ(commentValue(stem.string() + ".csv", "comment"), "dry air");
    const CsvSpectrum spectrum = csvSpectrum(stem.string() + "-single-beam.csv");
    ASSERT_FALSE(spectrum.wavenumbers.empty()) << "file " << file;
    EXPECT_EQ(spectrum.wavenumbers.back(), 7899.0);
  }
  EXPECT_THAT(host->output(), HasSubstr("; single beam: " + (out() / "run-003-single-beam.csv").string()));
  // The bench sends files faster than gnuplot draws: the newest file's pictures are drawn, and
  // `dorvane plot` draws those passed over, keeping those there, and the series table's trend.
  EXPECT_TRUE(isPng(stems.back().string() + ".png"));
  const int drawn = expectPicturesCounted(host->output(), stems);
  plot.push_back((out() / "run-series.csv").string());
  auto plotter = run(plot);
  ASSERT_EQ(plotter->wait(), 0) << plotter->errors();
  EXPECT_THAT(plotter->output(), HasSubstr(std::to_string(2 * (3 - drawn) + 1) + " picture"));
  EXPECT_TRUE(isPng((out() / "run-series-band.png").string()));
  for (const fs::path& stem : stems) {
    EXPECT_TRUE(isPng(stem.string() + ".png")) << stem;
    EXPECT_TRUE(isPng(stem.string() + "-single-beam.png")) << stem;
  }
  EXPECT_THAT(leftovers(out()), ::testing::IsEmpty());
}


// A stop while the bench scans, as a terminal sends Ctrl-C (to the whole job, gnuplot too) or as a
// service manager asks for an end: every file fetched is kept whole with its plot, the port let go.
class HostStop : public HostOnBench {
 protected:
  void stop(const std::string& waitFor, int signal, int status, const std::string& cause, bool unpaced = false) {
    sim::InstrumentOptions slow;
    if (!unpaced) slow.perScan = std::chrono::milliseconds(150);
    startBench(slow);
    auto host = run({"acquire", "--files", "0", "--scans", "2", "--out", out().string(), "--prefix", "run"});
    ASSERT_TRUE(host->readUntilLineWith(waitFor, kPatienceMs)) << host->output() << host->errors();
    host->sendToGroup(signal);
    EXPECT_EQ(host->wait(), status);
    EXPECT_TRUE(host->exitedNormally()) << "the signal must be caught, not end the program";
    const std::string errors = host->errors();
    EXPECT_THAT(errors, StartsWith("dorvane: stopping…\n")) << "said at once";
    const std::string last = errors.substr(errors.find('\n') + 1);
    EXPECT_TRUE(isOneLine(last)) << errors;
    EXPECT_THAT(last, ContainsRegex("^dorvane: stopped after ([1-9][0-9]* files? \\(" + cause + "\\), saved in .*|0 files \\(" +
                                    cause + "\\)); the port is closed"));
    // Every file there is whole, its pictures drawn or counted; none is half-written, and the line
    // counts them all. The folder comes with the first file: a stop before it leaves none.
    std::vector<fs::path> stems;
    if (!fs::exists(out())) fs::create_directory(out());
    for (const auto& entry : fs::directory_iterator(out())) {
      if (entry.path().extension() != ".csv") continue;
      fs::path file = entry.path();
      stems.push_back(fs::path(file).replace_extension());
      EXPECT_EQ(csvValues(file.string()).size(), 4096u + 64u) << file;
      EXPECT_EQ(jcampValues(file.replace_extension(".jdx").string()).size(), 4096u + 64u);
    }
    expectPicturesCounted(host->output(), stems);
    EXPECT_THAT(last, HasSubstr("stopped after " + std::to_string(stems.size()) + " file"));
    EXPECT_THAT(leftovers(out()), ::testing::IsEmpty());
    auto next = run({"info"});
    EXPECT_EQ(next->wait(), 0) << next->errors();
  }
};

// A stored block's transfer cannot be cut short: Ctrl-C says so at once, and the block still arrives.
TEST_F(HostStop, CtrlCDuringAFetchSaysAtOnceThatTheTransferEndsFirst) {
  // 4160 points of 2 bytes take about 9 s on the line: the Ctrl-C that follows the line that the
  // fetch has begun lands inside the transfer however slow the machine is.
  sim::BenchLinkOptions paced;
  paced.baud = 9600;
  startBench({}, paced);
  ASSERT_EQ(run({"acquire", "--files", "1", "--scans", "1", "--out", out().string(), "--no-plot"})->wait(), 0);
  auto fetch = run({"fetch", "0", "--out", out().string(), "--no-plot"});
  ASSERT_TRUE(fetch->readUntilLineWith("fetching stored block 0", kPatienceMs)) << fetch->errors();
  fetch->sendToGroup(SIGINT);
  EXPECT_EQ(fetch->wait(), 130);
  EXPECT_THAT(fetch->errors(), ContainsRegex("^dorvane: stopping after the current transfer: the driver cannot cut a "
                                             "block's transfer short; up to about [0-9]+ s more\ndorvane: stopped by "
                                             "Ctrl-C; the port is closed\n$"));
  EXPECT_THAT(fetch->output(), HasSubstr("saved stored block 0 (4160 points"));
}

TEST_F(HostStop, CtrlCBeforeTheFirstFileEndsAtOnce) { stop("acquiring", SIGINT, 130, "Ctrl-C"); }
TEST_F(HostStop, CtrlCAfterTwoFilesKeepsEveryFileFetched) { stop("saved file 2", SIGINT, 130, "Ctrl-C"); }
// An unpaced bench outruns gnuplot: the data of every file is saved as it comes, and the stop waits
// only for the picture being drawn.
TEST_F(HostStop, CtrlCAfterManyFilesOfAnUnpacedBenchKeepsTheirDataAndCountsThePictures) {
  stop("saved file 40", SIGINT, 130, "Ctrl-C", true);
}
TEST_F(HostStop, ATerminationRequestIsNotTakenForCtrlC) {
  stop("saved file 1", SIGTERM, 128 + SIGTERM, "a termination request \\(SIGTERM\\)");
}

TEST_F(HostOnBench, BadInputEndsWithOneClearLineAndANonzeroStatus) {
  startBench();
  struct Case {
    std::vector<std::string> arguments;
    std::string ini;
    int status;
    std::string says;
  };
  const std::string noPort = scratch.write("noport.ini", "[Settings]\nbaud=38400\n");
  const auto settingsWith = [this](const std::string& name, const std::string& line) {
    return scratch.write(name, "[Settings]\nport=49\nbaud=38400\n" + line + "\n");
  };
  scratch.write("plain-file", "x");
  const fs::path foreign = scratch.path() / "foreign";
  fs::create_directories(foreign);
  std::ofstream(foreign / "notes.csv") << "a,b\n1,2\n";
  const std::vector<Case> cases = {
      {{"acquire", "--bogus"}, "", 2, "--bogus"},
      {{"acquire", "--files", "-1"}, "", 2, "--files -1 is out of range: give a whole number from 0 (until stopped) to 2147483647\n"},
      {{"acquire", "--every", "abc"}, "", 2, "--every abc is not a number: give a number of seconds above 0 and at most 86400 (a day)\n"},
      {{"acquire", "--scans", "65536"}, "", 2, "--scans 65536 is out of range: give a whole number from 1 to 65535\n"},
      {{"acquire", "--timeout", "1.5"}, "", 2, "--timeout 1.5 is not a whole number: give a whole number of seconds from 1 to 86400 (a day)\n"},
      {{"acquire", "--zero-fill", "3"}, "", 2, "--zero-fill 3 is not allowed: give 1, 2, 4 or 8\n"},
      {{"fetch", "255"}, "", 2, "INDEX 255 is out of range: give a whole number from 0 (the newest) to 254 (the bench lists at most 255 blocks)\n"},
      {{"demo", "--series", "--fill-time", "0"}, "", 2, "--fill-time 0 is out of range: give a number of seconds above 0 and at most 3600 (the virtual bench's bound)\n"},
      {{"fetch"}, "", 2, "INDEX"},
      {{"info"}, (scratch.path() / "missing.ini").string(), 1, "cannot read the settings file"},
      {{"info"}, noPort, 1, "noport.ini: no port= in [Settings]; the driver would take 0: give the serial port, numbered from 1, 1 to 256"},
      {{"info"}, settingsWith("negative.ini", "points=-5"), 1, "negative.ini line 4: points=-5 is out of range: points per scan, 1 to 65471 (the bench adds 64"},
      {{"info"}, settingsWith("letters.ini", "points=abc"), 1, "letters.ini line 4: points=abc is not a whole number"},
      {{"info"}, settingsWith("huge.ini", "gain=1e40"), 1, "huge.ini line 4: gain=1e40 is not a whole number: the gain code, 0 to 3"},
      {{"info"}, scratch.write("nobaud.ini", "[Settings]\nport=49\n"), 1, "no baud= in [Settings]; the driver would take 0: give the line's baud rate, one of 1200"},
      {{"acquire", "--points", "65536"}, "", 2, "--points 65536 is out of range: give a whole number from 1 to 65471 (the bench adds 64 points and the driver holds at most 65535)\n"},
      {{"acquire", "--out", (scratch.path() / "plain-file" / "sub").string()}, "", 1, "output folder"},
      {{"fetch", "7"}, "", 1, "no stored block 7"},
      {{"acquire", "--track", "CO2=2450:2250"}, "", 2, "--track CO2=2450:2250: give the range as LO:HI in cm-1"},
      {{"acquire", "--track", "C,O=1:2"}, "", 2, "the NAME heads the series table's columns"},
      {{"acquire", "--track", "CO2=2250:9000"}, "", 2, "--track CO2=2250:9000 lies outside the spectra's axis, 0 to 7899 cm-1"},
      {{"series", foreign.string(), "--track", "CO2=2250:2450"}, "", 1, "notes.csv: not a file of dorvane's"},
  };
  for (const Case& c : cases) {
    auto host = run(c.arguments, c.ini);
    EXPECT_EQ(host->wait(), c.status) << c.arguments[0] << " " << c.says;
    const std::string errors = host->errors();
    EXPECT_TRUE(isOneLine(errors)) << errors;
    EXPECT_THAT(errors, AllOf(StartsWith("dorvane: "), HasSubstr(c.says)));
  }
  // A device that is not there, or no serial port: the line names the device, the port's numbers
  // and what to do, and nothing is made before the bench answers.
  const std::vector<std::pair<std::string, std::string>> devices = {
      {"/dev/dorvane-no-such-port", "spectrometer_open returned -1: /dev/dorvane-no-such-port does not exist (port=49 in "
                                    "the settings, port 48 in the driver's log; on Linux DORVANE_COM49 names its device, "
                                    "/dev/ttyS48 without it)"},
      {scratch.path().string(), "returned -27: " + scratch.path().string() + " is not a serial port"},
      {(scratch.path() / "plain-file").string(), "returned -27: " + (scratch.path() / "plain-file").string() + " is not a serial port"},
  };
  const fs::path unmade = scratch.path() / "unmade" / "out";
  for (const auto& [device, says] : devices) {
    ChildProcess host(DORVANE_HOST, {"acquire", "--ini", settings(), "--out", unmade.string()}, {"DORVANE_COM49=" + device});
    EXPECT_EQ(host.wait(), 1);
    EXPECT_THAT(host.errors(), HasSubstr(says));
    EXPECT_FALSE(fs::exists(scratch.path() / "unmade")) << device;
  }
  // A key the driver does not know is named, and the rest goes on.
  auto typo = run({"info"}, settingsWith("typo.ini", "pionts=4096"));
  EXPECT_EQ(typo->wait(), 0) << typo->errors();
  EXPECT_EQ(typo->errors(), "dorvane: " + (scratch.path() / "typo.ini").string() + " line 4: unknown key pionts in [Settings] is ignored\n");
}

// Every file late for its slot: each acquisition starts as soon as the one before has delivered
// its file, and none is refused while the one before is still ending.
TEST_F(HostOnBench, ATimedSeriesWhoseEveryFileSlipsSavesThemAll) {
  startBench();
  auto host = run({"acquire", "--files", "8", "--scans", "1", "--every", "0.001", "--out", out().string(), "--no-plot"});
  ASSERT_EQ(host->wait(), 0) << host->errors();
  EXPECT_THAT(host->output(), HasSubstr("8 files saved"));
  EXPECT_EQ(instrument->blocks().size(), 8u);
}

TEST_F(HostOnBench, ABenchThatVanishesMidAcquisitionEndsItWithinTheTimeout) {
  sim::InstrumentOptions paced;
  paced.perScan = std::chrono::milliseconds(100);
  startBench(paced);
  // One scan of 100 ms on this unpaced line: each file comes far within the time-out.
  auto host = run({"acquire", "--files", "20", "--scans", "1", "--out", out().string(), "--prefix", "run", "--timeout", "2", "--no-plot"});
  ASSERT_TRUE(host->readUntilLineWith("saved file 1", kPatienceMs)) << host->errors();
  instrument.reset();
  pty.close();
  EXPECT_EQ(host->wait(), 1);
  // A scan of 100 ms and 4160 points at the settings' 38400 baud take longer than the 2 s asked for: said first.
  const std::string errors = host->errors();
  EXPECT_THAT(errors, StartsWith("dorvane: --timeout 2 s is shorter than a file is expected to take (1 scan in about 0.1 s and 2.2 s of transfer)\n"));
  // Gone between two files, it is missed at the time-out or the driver cannot start the next scan;
  // gone during a transfer, the driver gives up at once.
  EXPECT_THAT(errors, ContainsRegex("\ndorvane: (no file from the bench in 2 s|the acquisition ended early: |the port went "
                                    "away (during file 2's transfer|before file 2 began): )"));
  EXPECT_EQ(csvValues((out() / "run-001.csv").string()).size(), 4096u + 64u);
  EXPECT_THAT(leftovers(out()), ::testing::IsEmpty());
}

// The virtual bench ended while the first file is on the line (a paced line: 2.2 s for it): the line
// says the port went away, names it as the settings and the driver's log number it, and what to do;
// no folder is left behind for a run that saved nothing.
TEST_F(HostOnBench, ABenchGoneMidTransferSaysThePortWentAwayAndWhatToDo) {
  std::promise<void> dataAsked;
  std::atomic<bool> told{false};
  sim::InstrumentOptions options;
  options.onBlock = [&](sim::BlockEvent event, const sim::BlockInfo&) {
    if (event == sim::BlockEvent::DataAsked && !told.exchange(true)) dataAsked.set_value();
  };
  sim::BenchLinkOptions paced;
  paced.baud = 38400;
  startBench(options, paced);
  const std::string device = pty.slavePath();
  auto host = run({"acquire", "--files", "3", "--out", out().string(), "--prefix", "run", "--no-plot"});
  ASSERT_EQ(dataAsked.get_future().wait_for(std::chrono::milliseconds(kPatienceMs)), std::future_status::ready);
  instrument.reset();
  pty.close();
  EXPECT_EQ(host->wait(), 1);
  EXPECT_EQ(host->errors(), "dorvane: the port went away during file 1's transfer: " + device +
                                " (port=49 in the settings, port 48 in the driver's log) is gone (start the virtual bench "
                                "again and set DORVANE_COM49 to the device it names, or plug the bench's serial cable back "
                                "in) after 0 files saved; the port is closed\n");
  EXPECT_FALSE(fs::exists(out()));
}

// Nothing is replaced unless asked, and a second program never gets the port while one holds it.
TEST_F(HostOnBench, ASecondRunKeepsTheFirstsFilesAndASecondProgramIsRefusedThePort) {
  sim::InstrumentOptions paced;
  paced.perScan = std::chrono::milliseconds(100);
  startBench(paced);
  const std::vector<std::string> once = {"acquire", "--files", "1", "--scans", "2", "--out", out().string(), "--prefix", "run", "--no-plot"};
  ASSERT_EQ(run(once)->wait(), 0);
  const std::string first = readWholeFile(out() / "run-001.csv");
  auto again = run(once);
  EXPECT_EQ(again->wait(), 1);
  EXPECT_EQ(again->errors(), "dorvane: cannot write " + (out() / "run-001.csv").string() +
                                ": the file exists (--overwrite replaces it); or choose another --prefix\n");
  EXPECT_EQ(instrument->blocks().size(), 1u) << "refused before the bench scanned";
  EXPECT_EQ(readWholeFile(out() / "run-001.csv"), first);

  std::vector<std::string> replacing = once;
  replacing[2] = "5";
  replacing.push_back("--overwrite");
  auto holder = run(replacing);
  ASSERT_TRUE(holder->readUntilLineWith("acquiring", kPatienceMs)) << holder->errors();
  auto reset = run({"exec", "reset"});
  EXPECT_EQ(reset->wait(), 1);
  EXPECT_THAT(reset->errors(), HasSubstr(pty.slavePath() + " is in use by another program"));
  ASSERT_EQ(holder->wait(), 0) << holder->errors();
  EXPECT_EQ(instrument->blocks().size(), 6u) << "the reset never reached the bench";
  EXPECT_NE(readWholeFile(out() / "run-001.csv"), first);
}

TEST(HostHelp, VersionAndTheCommandsOfExec) {
  ChildProcess version(DORVANE_HOST, {"--version"});
  EXPECT_EQ(version.wait(), 0);
  EXPECT_THAT(version.output(), StartsWith("dorvane " DORVANE_VERSION));
  ChildProcess exec(DORVANE_HOST, {"exec", "--help"});
  EXPECT_EQ(exec.wait(), 0);
  EXPECT_THAT(exec.output(), AllOf(HasSubstr("shuttle N "), HasSubstr("1: moved, -1: no shuttle, 0: failed"), HasSubstr("whoAreYou ")));
}

// The saving thread fails on file 2 (its name is taken by a folder): the acquisition stops there,
// file 1 stays whole, nothing after the failure is written, and the port is let go.
TEST_F(HostOnBench, AFileThatCannotBeSavedStopsTheAcquisitionAndKeepsTheFilesBefore) {
  startBench();
  fs::create_directories(out() / "run-002.csv");
  auto host = run({"acquire", "--files", "3", "--scans", "2", "--out", out().string(), "--prefix", "run", "--no-plot"});
  EXPECT_EQ(host->wait(), 1);
  const std::string errors = host->errors();
  EXPECT_TRUE(isOneLine(errors)) << errors;
  EXPECT_EQ(errors, "dorvane: cannot write " + (out() / "run-002.csv").string() +
                        ": Is a directory; the acquisition is stopped and the port closed (1 file saved)\n");
  EXPECT_EQ(csvValues((out() / "run-001.csv").string()), benchVolts(instrument->blocks().size() - 1));
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(out())) names.insert(entry.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"run-001.csv", "run-001.jdx", "run-002.csv"}));
  auto next = run({"info"});
  EXPECT_EQ(next->wait(), 0) << next->errors();
}

TEST_F(HostOnBench, InfoListFetchAndExecSpeakThroughTheExports) {
  startBench();
  auto info = run({"info"});
  ASSERT_EQ(info->wait(), 0) << info->errors();
  EXPECT_THAT(info->output(), HasSubstr("bench: family 9 model 60"));
  EXPECT_THAT(info->output(), HasSubstr("Bench Setup:"));

  ASSERT_EQ(run({"acquire", "--files", "2", "--out", out().string(), "--no-plot"})->wait(), 0);
  auto list = run({"list"});
  ASSERT_EQ(list->wait(), 0) << list->errors();
  EXPECT_THAT(list->output(), ::testing::ContainsRegex("0  ... ... [0-9]{2} [0-9:]{11}\n1  "));

  // A stored block is named by its time, since its number changes with every acquisition; fetched
  // again, it is not replaced unless asked.
  auto fetch = run({"fetch", "1", "--out", out().string(), "--sample", "film"});
  ASSERT_EQ(fetch->wait(), 0) << fetch->errors();
  EXPECT_THAT(fetch->output(), ContainsRegex("^fetching stored block 1 \\(... ... [0-9]{2} [0-9:]{11}\\) at 38400 baud: up to about [0-9]+ s\n"));
  const std::string shownName = "saved stored block 1 (4160 points, ";
  ASSERT_THAT(fetch->output(), HasSubstr(shownName));
  const std::size_t named = fetch->output().find(": ", fetch->output().find(shownName) + shownName.size()) + 2;
  const fs::path stored = fetch->output().substr(named, fetch->output().find(',', named) - named);
  EXPECT_THAT(stored.filename().string(), ContainsRegex("^stored-block-[A-Z][a-z]{2}[0-9]{2}-[0-9]{6}\\.[0-9]{2}\\.csv$"));
  EXPECT_EQ(csvValues(stored.string()), benchVolts(1));
  EXPECT_EQ(jcampValues(fs::path(stored).replace_extension(".jdx").string()), benchVolts(1));
  EXPECT_TRUE(isPng(fs::path(stored).replace_extension(".png").string()));
  EXPECT_EQ(commentValue(stored, "gain"), "unknown");
  EXPECT_EQ(commentValue(stored, "sample"), "film");
  auto again = run({"fetch", "1", "--out", out().string()});
  EXPECT_EQ(again->wait(), 1);
  EXPECT_THAT(again->errors(), HasSubstr("the file exists (--overwrite replaces it)"));

  // Each command says in its own way whether it failed; the exit status follows.
  const std::vector<std::tuple<std::string, std::string, int>> commands = {
      {"shuttle", "1: the bench has a shuttle", 0},
      {"reset", "1: the bench was reset", 0},
      {"whoAreYou", "589884: bench family 9 model 60", 0},
      {"movemotor 1 -40", "-40: the motor's new position", 0},
      {"irises 25", "1: the aperture is set (or the bench has no iris)", 0},  // the driver's prefix match
      {"wiggle", "0: the command is not one the driver knows", 1},
  };
  for (const auto& [command, meaning, status] : commands) {
    auto exec = run({"exec", command});
    EXPECT_EQ(exec->wait(), status) << command << ": " << exec->errors();
    EXPECT_EQ(exec->output(), meaning + "\n");
  }
}

// What curl gets from `url`: the body, and on a line of its own the HTTP status.
std::pair<std::string, std::string> fetched(const std::string& url) {
  ChildProcess curl("/usr/bin/curl", {"-s", "--max-time", "60", "-w", "\n%{http_code}", url});
  curl.wait();
  const std::string& text = curl.output();
  const std::size_t last = text.rfind('\n');
  return {text.substr(0, last == std::string::npos ? 0 : last), text.substr(last == std::string::npos ? 0 : last + 1)};
}

// dorvane view: the folder's interferograms (its other files passed over), and those saved there
// while it serves, each file's data read back from the disk with the processing options given, until
// a Ctrl-C ends it as any command's (130).
TEST_F(HostOnBench, ViewServesTheFoldersInterferogramsAndThoseSavedLater) {
  startBench();
  ASSERT_EQ(run({"acquire", "--files", "2", "--scans", "1", "--no-plot", "--out", out().string(), "--prefix", "run"})->wait(), 0);
  std::ofstream(out() / "notes.jdx") << "##TITLE=not an interferogram\n##END=\n";
  // The files' undersampling taken as 4, not their 2: a spectrum up to 15798 / 4 cm-1.
  ChildProcess view(DORVANE_HOST, {"view", out().string(), "--port", "0", "--track", "CO2=2250:2450", "--track",
                                   "Far=9000:9500", "--undersampling", "4"});
  std::string url;
  for (std::string line; url.empty() && !(line = view.readLine(kPatienceMs)).empty();) {
    if (line.starts_with("http://127.0.0.1:")) url = line;
  }
  ASSERT_FALSE(url.empty()) << view.output() << view.errors();

  const auto [listing, listingStatus] = fetched(url + "run.json");
  EXPECT_EQ(listingStatus, "200");
  EXPECT_THAT(listing, ContainsRegex("\"name\":\"run-001\".*\"name\":\"run-002\""));
  EXPECT_THAT(listing, Not(HasSubstr("notes")));
  // Each file's row of the tracked bands, measured as the file is listed, its time from the first file's; a band
  // beyond the spectrum's axis is left empty and said in the banner, and takes nothing from the other.
  EXPECT_THAT(listing, HasSubstr("\"bands\":[{\"name\":\"CO2\",\"low\":2250,\"high\":2450},{\"name\":\"Far\""));
  EXPECT_THAT(listing, ContainsRegex("\"rows\":\\[\\{\"number\":1,\"name\":\"run-001\",\"seconds\":0,\"area\":\\[-?[0-9][^,]*,null\\]"
                                     ".*\\{\"number\":2,\"name\":\"run-002\",\"seconds\":[0-9.]+,\"area\":\\[-?[0-9]"));
  EXPECT_THAT(listing, HasSubstr("\"error\":\"run-002: --track Far=9000:9500 lies outside the spectrum's axis (0 to 3949.5 cm-1)"));
  const auto [file, fileStatus] = fetched(url + "files/2.json");
  EXPECT_EQ(fileStatus, "200");
  EXPECT_THAT(file, AllOf(HasSubstr("\"points\":4160"), HasSubstr("\"spectrum\":{\"kind\":\"single beam\"")));
  EXPECT_EQ(fetched(url + "files/3.json").second, "404");

  ASSERT_EQ(run({"acquire", "--files", "1", "--scans", "1", "--no-plot", "--out", out().string(), "--prefix", "later"})->wait(), 0);
  // The view looks at its folder now and then; its event stream tells when it has taken the new file.
  ChildProcess events("/usr/bin/curl", {"-s", "-N", url + "events"});
  EXPECT_TRUE(events.readUntilLineWith("{\"number\":3,\"name\":\"later-001\",\"seconds\":", kPatienceMs))
      << "a file saved in the folder later is shown, its row of the tracked band after it";
  EXPECT_EQ(fetched(url + "files/3.json").second, "200");
  view.send(SIGINT);
  EXPECT_EQ(view.wait(), 130) << view.errors();
  EXPECT_THAT(view.errors(), HasSubstr("dorvane: closing the live view"));
}

// dorvane qualify as a lab runs it each morning from a script: the film in the shuttle, each run into
// a folder of its own beside the bench's history. The bench sends unpaced: at 115200 baud a run's
// seven files take 18 s each on the line, past a test's bound; the two 10 s settles stay.
class HostQualify : public HostOnBench {
 protected:
  // A bench switched on anew at the same port, with the film and what ageing has done to it.
  void restartBench(sim::BenchFaults faults = {}, std::uint32_t devices = sim::kAllDevices, sim::Sample sample = sim::Sample::Polystyrene) {
    instrument.reset();
    sim::InstrumentOptions options;
    options.sample = sample;
    options.faults = faults;
    options.deviceMask = devices;
    startBench(options);
  }

  // `dorvane COMMAND --ini ... ARGUMENTS` with its stdin not a terminal, as from a script or a timer.
  std::unique_ptr<ChildProcess> fromScript(const std::string& command, const std::vector<std::string>& arguments) const {
    std::vector<std::string> words{"-c", "exec \"$0\" \"$@\" </dev/null", DORVANE_HOST, command, "--ini", ini()};
    words.insert(words.end(), arguments.begin(), arguments.end());
    return std::make_unique<ChildProcess>("/bin/sh", words, std::vector<std::string>{"DORVANE_COM49=" + pty.slavePath()});
  }

  std::string ini() const { return scratch.write("qualify.ini", "[Settings]\nport=49\nbaud=115200\nlasersamp=2\n"); }
};

// The folders in `parent` whose names start with `kind`, oldest first.
std::vector<fs::path> runFolders(const fs::path& parent, const std::string& kind = "qualification-") {
  std::vector<fs::path> folders;
  if (!fs::exists(parent)) return folders;
  for (const auto& entry : fs::directory_iterator(parent)) {
    if (entry.is_directory() && entry.path().filename().string().starts_with(kind)) folders.push_back(entry.path());
  }
  std::sort(folders.begin(), folders.end());
  return folders;
}

// The history's rows: its lines after the title and the column names.
std::size_t historyRows(const fs::path& parent) {
  std::istringstream lines(readWholeFile(parent / "qualification-history.csv"));
  std::size_t count = 0;
  for (std::string line; std::getline(lines, line);) count += !line.empty();
  return count < 2 ? 0 : count - 2;
}

// A report's text without the line that says when it was made.
std::string withoutMade(const std::string& report) {
  std::istringstream lines(report);
  std::string kept;
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with("  \"made\": ")) kept += line + "\n";
  }
  return kept;
}

// A healthy run watched on the live view passes and files every raw file with its digest; --from
// remakes its figures byte for byte; the same bench with its laser aged 1000 ppm fails the
// wavenumber check against it, the failure named on stderr and the run added to the history.
TEST_F(HostQualify, AHealthyBenchPassesAndTheSameBenchAgedFailsAgainstIt) {
  restartBench();
  const fs::path runs = scratch.path() / "runs";
  auto healthy = fromScript("qualify", {"--folder", runs.string(), "--live", "0"});
  std::string url;
  for (std::string line; url.empty() && !(line = healthy->readLine(kPatienceMs)).empty();) {
    if (line.starts_with("http://127.0.0.1:")) url = line;
  }
  ASSERT_FALSE(url.empty()) << healthy->output() << healthy->errors();
  ASSERT_TRUE(healthy->readUntilLineWith("the run is over; the live view stays at", kPatienceMs)) << healthy->output() << healthy->errors();
  const auto [listing, listingStatus] = fetched(url + "run.json");
  EXPECT_EQ(listingStatus, "200");
  const nlohmann::json live = nlohmann::json::parse(listing, nullptr, false);
  ASSERT_TRUE(live.is_object()) << listing;
  EXPECT_EQ(live["qualification"]["verdict"], "pass") << listing;
  EXPECT_EQ(live["qualification"]["tests"].size(), 5u) << listing;
  healthy->send(SIGINT);
  ASSERT_EQ(healthy->wait(), 0) << healthy->output() << healthy->errors();
  EXPECT_THAT(healthy->output(), HasSubstr("\nPASSED: every test within its limits\n"));

  std::vector<fs::path> folders = runFolders(runs);
  ASSERT_EQ(folders.size(), 1u);
  const fs::path first = folders[0];
  for (const std::string stem : {"background-001", "background-002", "sample-001", "sample-005"}) {
    EXPECT_EQ(csvValues((first / (stem + ".csv")).string()), jcampValues((first / (stem + ".jdx")).string())) << stem;
  }
  for (const char* name : {"sample-001-transmittance.csv", "sample-001-transmittance.jdx", "hundred-percent-line.csv",
                           "qualification.html"}) {
    EXPECT_TRUE(fs::is_regular_file(first / name)) << name;
  }
  const std::string firstReport = readWholeFile(first / "qualification.json");
  const nlohmann::json report = nlohmann::json::parse(firstReport);
  EXPECT_EQ(report["verdict"], "pass");
  ASSERT_EQ(report["files"].size(), 2u * (2 + 5)) << "every raw file, CSV and JCAMP-DX";
  for (const nlohmann::json& file : report["files"]) {
    EXPECT_EQ(file["sha256"], host::sha256Hex(readWholeFile(first / file["name"].get<std::string>()))) << file["name"];
  }
  EXPECT_EQ(historyRows(runs), 1u);
  EXPECT_THAT(leftovers(first), ::testing::IsEmpty());

  auto remade = fromScript("qualify", {"--from", first.string()});
  ASSERT_EQ(remade->wait(), 0) << remade->errors();
  const std::vector<fs::path> remakes = runFolders(first, "remade-");
  ASSERT_EQ(remakes.size(), 1u);
  EXPECT_EQ(withoutMade(readWholeFile(remakes[0] / "qualification.json")), withoutMade(firstReport));
  EXPECT_EQ(historyRows(runs), 1u) << "a remade report is no new run";
  // A report moved away from its raw files cannot be remade, and leaves no empty folder trying.
  const fs::path moved = scratch.path() / "moved";
  fs::create_directories(moved);
  fs::copy_file(first / "qualification.json", moved / "qualification.json");
  auto orphan = fromScript("qualify", {"--from", moved.string()});
  EXPECT_EQ(orphan->wait(), 2);
  EXPECT_THAT(orphan->errors(), HasSubstr("holds 0 backgrounds and 0 samples"));
  EXPECT_THAT(runFolders(moved, "remade-"), ::testing::IsEmpty());

  sim::BenchFaults aged;
  aged.laserErrorPpm = 1000;  // 3 cm-1 at 3060 cm-1, twice its tolerance
  restartBench(aged);
  auto agedRun = fromScript("qualify", {"--folder", runs.string()});
  ASSERT_EQ(agedRun->wait(), 1) << agedRun->output() << agedRun->errors();
  EXPECT_THAT(agedRun->output(), HasSubstr("\nFAILED: "));
  EXPECT_THAT(agedRun->errors(), HasSubstr("dorvane: FAILED wavenumber accuracy: the band at 3060.0 cm-1 was found at 3056.9"));
  EXPECT_EQ(historyRows(runs), 2u);
  folders = runFolders(runs);
  ASSERT_EQ(folders.size(), 2u);
  const nlohmann::json second = nlohmann::json::parse(readWholeFile(folders[1] / "qualification.json"));
  EXPECT_EQ(second["verdict"], "fail");
  EXPECT_EQ(second["tests"]["energy"]["reference"]["folder"], first.filename().string());
}

// What cannot make a sound run is refused with one line and exit 2 before the film moves or a scan
// starts, and leaves no run folder behind: the user's folder does not fill with empty runs.
TEST_F(HostQualify, RefusesBeforeMeasuringAndLeavesNoRunFolder) {
  restartBench();
  const auto folderWith = [this](const std::string& name, const std::string& file, const std::string& text) {
    fs::create_directories(scratch.path() / name);
    return scratch.write(name + "/" + file, text);
  };
  folderWith("foreign", "qualification-history.csv",
             "# dorvane qualification history of bench family 10 model 61 (identity 655421): a row a run, oldest first\n"
             "made,folder,verdict\n");
  folderWith("coarse-reference", "qualification.json",
             R"({"format": "dorvane qualification 1", "made": "2026-12-01T08:00:00Z", "acquisition": {"nominal_resolution": 7.9},
                 "tests": {"energy": {"levels": [{"level": 1}, {"level": 1}, {"level": 1}], "burst": {"amplitude": 1}}}})");
  const std::string unknown = scratch.write("unknown.ini", "[Qualification]\nscans=16\nband_tolerance=2\n");
  const std::string bad = scratch.write("bad.ini", "[Qualification]\nnoise_rms_most=lots\n");
  struct Case {
    std::string folder;
    std::vector<std::string> arguments;
    std::string says;
  };
  const std::vector<Case> cases = {
      {"foreign", {}, "is the history of bench family 10 model 61 and this is bench family 9 model 60: qualify each bench in a folder of its own (--folder)"},
      {"a", {"--reference", (scratch.path() / "coarse-reference").string()}, "was measured at a nominal resolution of 7.9 cm-1"},
      {"b", {"--points", "4096"}, "at 4096 points the spectra's nominal resolution is"},
      {"c", {"--settings", unknown}, "band_tolerance"},
      {"d", {"--settings", bad}, "noise_rms_most"},
  };
  const auto expectRefused = [this](const Case& refused) {
    const fs::path folder = scratch.path() / refused.folder;
    std::vector<std::string> arguments{"--folder", folder.string()};
    arguments.insert(arguments.end(), refused.arguments.begin(), refused.arguments.end());
    auto host = fromScript("qualify", arguments);
    EXPECT_EQ(host->wait(), 2) << refused.says << ": " << host->output() << host->errors();
    EXPECT_TRUE(isOneLine(host->errors())) << host->errors();
    EXPECT_THAT(host->errors(), AllOf(StartsWith("dorvane: "), HasSubstr(refused.says)));
    EXPECT_THAT(host->output(), Not(HasSubstr("moving the shuttle")));
    EXPECT_THAT(runFolders(folder), ::testing::IsEmpty()) << refused.says;
  };
  for (const Case& refused : cases) expectRefused(refused);
  EXPECT_THAT(instrument->blocks(), ::testing::IsEmpty()) << "nothing measured";

  // A bench without a shuttle needs someone at the terminal to move the film.
  restartBench({}, sim::kAllDevices & ~(1u << sim::device::shuttle));
  expectRefused({"e", {}, "the bench has no shuttle and nobody is at a terminal to move the film"});
  EXPECT_THAT(instrument->blocks(), ::testing::IsEmpty()) << "nothing measured";
}

// Interferograms given as files: a background given as the samples is a failure that says the
// film's bands are not there, with its report written, not a crash.
TEST_F(HostQualify, ABackgroundGivenAsTheSamplesFailsForWantOfTheFilmsBands) {
  restartBench({}, sim::kAllDevices, sim::Sample::None);
  const fs::path open = scratch.path() / "open";
  auto acquired = fromScript("acquire", {"--files", "2", "--scans", "16", "--points", "32768", "--no-plot", "--out", open.string(),
                                    "--prefix", "open"});
  ASSERT_EQ(acquired->wait(), 0) << acquired->errors();
  const std::string a = (open / "open-001.jdx").string(), b = (open / "open-002.jdx").string();
  const fs::path runs = scratch.path() / "runs";
  auto host = fromScript("qualify", {"--folder", runs.string(), "--backgrounds", a, b, "--samples-from", a, b});
  EXPECT_EQ(host->wait(), 1) << host->output() << host->errors();
  EXPECT_THAT(host->errors(), HasSubstr("none of the film's bands was found"));
  const std::vector<fs::path> folders = runFolders(runs);
  ASSERT_EQ(folders.size(), 1u);
  EXPECT_TRUE(fs::is_regular_file(folders[0] / "qualification.json"));
  EXPECT_TRUE(fs::is_regular_file(folders[0] / "qualification.html"));
  EXPECT_EQ(historyRows(runs), 1u);
}

// The settings file a lab starts from is the one the docs show, and an existing file is kept.
TEST(HostQualifySettings, WritesTheDocumentedDefaultsAndKeepsAnExistingFile) {
  ScratchDirectory scratch;
  const fs::path written = scratch.path() / "qualification.ini";
  ChildProcess first(DORVANE_HOST, {"qualify", "--write-settings", written.string()});
  ASSERT_EQ(first.wait(), 0) << first.errors();
  EXPECT_EQ(readWholeFile(written), readWholeFile(DORVANE_QUALIFICATION_SETTINGS)) << "docs/qualification.ini is out of date";
  std::ofstream(written, std::ios::app) << "scans=128\n";
  const std::string edited = readWholeFile(written);
  ChildProcess again(DORVANE_HOST, {"qualify", "--write-settings", written.string()});
  EXPECT_EQ(again.wait(), 2);
  EXPECT_EQ(again.errors(), "dorvane: cannot write " + written.string() + ": the file exists: give --write-settings a new file's name\n");
  EXPECT_EQ(readWholeFile(written), edited);
}

TEST(HostSim, ServesTheVirtualBenchUntilCtrlCAndSaysHowToReachIt) {
  ScratchDirectory scratch;
  ChildProcess sim(DORVANE_HOST, {"sim", "--", "--family", "10/61"});
  const std::string exportLine = "export DORVANE_COM49=";
  ASSERT_TRUE(sim.readUntilLineWith(exportLine, kPatienceMs)) << sim.output() << sim.errors();
  const std::string& shown = sim.output();
  const std::size_t at = shown.find(exportLine) + exportLine.size();
  const std::string device = shown.substr(at, shown.find('\n', at) - at);

  ChildProcess info(DORVANE_HOST, {"info", "--ini", scratch.write("bench.ini", "[Settings]\nport=49\nbaud=38400\n")},
                    {"DORVANE_COM49=" + device});
  EXPECT_EQ(info.wait(), 0) << info.errors();
  EXPECT_THAT(info.output(), HasSubstr("bench: family 10 model 61"));
  sim.send(SIGINT);
  EXPECT_EQ(sim.wait(), 0) << sim.errors();
  EXPECT_THAT(sim.output(), HasSubstr("the virtual bench has stopped"));
}

// An interferogram file as the host saves it: a centre burst of a few cosines.
std::string interferogramCsv(std::size_t points) {
  std::string text = "# dorvane interferogram: made by the test\n# laser wavenumber: 15798 cm-1\n# undersampling: 2\nindex,volts\n";
  for (std::size_t i = 0; i < points; ++i) {
    const double x = static_cast<double>(i) - static_cast<double>(points / 2);
    const double volts = std::exp(-x * x / 50) * (std::cos(0.3 * x) + 0.5 * std::cos(1.1 * x));
    text += std::to_string(i) + "," + std::to_string(volts) + "\n";
  }
  return text;
}

TEST(HostSpectrum, BadInputOrAnExistingFileGetsOneLineAndWritesNothing) {
  ScratchDirectory scratch;
  const fs::path out = scratch.path() / "out";
  const std::string good = scratch.write("good.csv", interferogramCsv(256));
  const std::string wider = scratch.write("wider.csv", interferogramCsv(512));
  const std::string header = "# dorvane interferogram: t\n# laser wavenumber: 15798 cm-1\n# undersampling: 2\nindex,volts\n";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{scratch.write("empty.csv", "")}, "empty.csv: it is empty"},
      {{scratch.write("one.csv", header + "0,1.5\n")}, "one.csv: too few points"},
      {{scratch.write("zero.csv", header + "0,0\n1,0\n2,0\n3,0\n")}, "zero.csv: every point of the interferogram is the same"},
      {{scratch.write("nan.jdx", header + "0,1\n1,NaN\n2,3\n")}, "nan.jdx: line 6: the value \"NaN\" is not a finite number"},
      {{scratch.write("foreign.jdx", "##TITLE=x\n##JCAMP-DX=4.24\n##DATA TYPE=INFRARED SPECTRUM\n##END=\n")},
       "foreign.jdx: it is a JCAMP-DX file of \"INFRARED SPECTRUM\", not an interferogram"},
      {{good, "--background", wider}, "good.csv: its spectrum (257 points 30.85546875 cm-1 apart) and the background wider.csv's "
                                      "(513 points 15.427734375 cm-1 apart) lie on different wavenumber axes"},
  };
  for (const auto& [arguments, says] : cases) {
    std::vector<std::string> command = {"spectrum", "--out", out.string()};
    command.insert(command.end(), arguments.begin(), arguments.end());
    ChildProcess host(DORVANE_HOST, command);
    EXPECT_EQ(host.wait(), 1) << says;
    const std::string errors = host.errors();
    EXPECT_TRUE(isOneLine(errors)) << errors;
    EXPECT_THAT(errors, AllOf(StartsWith("dorvane: "), HasSubstr(says)));
    EXPECT_TRUE(!fs::exists(out) || fs::is_empty(out)) << says;
  }

  // Written once; a second time refused, the first files untouched, unless --overwrite is given.
  ChildProcess first(DORVANE_HOST, {"spectrum", good, "--out", out.string()});
  ASSERT_EQ(first.wait(), 0) << first.errors();
  const fs::path jcamp = out / "good-single-beam.jdx";
  const std::string before = readWholeFile(jcamp);
  fs::last_write_time(jcamp, fs::last_write_time(jcamp) - std::chrono::hours(1));
  const auto stamp = fs::last_write_time(jcamp);
  ChildProcess again(DORVANE_HOST, {"spectrum", good, "--out", out.string(), "--apodization", "boxcar"});
  EXPECT_EQ(again.wait(), 1);
  EXPECT_EQ(again.errors(), "dorvane: cannot write " + (out / "good-single-beam.csv").string() +
                                ": the file exists (--overwrite replaces it)\n");
  EXPECT_EQ(fs::last_write_time(jcamp), stamp);
  ChildProcess replacing(DORVANE_HOST, {"spectrum", good, "--out", out.string(), "--apodization", "boxcar", "--overwrite"});
  EXPECT_EQ(replacing.wait(), 0) << replacing.errors();
  EXPECT_NE(readWholeFile(jcamp), before);
  EXPECT_THAT(leftovers(out), ::testing::IsEmpty());
}


// The whole road: the demo's bench has a polystyrene film, the host takes a background with the
// shuttle out and a sample with it in, through the driver, and finds the film's bands in the
// absorbance where the bench put them, within a quarter of the resolution.
// The demo switches the driver's log on, and the driver writes it beside the library: a copy of the
// library of its own keeps a demo's log apart from every other test's.
struct DemoPlace {
  DemoPlace() {
    fs::create_directories(library);
    fs::copy_file(DORVANE_LIBRARY, library / DORVANE_LIBRARY_LINKED_NAME);
  }

  ScratchDirectory scratch;
  const fs::path folder = scratch.path() / "demo";
  const fs::path library = scratch.path() / "lib";
};

TEST(HostDemo, FindsThePolystyreneBandsWithinAQuarterOfTheResolution) {
  const DemoPlace place;
  const fs::path& folder = place.folder;
  const fs::path& library = place.library;
  // The loader reads the last LD_LIBRARY_PATH of a program's environment, so it is replaced, not added.
  const ScopedEnvironmentVariable own("LD_LIBRARY_PATH", library.string());
  ChildProcess demo(DORVANE_HOST, {"demo", "--out", folder.string()});
  ASSERT_EQ(demo.wait(), 0) << demo.errors();
  const std::string& shown = demo.output();
  EXPECT_THAT(shown, HasSubstr("everything is in " + folder.string()));
  EXPECT_THAT(shown, HasSubstr("driver log: " + (library / "dorvane_log.txt").string()));
  EXPECT_THAT(readWholeFile(library / "dorvane_log.txt"), HasSubstr("dorvane.dll scanThread:files= 1"));
  EXPECT_THAT(shown, ContainsRegex("moving the shuttle to position 2 .*\n(.*\n)*moving the shuttle to position 1 "));

  // The resolution 1 / (L dx), L the longer side of the sample's interferogram.
  const fs::path sample = folder / "polystyrene-001.csv";
  const double points = std::stod(commentValue(sample, "points"));
  const double zpd = std::stod(commentValue(sample, "zpd index"));
  const double dx = std::stod(commentValue(sample, "undersampling")) / (2 * std::stod(commentValue(sample, "laser wavenumber")));
  const double tolerance = 0.25 / (std::max(zpd, points - 1 - zpd) * dx);
  ASSERT_GT(tolerance, 0.1);
  for (const sim::Band& band : sim::polystyreneBands()) {
    char listed[32];
    std::snprintf(listed, sizeof listed, " %.1f  found ", band.centre);
    const std::size_t at = shown.find(listed);
    ASSERT_NE(at, std::string::npos) << band.centre << " cm-1 not found:\n" << shown;
    const double found = std::stod(shown.substr(at + std::strlen(listed)));
    EXPECT_NEAR(found, band.centre, tolerance);
  }

  // The absorbance as jcampconverter reads it is the CSV's, wavenumbers and values alike.
  const CsvSpectrum absorbance = csvSpectrum((folder / "polystyrene-001-absorbance.csv").string());
  ASSERT_GT(absorbance.values.size(), 1000u);
  const JcampReading reading = readWithJcampconverter((folder / "polystyrene-001-absorbance.jdx").string());
  ASSERT_EQ(reading.failure, "");
  EXPECT_EQ(reading.xs, absorbance.wavenumbers);
  EXPECT_EQ(reading.values, absorbance.values);
  for (const char* name : {"background-001.png", "polystyrene-001.png", "polystyrene-001-absorbance.png"}) {
    EXPECT_TRUE(isPng((folder / name).string())) << name;
  }
  EXPECT_THAT(leftovers(folder), ::testing::IsEmpty());

  // The film's bands listed by `dorvane spectrum --bands` as the demo finds them: the transmittance's
  // minima, the film's bands and no other, the listed ones at their positions and the broad 2923 cm-1
  // band, whose flat bottom the noise moves, near its own; a single beam has none to list.
  const fs::path again = place.scratch.path() / "again";
  ChildProcess bands(DORVANE_HOST, {"spectrum", (folder / "polystyrene-001.jdx").string(), "--background",
                                    (folder / "background-001.jdx").string(), "--ratio", "transmittance", "--bands",
                                    "--no-plot", "--out", again.string()});
  ASSERT_EQ(bands.wait(), 0) << bands.errors();
  std::istringstream listed(bands.output());
  std::string line;
  ASSERT_TRUE(std::getline(listed, line));
  std::vector<std::pair<double, double>> film;  // each band's centre and how near it must be found
  for (const sim::Band& band : sim::polystyreneBands()) film.emplace_back(band.centre, tolerance);
  for (const sim::Band& band : sim::polystyreneUnlistedBands()) film.emplace_back(band.centre, band.halfWidth / 10);
  std::sort(film.rbegin(), film.rend());  // from the highest down, as the lines come
  EXPECT_THAT(line, HasSubstr(std::to_string(film.size()) + " bands in its transmittance (its minima)"));
  for (const auto& [centre, near] : film) {
    ASSERT_TRUE(std::getline(listed, line));
    double position = 0, transmittance = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "%lf %lf", &position, &transmittance), 2) << line;
    EXPECT_NEAR(position, centre, near) << line;
    EXPECT_GT(transmittance, 0) << line;
    EXPECT_LT(transmittance, 0.98) << line;
  }
  ChildProcess singleBeam(DORVANE_HOST, {"spectrum", (folder / "polystyrene-001.jdx").string(), "--bands", "--out", again.string()});
  EXPECT_EQ(singleBeam.wait(), 2);
  EXPECT_THAT(singleBeam.errors(), HasSubstr("--bands: a single-beam spectrum has no bands to list"));
}

// A gas cell filling with CO2 on the demo's bench, followed file by file on a schedule: the time
// constant fitted to the band's area is the bench's within a tenth.
TEST(HostDemo, SeriesFindsTheFillingCellsTimeConstant) {
  const DemoPlace place;
  const fs::path& folder = place.folder;
  const ScopedEnvironmentVariable own("LD_LIBRARY_PATH", place.library.string());
  constexpr double kFillTime = 6;
  ChildProcess demo(DORVANE_HOST, {"demo", "--series", "--fill-time", "6", "--every", "0.75", "--files", "16", "--out",
                                   folder.string()});
  ASSERT_EQ(demo.wait(), 0) << demo.errors();
  const std::string& shown = demo.output();
  const std::string said = "fitted tau ";
  const std::size_t at = shown.find(said);
  ASSERT_NE(at, std::string::npos) << shown;
  EXPECT_NEAR(std::stod(shown.substr(at + said.size())), kFillTime, 0.1 * kFillTime) << shown;
  const fs::path series = folder / "series";
  EXPECT_TRUE(isPng((series / "cell-trend.png").string()));
  std::ifstream table(series / "cell-series.csv");
  int rows = 0;
  for (std::string line; std::getline(table, line);) rows += line.starts_with("cell-") || line.find(",cell-") != std::string::npos;
  EXPECT_EQ(rows, 16);
  EXPECT_THAT(leftovers(series), ::testing::IsEmpty());
}

}  // namespace
}  // namespace dorvane::testing
