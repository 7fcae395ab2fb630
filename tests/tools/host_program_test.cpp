// dorvane, the command-line host, run as a user runs it: a separate program on the shared libraries,
// against the virtual instrument over a pseudo-terminal (or, for the demo, its own virtual bench).
#include <signal.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <tuple>

#include "bench/retrieval.h"
#include "platform/clock.h"
#include "runtime/log_file.h"
#include "sim/instrument.h"
#include "sim/instrument_data.h"
#include "sim/pseudo_terminal.h"
#include "sim/source_spectrum.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"
#include "tests/tools/saved_files.h"

namespace dorvane::testing {
namespace {

using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::StartsWith;
namespace fs = std::filesystem;

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
  void startBench(sim::InstrumentOptions options = {}) {
    instrument = std::make_unique<sim::Instrument>(pty.masterFd(), options);
    instrument->start();
  }

  std::unique_ptr<ChildProcess> run(std::vector<std::string> arguments, const std::string& ini = "") {
    if (arguments.size() > 0 && arguments[0] != "demo") {
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

TEST_F(HostOnBench, AcquireSavesEveryFileWithTheBenchsValuesInEachFormat) {
  startBench();
  auto host = run({"acquire", "--files", "3", "--scans", "4", "--out", out().string(), "--prefix", "run", "--spectrum"});
  ASSERT_EQ(host->wait(), 0) << host->errors();
  EXPECT_THAT(host->output(), HasSubstr("3 files saved"));
  ASSERT_EQ(instrument->blocks().size(), 3u);
  for (int file = 1; file <= 3; ++file) {
    const fs::path stem = out() / ("run-00" + std::to_string(file));
    const std::vector<double> expected = benchVolts(static_cast<std::size_t>(3 - file));
    ASSERT_EQ(expected.size(), 4096u + 64u);
    EXPECT_EQ(csvValues(stem.string() + ".csv"), expected) << "file " << file;
    EXPECT_EQ(jcampValues(stem.string() + ".jdx"), expected) << "file " << file;
    EXPECT_TRUE(isPng(stem.string() + ".png")) << "file " << file;
    // The settings' lasersamp=2, and the spectrum beside: points 0 to the folding limit 7899 cm-1.
    EXPECT_THAT(commentValue(stem.string() + ".csv", "undersampling"), StartsWith("2 "));
    const CsvSpectrum spectrum = csvSpectrum(stem.string() + "-single-beam.csv");
    ASSERT_FALSE(spectrum.wavenumbers.empty()) << "file " << file;
    EXPECT_EQ(spectrum.wavenumbers.back(), 7899.0);
    EXPECT_TRUE(isPng(stem.string() + "-single-beam.png")) << "file " << file;
  }
  EXPECT_THAT(host->output(), HasSubstr("; single beam: " + (out() / "run-003-single-beam.csv").string()));
  EXPECT_THAT(leftovers(out()), ::testing::IsEmpty());
}


// Ctrl-C while the bench scans: once before the first file, once after two.
class HostCtrlC : public HostOnBench {
 protected:
  void interrupt(const std::string& waitFor, int saved) {
    sim::InstrumentOptions slow;
    slow.perScan = std::chrono::milliseconds(150);
    startBench(slow);
    auto host = run({"acquire", "--files", "0", "--scans", "2", "--out", out().string(), "--prefix", "run", "--no-plot"});
    ASSERT_TRUE(host->readUntilLineWith(waitFor, 30000)) << host->output() << host->errors();
    host->send(SIGINT);
    EXPECT_EQ(host->wait(), 130);
    EXPECT_TRUE(host->exitedNormally()) << "the signal must be caught, not end the program";
    const std::string errors = host->errors();
    EXPECT_TRUE(isOneLine(errors)) << errors;
    EXPECT_THAT(errors, HasSubstr("stopped by Ctrl-C after"));
    EXPECT_THAT(errors, HasSubstr("the port is closed"));
    // Every file there is whole; none is half-written.
    int csvFiles = 0;
    for (const auto& entry : fs::directory_iterator(out())) {
      if (entry.path().extension() != ".csv") continue;
      ++csvFiles;
      EXPECT_EQ(csvValues(entry.path().string()).size(), 4096u + 64u) << entry.path();
      EXPECT_EQ(jcampValues(fs::path(entry.path()).replace_extension(".jdx").string()).size(), 4096u + 64u);
    }
    EXPECT_GE(csvFiles, saved);
    EXPECT_THAT(leftovers(out()), ::testing::IsEmpty());
    // The port was let go and the bench left able to answer the next host.
    auto next = run({"info"});
    EXPECT_EQ(next->wait(), 0) << next->errors();
  }
};

TEST_F(HostCtrlC, BeforeTheFirstFileExitsAtOnceWithThePortClosed) { interrupt("acquiring", 0); }
TEST_F(HostCtrlC, AfterTwoFilesKeepsThemWholeAndClosesThePort) { interrupt("saved file 2", 2); }

TEST_F(HostOnBench, BadInputEndsWithOneClearLineAndANonzeroStatus) {
  startBench();
  struct Case {
    std::vector<std::string> arguments;
    std::string ini;
    int status;
    std::string says;
  };
  const std::string noPort = scratch.write("noport.ini", "[Settings]\nbaud=38400\n");
  scratch.write("plain-file", "x");
  const std::vector<Case> cases = {
      {{"acquire", "--bogus"}, "", 2, "--bogus"},
      {{"acquire", "--files", "-3"}, "", 2, "--files"},
      {{"fetch"}, "", 2, "INDEX"},
      {{"info"}, (scratch.path() / "missing.ini").string(), 1, "cannot read the settings file"},
      {{"info"}, noPort, 1, "spectrometer_open returned -1"},
      {{"acquire", "--out", (scratch.path() / "plain-file" / "sub").string()}, "", 1, "output folder"},
      {{"fetch", "7"}, "", 1, "no stored block 7"},
  };
  for (const Case& c : cases) {
    auto host = run(c.arguments, c.ini);
    EXPECT_EQ(host->wait(), c.status) << c.arguments[0] << " " << c.says;
    const std::string errors = host->errors();
    EXPECT_TRUE(isOneLine(errors)) << errors;
    EXPECT_THAT(errors, AllOf(StartsWith("dorvane: "), HasSubstr(c.says)));
  }
  // A device that is not there: the serial layer's code from spectrometer_open.
  ChildProcess host(DORVANE_HOST, {"info", "--ini", settings()}, {"DORVANE_COM49=/dev/dorvane-no-such-port"});
  EXPECT_EQ(host.wait(), 1);
  EXPECT_THAT(host.errors(), HasSubstr("spectrometer_open returned -1"));
}

TEST_F(HostOnBench, ABenchThatVanishesMidAcquisitionEndsItWithinTheTimeout) {
  sim::InstrumentOptions paced;
  paced.perScan = std::chrono::milliseconds(100);
  startBench(paced);
  auto host = run({"acquire", "--files", "20", "--out", out().string(), "--prefix", "run", "--timeout", "2", "--no-plot"});
  ASSERT_TRUE(host->readUntilLineWith("saved file 1", 30000)) << host->errors();
  instrument.reset();
  pty.close();
  EXPECT_EQ(host->wait(), 1);
  const std::string errors = host->errors();
  EXPECT_TRUE(isOneLine(errors)) << errors;
  EXPECT_THAT(errors, HasSubstr("no file from the bench in 2 s"));
  EXPECT_EQ(csvValues((out() / "run-001.csv").string()).size(), 4096u + 64u);
  EXPECT_THAT(leftovers(out()), ::testing::IsEmpty());
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

  auto fetch = run({"fetch", "1", "--out", out().string()});
  ASSERT_EQ(fetch->wait(), 0) << fetch->errors();
  EXPECT_EQ(csvValues((out() / "stored-block-1.csv").string()), benchVolts(1));
  EXPECT_EQ(jcampValues((out() / "stored-block-1.jdx").string()), benchVolts(1));
  EXPECT_TRUE(isPng((out() / "stored-block-1.png").string()));

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

TEST(HostSim, ServesTheVirtualBenchUntilCtrlCAndSaysHowToReachIt) {
  ScratchDirectory scratch;
  ChildProcess sim(DORVANE_HOST, {"sim", "--", "--family", "10/61"});
  const std::string exportLine = "export DORVANE_COM49=";
  ASSERT_TRUE(sim.readUntilLineWith(exportLine, 10000)) << sim.output() << sim.errors();
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
TEST(HostDemo, FindsThePolystyreneBandsWithinAQuarterOfTheResolution) {
  ScratchDirectory scratch;
  const fs::path folder = scratch.path() / "demo";
  ChildProcess demo(DORVANE_HOST, {"demo", "--out", folder.string()});
  ASSERT_EQ(demo.wait(), 0) << demo.errors();
  const std::string& shown = demo.output();
  EXPECT_THAT(shown, HasSubstr("everything is in " + folder.string()));
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
}

}  // namespace
}  // namespace dorvane::testing
