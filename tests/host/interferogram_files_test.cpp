// The host's saved files and plot: values back bit for bit (the JCAMP-DX file through jcampconverter,
// a reader written apart from ours, and through the host's own reader), headers that hostile bench
// text cannot break, damaged files refused with one line, and files that appear whole or not at all.
#include "host/files/interferogram_files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <sstream>

#include "tests/support/test_support.h"
#include "tests/host/saved_files.h"
#include "host/files/interferogram_reader.h"
#include "host/files/formats.h"
#include "host/files/plot.h"
#include "host/files/spectrum_files.h"

namespace dorvane::host {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::readWholeFile;
using testing::ScopedEnvironmentVariable;
using testing::ScratchDirectory;
using testing::JcampReading;
using testing::readWithJcampconverter;

constexpr const char* kSetup =
    "Bench Setup:  specStat.reInit 0\n  specStat.newSrq 1\n  serialNum 1194393623 0x47310417\n";

// What the driver hands out: floats widened to doubles, from full scale to the converter's last
// step, most needing 17 digits as doubles, and a negative zero.
std::vector<double> driverLikeVolts() {
  std::vector<double> volts = {-10.0,
                               9.99999904632568359375,
                               0.0,
                               -0.0,
                               std::ldexp(1.0, -22),
                               static_cast<float>(0.1),
                               static_cast<float>(-1.0 / 3)};
  for (int i = 0; volts.size() < 300; ++i)
    volts.push_back(static_cast<float>(9.7 * std::sin(i * 0.37) * std::exp(-i / 90.0)));
  return volts;
}

// Doubles no float could hold, spanning far more than 53 bits.
std::vector<double> awkwardVolts() {
  std::vector<double> volts = {0.1, 0.1 + 0.2, 1.0 / 3, -5.0, 1e-300, 5e-324, -0.0, 1e300, -2.5e-310};
  for (int i = 0; volts.size() < 300; ++i) volts.push_back(std::sin(i) * std::pow(10.0, i % 40 - 20));
  return volts;
}

// Taken at 1796640806123 ms: 2026-12-07T10:53:26.123Z, sampled at every second laser zero crossing.
InterferogramRecord measuredRecord(std::vector<double> volts) {
  return {"file 2 of 3", std::move(volts), 1796640806123, "", 4, 1, (9 << 16) | 60, kSetup, 15798.0, 2,
          "polystyrene film", "A. Chemist", "after a 10 min purge", 1796640805000};
}

// One file alone, replacing what is there: a set of one.
std::string saveCsv(const InterferogramRecord& record, const std::string& path) {
  return writeFileSet({interferogramCsv(record, path)}, Existing::Replace);
}
std::string saveJcamp(const InterferogramRecord& record, const std::string& path) {
  return writeFileSet({interferogramJcamp(record, path)}, Existing::Replace);
}
std::string savePng(const InterferogramRecord& record, const std::string& path) {
  const std::optional<FileSetMember> plot = interferogramPlot(record, path);
  return plot ? writeFileSet({*plot}, Existing::Replace) : kNoPlotter;
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::set<std::string> namesIn(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

void expectSameBits(const std::vector<double>& got, const std::vector<double>& want,
                    const std::string& what) {
  ASSERT_EQ(got.size(), want.size()) << what;
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(got[i]), std::bit_cast<std::uint64_t>(want[i]))
        << what << " point " << i << ": " << got[i] << " instead of " << want[i];
  }
}

TEST(HostFilesCsv, KeepsEveryValueExactlyUnderAShortHeader) {
  const ScratchDirectory scratch;
  const std::string path = (scratch.path() / "x.csv").string();
  const InterferogramRecord record = measuredRecord(awkwardVolts());
  ASSERT_EQ(saveCsv(record, path), "");

  const std::vector<std::string> lines = linesOf(readWholeFile(path));
  ASSERT_EQ(lines.size(), 16 + record.volts.size());
  // The point farthest from the mean, 1e300 at point 7, is the ZPD.
  EXPECT_THAT(
      std::vector(lines.begin(), lines.begin() + 16),
      ElementsAre("# dorvane interferogram: file 2 of 3", "# sample: polystyrene film", "# operator: A. Chemist",
                  "# comment: after a 10 min purge", "# date: 2026-12-07",
                  "# time: 10:53:26.123 UTC (1796640806123 ms since 1970-01-01 00:00:00 UTC)",
                  "# started: 2026-12-07T10:53:25.000Z (1796640805000 ms since 1970-01-01 00:00:00 UTC)", "# scans: 4",
                  "# values: volts, the mean of the co-added scans", "# gain: 1", "# points: 300",
                  "# bench: family 9 model 60", "# laser wavenumber: 15798 cm-1",
                  "# undersampling: 2 (lasersamp, assumed until a real bench confirms it)",
                  "# zpd index: 7 (the centre burst's peak)", "index,volts"));
  expectSameBits(testing::csvValues(path), record.volts, "csv");
}

TEST(HostFilesCsv, AStoredBlockShowsTheBenchDateNotTheEpochAndWhatItDoesNotKnow) {
  const ScratchDirectory scratch;
  const std::string path = (scratch.path() / "block.csv").string();
  const InterferogramRecord record{
      "stored block 0\n1,2", {1.5, -2.25}, 0, "Tue Mar 14 15:09:26:07\r\n", {}, {}, 0, "", {}, {}, "", "", ""};
  ASSERT_EQ(saveCsv(record, path), "");
  EXPECT_EQ(readWholeFile(path),
            "# dorvane interferogram: stored block 0 1,2\n# bench date: Tue Mar 14 15:09:26:07\n"
            "# scans: unknown\n# values: volts, the mean of the co-added scans\n# gain: unknown\n# points: 2\n"
            "# bench: unknown\n# zpd index: 0 (the centre burst's peak)\nindex,volts\n0,1.5\n1,-2.25\n");
  const InterferogramReading reading = readInterferogramFile(path);
  EXPECT_EQ(reading.failure, "");
  EXPECT_FALSE(reading.record.gain || reading.record.scans);
}

// The list's text comes off the serial line: only the exact shape makes a name, anything else the
// fallback built from the index alone.
TEST(HostFilesStoredBlock, NamedByItsTimeAndCountedByItsSetupOrSaidUnknown) {
  EXPECT_EQ(storedBlockStem("Mon Dec 07 11:02:10:33", 4), "stored-block-Dec07-110210.33");
  EXPECT_EQ(storedBlockStem("Thu Feb 29 00:00:00:00", 0), "stored-block-Feb29-000000.00");
  for (const std::string_view garbage :
       {"", "Mon Dec 07 11:02:10:33\r", "Mon Dec 07 11:02:10", "Mon Dec 07 24:02:10:33", "Mon Feb 30 11:02:10:33",
        "Mon Dec 00 11:02:10:33", "Mon Xyz 07 11:02:10:33", "Mon Dec 07 11:0a:10:33", "Mon/Dec/07 11:02:10:33",
        "Mon Dec 07 11:02:10:3/", "../../etc/passwd:1234.5"}) {
    EXPECT_EQ(storedBlockStem(garbage, 4), "stored-block-4-undated") << garbage;
  }

  const auto setup = [](const std::string& sample, const std::string& background) {
    return std::string(kSetup) + "  scanTime 0 0x0\n  processTime 0 0x0\n" + sample + background + "  primaryZpd 0 0x0\n";
  };
  EXPECT_EQ(storedBlockScans(setup("  sampScans 16 0x10\n", "  bkgScans 16 0x10\n")), 16);
  EXPECT_EQ(storedBlockScans(setup("  sampScans 16 0x10\n", "  bkgScans 0 0x0\n")), 16);
  EXPECT_EQ(storedBlockScans(setup("  sampScans 16 0x10\n", "  bkgScans 64 0x40\n")), std::nullopt);
  EXPECT_EQ(storedBlockScans(setup("  sampScans 0 0x0\n", "  bkgScans 0 0x0\n")), std::nullopt);
  EXPECT_EQ(storedBlockScans(setup("  sampScans 16 0x10\n", "")), std::nullopt);
  EXPECT_EQ(storedBlockScans(setup("  sampScans 1e3 0x10\n", "  bkgScans 0 0x0\n")), std::nullopt);
  EXPECT_EQ(storedBlockScans(setup("  sampScansX 16 0x10\n", "  bkgScans 0 0x0\n")), std::nullopt);
}

// The host works the calendar out itself (Windows has no gmtime_r): it must agree with the system's,
// on the days that trip calendars up and on a sweep through the years the files can carry.
TEST(HostFilesTime, UtcCalendarAgreesWithTheSystemsOnEveryKindOfDay) {
  std::vector<std::int64_t> moments = {
      1,             // the epoch's first second
      94694399,      // 1972-12-31T23:59:59, the last day of the first leap year
      951782400,     // 2000-02-29, a leap day by the 400-year rule
      978307199,     // 2000-12-31T23:59:59, day 366
      4107542399,    // 2100-02-28T23:59:59, no leap day by the 100-year rule...
      4107542400,    // ...so 2100-03-01 follows
      2147483648,    // 2038-01-19T03:14:08, past a 32-bit time_t
      253402300799,  // 9999-12-31T23:59:59, the last moment a file carries
  };
  for (std::int64_t moment = 86399; moment < 253402300799; moment += 31558151) moments.push_back(moment);
  constexpr const char* kFormat = "%Y-%m-%d %H:%M:%S, day %j, %a";
  for (const std::int64_t moment : moments) {
    const auto seconds = static_cast<std::time_t>(moment);
    std::tm fields{};
    ASSERT_NE(gmtime_r(&seconds, &fields), nullptr);
    char expected[64];
    ASSERT_GT(std::strftime(expected, sizeof expected, kFormat, &fields), 0u);
    // The last millisecond of the second: it must not round up into the next one.
    EXPECT_EQ(utcTimeText(kFormat, static_cast<double>(moment) * 1000 + 999), expected) << moment;
  }
}

TEST(HostFilesJcamp, JcampconverterReadsBackTheExactValues) {
  const ScratchDirectory scratch;
  std::vector<double> tiny;  // the same significands near 1e-300
  for (const double volts : driverLikeVolts()) tiny.push_back(std::ldexp(volts, -990));
  const std::vector<std::pair<std::string, std::vector<double>>> cases = {
      {"driver-like", driverLikeVolts()},
      {"tiny", tiny},
      {"subnormal", {5e-324, -1.5e-323, 0.0, 4.4e-322, -2.5e-310}},
      {"one point", {-3.75}},
  };
  for (const auto& [what, volts] : cases) {
    const std::string path = (scratch.path() / (what + ".jdx")).string();
    ASSERT_EQ(saveJcamp(measuredRecord(volts), path), "") << what;
    const JcampReading reading = readWithJcampconverter(path);
    ASSERT_EQ(reading.failure, "") << what;
    const std::vector<std::string> header(reading.lines.begin() + 1, reading.lines.begin() + 4);
    EXPECT_THAT(header, ElementsAre("INFRARED INTERFEROGRAM", "1", std::to_string(volts.size() - 1))) << what;
    expectSameBits(reading.values, volts, what);
  }
  // What people look for, as a reader written apart from ours keeps it.
  const JcampReading reading = readWithJcampconverter((scratch.path() / "driver-like.jdx").string());
  for (const auto& [label, value] : std::vector<std::pair<std::string, std::string>>{
           {"TITLE", "polystyrene film"}, {"OWNER", "A. Chemist"}, {"DATE", "26/12/07"}, {"TIME", "10:53:26"},
           {"$COMMENT", "after a 10 min purge"}, {"$VALUES", "volts, the mean of the co-added scans"},
           {"$ZPD INDEX", "0 $$ the centre burst's peak"}}) {
    EXPECT_EQ(reading.labels.contains(label) ? reading.labels.at(label) : "(none)", value) << label;
  }
}

// Beyond 53 bits no one power-of-two scale holds them all: the largest stays exact, the rest round
// to its grid.
TEST(HostFilesJcamp, ValuesSpanningMoreThan53BitsRoundToTheGridOfTheLargest) {
  const ScratchDirectory scratch;
  const std::string path = (scratch.path() / "wide.jdx").string();
  const std::vector<double> volts = awkwardVolts();
  ASSERT_EQ(saveJcamp(measuredRecord(volts), path), "");
  const JcampReading reading = readWithJcampconverter(path);
  ASSERT_EQ(reading.failure, "");
  ASSERT_EQ(reading.values.size(), volts.size());
  EXPECT_EQ(reading.values[7], 1e300);
  const double halfStep = std::ldexp(1.0, std::ilogb(1e300) - 53);
  for (std::size_t i = 0; i < volts.size(); ++i)
    EXPECT_LE(std::fabs(reading.values[i] - volts[i]), halfStep) << i;
}

TEST(HostFilesJcamp, HeaderComesInOrderWithinEightyColumns) {
  const ScratchDirectory scratch;
  const std::string path = (scratch.path() / "x.jdx").string();
  ASSERT_EQ(saveJcamp(measuredRecord(driverLikeVolts()), path), "");
  std::vector<std::string> header;
  for (const std::string& line : linesOf(readWholeFile(path))) {
    EXPECT_LE(line.size(), 80u) << line;
    if (line.starts_with("##")) header.push_back(line);
  }
  EXPECT_THAT(
      header,
      ElementsAre("##TITLE=polystyrene film", "##JCAMP-DX=4.24", "##DATA TYPE=INFRARED INTERFEROGRAM",
                  "##ORIGIN=dorvane", "##OWNER=A. Chemist", "##DATE=26/12/07", "##TIME=10:53:26",
                  "##LONGDATE=2026/12/07 10:53:26 +0000", "##SPECTROMETER/DATA SYSTEM=FTIR bench family 9 model 60",
                  "##$COMMENT=after a 10 min purge", "##$TIMESTAMP MS=1796640806123",
                  "##$STARTED MS=1796640805000", "##$SCANS=4",
                  "##$VALUES=volts, the mean of the co-added scans", "##$GAIN=1", "##$POINTS=300",
                  "##$LASER WAVENUMBER=15798",
                  "##$UNDERSAMPLING=2 $$ lasersamp, assumed until a real bench confirms it",
                  "##$ZPD INDEX=0 $$ the centre burst's peak",
                  "##$SETUP specStat.reInit=0",
                  "##$SETUP specStat.newSrq=1", "##$SETUP serialNum=1194393623 0x47310417", "##XUNITS=POINTS",
                  "##YUNITS=VOLTS", "##XFACTOR=1", "##YFACTOR=3.725290298461914E-09", "##FIRSTX=0",
                  "##LASTX=299", "##DELTAX=1", "##FIRSTY=-10", "##MAXY=9.999999046325684", "##MINY=-10",
                  "##NPOINTS=300", "##XYDATA=(X++(Y..Y))", "##END="));
}

TEST(HostFilesJcamp, HostileBenchTextCannotBreakTheFile) {
  const ScratchDirectory scratch;
  const std::string path = (scratch.path() / "x.jdx").string();
  InterferogramRecord record = measuredRecord(driverLikeVolts());
  record.sample = "a\r\n##END=\n##TITLE=b";
  record.operatorName = "$$ nobody\n##XYDATA=(XY..XY)";
  record.comment = "c\x1b[2J ##END= $$ hidden " + std::string(100, 'z');
  record.timestampMs = 0;
  record.undersampling.reset();
  record.benchDate = "Tue Mar 14\a 15:09:26:07\r\n##XYDATA=(X++(Y..Y))";
  record.setupText = std::string(kSetup) + "  evil\x01\x1b[2J ##END= $$ hidden\t" + std::string(300, 'x') +
                     "\n##XYDATA=(XY..XY)\n\n  \xff=\x7f" + std::string(100, 'y') + "\n";
  ASSERT_EQ(saveJcamp(record, path), "");

  const std::string text = readWholeFile(path);
  EXPECT_THAT(text, HasSubstr("\n##$SETUP evil=[2J # #END= $ $ hidden xxx"));
  EXPECT_THAT(text, HasSubstr("\n##$SETUP __XYDATA_(XY..XY)=\n"));
  EXPECT_THAT(text, HasSubstr("\n##OWNER=$ $ nobody # #XYDATA=(XY..XY)\n"));
  EXPECT_THAT(text, HasSubstr("\n##$COMMENT=c [2J # #END= $ $ hidden zzz"));
  for (const char* label : {"\n##DATE=", "\n##TIME=", "\n##LONGDATE="}) {
    EXPECT_EQ(text.find(label), std::string::npos) << label << ": no time known, no 1970 either";
  }
  EXPECT_TRUE(
      std::all_of(text.begin(), text.end(), [](char c) { return c == '\n' || (c >= 0x20 && c < 0x7F); }));
  int structuralLabels = 0;
  for (const std::string& line : linesOf(text)) {
    EXPECT_LE(line.size(), 80u) << line;
    EXPECT_EQ(line.find("##", 1), std::string::npos) << line;
    // Only our own note is a comment.
    EXPECT_TRUE(line.find("$$") == std::string::npos || line.starts_with("##$ZPD INDEX=")) << line;
    structuralLabels +=
        line.starts_with("##XYDATA") || line.starts_with("##END") || line.starts_with("##TITLE");
  }
  EXPECT_EQ(structuralLabels, 3);
  const JcampReading reading = readWithJcampconverter(path);
  ASSERT_EQ(reading.failure, "");
  expectSameBits(reading.values, record.volts, "hostile");
}

using Output = std::function<std::string(const InterferogramRecord&, const std::string&)>;
const std::vector<std::pair<std::string, Output>> kOutputs = {
    {"csv", saveCsv},
    {"jcamp", saveJcamp},
    {"png", savePng}};

TEST(HostFilesWhole, AFailureNamesTheFileOnOneLineAndLeavesNothing) {
  const ScratchDirectory scratch;
  const std::string plainFile = scratch.write("plain", "x");
  fs::create_directory(scratch.path() / "taken");  // the temporary is written, the rename fails
  const std::vector<std::pair<std::string, std::string>> cases = {
      {(scratch.path() / "missing" / "x").string(), "No such file or directory"},
      {plainFile + "/x", "Not a directory"},
      {(scratch.path() / "taken").string(), "Is a directory"},
  };
  for (const auto& [format, save] : kOutputs) {
    for (const auto& [path, reason] : cases) {
      EXPECT_EQ(save(measuredRecord({1.0, 2.0}), path), "cannot write " + path + ": " + reason) << format;
      EXPECT_EQ(namesIn(scratch.path()), (std::set<std::string>{"plain", "taken"})) << format;
    }
  }
}

TEST(HostFilesWhole, AnExistingFileIsReplacedWhole) {
  const ScratchDirectory scratch;
  for (const auto& [format, save] : kOutputs) {
    const std::string path = scratch.write("x", std::string(100000, 'o'));
    const std::string fresh = (scratch.path() / "fresh").string();
    ASSERT_EQ(save(measuredRecord({0.5, -0.25}), path), "") << format;
    ASSERT_EQ(save(measuredRecord({0.5, -0.25}), fresh), "") << format;
    EXPECT_EQ(readWholeFile(path), readWholeFile(fresh)) << format;
    EXPECT_EQ(namesIn(scratch.path()), (std::set<std::string>{"x", "fresh"})) << format;
  }
}

TEST(HostFilesPlot, DrawsA1200By700PngWhateverTheTitleHolds) {
  const ScratchDirectory scratch;
  const std::string path = (scratch.path() / "it's a plot.png").string();
  InterferogramRecord record = measuredRecord(driverLikeVolts());
  record.title = "it's \"quoted\" \\ {x}_1^2 @ & \n set output '/tmp/evil'";
  ASSERT_EQ(savePng(record, path), "") << "(gnuplot-nox installs gnuplot)";

  // The signature, then the IHDR chunk: width 1200, height 700.
  const std::string png = readWholeFile(path);
  EXPECT_EQ(png.substr(0, 24), std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\x04\xb0\0\0\x02\xbc", 24));
  EXPECT_EQ(namesIn(scratch.path()), std::set<std::string>{"it's a plot.png"});
}


// The polystyrene film's bands over the demo's 450 to 4000 cm-1, and twenty bands crowded at the
// picture's left edge: the labels keep their bands' order, stay inside the frame, stand at least
// 1 % of the axis apart (11 px of the 1200 px picture; the labels' text is 8 points high), and a
// label with room beside its band stands at it.
TEST(HostFilesPlot, BandLabelsNeverOverlapAndStayInTheirBandsOrder) {
  std::vector<double> bands = {3060.0, 3026.4, 3001.4, 2849.5, 1942.9, 1871.0, 1801.6,
                               1601.2, 1583.0, 1154.5, 1069.1, 1028.3, 906.7, 698.9};
  for (int i = 0; i < 20; ++i) bands.push_back(3999 - 0.5 * i);
  const double low = 450, high = 4000;
  const std::vector<double> places = bandLabelPlaces(bands, low, high);
  ASSERT_EQ(places.size(), bands.size());
  std::vector<std::size_t> order(bands.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&bands](std::size_t a, std::size_t b) { return bands[a] > bands[b]; });
  for (std::size_t k = 0; k < order.size(); ++k) {
    EXPECT_GE(places[order[k]], low);
    EXPECT_LE(places[order[k]], high);
    if (k > 0) {
      EXPECT_GE(places[order[k - 1]] - places[order[k]], 0.01 * (high - low)) << bands[order[k]];
    }
  }
  EXPECT_DOUBLE_EQ(places[3], 2849.5);
  EXPECT_DOUBLE_EQ(places[13], 698.9);
}

// A set with a plot asked for: without gnuplot it is saved without its PNG; with a gnuplot that
// fails, nothing of it is.
TEST(HostFilesPlot, TheGnuplotOnThePathAtTheCallIsTheOneUsed) {
  const ScratchDirectory scratch;
  fs::create_directory(scratch.path() / "bin");
  const ScopedEnvironmentVariable path("PATH", (scratch.path() / "bin").string());  // PATH is that folder alone
  const std::string base = (scratch.path() / "x").string();
  const InterferogramRecord record = measuredRecord({1.0, 2.0});
  const SavedSet missing = saveInterferogramSet(record, base, true, Existing::Keep);
  EXPECT_EQ(missing.failure, "");
  EXPECT_TRUE(missing.plotterMissing);
  EXPECT_EQ(missing.files.png(), "");
  EXPECT_EQ(namesIn(scratch.path()), (std::set<std::string>{"bin", "x.csv", "x.jdx"}));

  // One that quits unread: the rest of a long script must not kill the host with SIGPIPE.
  const std::string fake = scratch.write("bin/gnuplot",
                                         "#!/bin/sh\necho 'gnuplot> set output' >&2\necho '   ^' >&2\n"
                                         "echo '     line 0:    cannot open file' >&2\nexit 1\n");
  fs::permissions(fake, fs::perms::owner_all);
  const SavedSet failed = saveInterferogramSet(measuredRecord(std::vector<double>(200000, 1.25)), base + "-2", true, Existing::Keep);
  EXPECT_EQ(failed.failure, "cannot draw " + base + "-2.png: gnuplot: line 0: cannot open file");
  EXPECT_FALSE(failed.plotterMissing);
  EXPECT_EQ(namesIn(scratch.path()), (std::set<std::string>{"bin", "x.csv", "x.jdx"}));
}

// ---- Reading back -------------------------------------------------------------------------------

const std::vector<std::pair<std::string, Output>> kInterferogramFiles = {{"csv", saveCsv}, {"jcamp", saveJcamp}};

TEST(HostFilesRead, ReadsBackEachFormatBitForBitWithItsSampling) {
  const ScratchDirectory scratch;
  const std::vector<std::pair<std::string, std::vector<double>>> cases = {
      {"driver-like", driverLikeVolts()},
      {"subnormal", {5e-324, -1.5e-323, 0.0, -0.0, 4.4e-322, -2.5e-310}},
  };
  for (const auto& [format, save] : kInterferogramFiles) {
    for (const auto& [what, volts] : cases) {
      const std::string path = (scratch.path() / (what + "." + format)).string();
      ASSERT_EQ(save(measuredRecord(volts), path), "") << format;
      const InterferogramReading reading = readInterferogramFile(path);
      ASSERT_EQ(reading.failure, "") << format << " " << what;
      expectSameBits(reading.record.volts, volts, format + " " + what);
      EXPECT_EQ(reading.record.laserWavenumber, 15798.0) << format;
      EXPECT_EQ(reading.record.undersampling, 2) << format;
      EXPECT_EQ(reading.record.scans, 4) << format;
      EXPECT_EQ(reading.record.startedMs, 1796640805000.0) << format;
      // The JCAMP-DX file's title is the sample's, when it has one; it names the bench and the
      // moment to the second, which the live view shows of a saved file.
      EXPECT_EQ(reading.record.title, format == "csv" ? "file 2 of 3" : "polystyrene film") << format;
      if (format == "jcamp") {
        EXPECT_EQ(reading.record.benchIdentity, (9 << 16) | 60);
        EXPECT_EQ(reading.record.timestampMs, 1796640806000.0);
      }
    }
    // Saved before the files carried the sampling: read, the sampling unknown.
    InterferogramRecord older = measuredRecord({1.0, -2.0, 0.5});
    older.laserWavenumber.reset();
    older.undersampling.reset();
    const std::string path = (scratch.path() / ("older." + format)).string();
    ASSERT_EQ(save(older, path), "");
    const InterferogramReading reading = readInterferogramFile(path);
    ASSERT_EQ(reading.failure, "") << format;
    EXPECT_FALSE(reading.record.laserWavenumber || reading.record.undersampling) << format;
  }
}

std::string replaced(std::string text, const std::string& what, const std::string& with) {
  const std::size_t at = text.find(what);
  EXPECT_NE(at, std::string::npos) << what;
  return at == std::string::npos ? text : text.replace(at, what.size(), with);
}

TEST(HostFilesRead, ADamagedOrForeignFileIsRefusedSayingWhatIsWrong) {
  const ScratchDirectory scratch;
  // Saved as 2 -4 1 8 times 0.5.
  ASSERT_EQ(saveJcamp(measuredRecord({1.0, -2.0, 0.5, 4.0}), (scratch.path() / "good.jdx").string()), "");
  const std::string jcamp = readWholeFile(scratch.path() / "good.jdx");
  const std::string csv = "# dorvane interferogram: t\n# points: 3\nindex,volts\n";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "it is empty"},
      {"\n \r\n", "it is empty"},
      {"\x89PNG\r\n\x1a\n", "not an interferogram saved by dorvane"},
      {"index,volts\n0,1\n1,2\n", "not an interferogram saved by dorvane"},
      {csv + "0,1\n2,2\n1,3\n", "line 5: index 2 where 1 belongs"},
      {csv + "0,1\n1,volts\n2,3\n", "line 5: \"volts\" is not a number"},
      {csv + "0,1\n1, 2\n2,3\n", "line 5: \" 2\" is not a number"},
      {csv + "0,1\n1,nan\n2,3\n", "line 5: the value \"nan\" is not a finite number"},
      {csv + "0,1\n1,2\n", "it says 3 points but holds 2 (cut short?)"},
      {csv + "0,1\n\n1,2\n2,3\n", "line 6: a point after a blank line"},
      {"# dorvane interferogram: t\n# points: 99999999999\nindex,volts\n", "line 2: the point count 99999999999 is outside 1 to 4194304"},
      {"# dorvane interferogram: t\n# undersampling: 3\nindex,volts\n0,1\n", "line 2: the undersampling ratio 3 is not 1, 2, 4 or 8"},
      {"# dorvane interferogram: t\n# laser wavenumber: -1 cm-1\nindex,volts\n0,1\n", "the laser wavenumber \"-1\" is not above 0"},
      {"# dorvane interferogram: t\nwavenumber,value\n1,2\n", "line 2: \"wavenumber,value\" where the column names index,volts belong"},
      {"# dorvane interferogram: t\nindex,volts\n", "it holds no points"},
      {replaced(jcamp, "INFRARED INTERFEROGRAM", "INFRARED SPECTRUM"), "a JCAMP-DX file of \"INFRARED SPECTRUM\", not an interferogram"},
      {replaced(jcamp, "\n0 2 -4 1 8\n", "\n0 2J4\n"), "the value \"2J4\" is not a whole number"},
      {replaced(jcamp, "\n0 2 -4 1 8\n", "\n0 2 -4\n3 8\n"), "the line starts at point 3 where 2 belongs"},
      {replaced(jcamp, "\n0 2 -4 1 8\n", "\n0 2 -4 1 9007199254740993\n"), "the value 9007199254740993 is outside"},
      {replaced(jcamp, "##YFACTOR=0.5", "##YFACTOR=1E308"), "line 35: the value \"2\" times ##YFACTOR is not a finite number"},
      {replaced(jcamp, "##NPOINTS=4", "##NPOINTS=5"), "it says 5 points but holds 4 (cut short?)"},
      {replaced(jcamp, "##END=", ""), "it ends before ##END= (cut short?)"},
      {replaced(jcamp, "##XYDATA=(X++(Y..Y))", "##XYDATA=(XY..XY)"), "not (X++(Y..Y)) as dorvane writes them"},
  };
  for (const auto& [content, says] : cases) {
    const InterferogramReading reading = readInterferogramFile(scratch.write("bad", content));
    EXPECT_THAT(reading.failure, HasSubstr(says)) << content.substr(0, 200);
    EXPECT_EQ(reading.failure.find('\n'), std::string::npos);
    EXPECT_TRUE(reading.record.volts.empty());
  }
  // Its size alone refuses it: nothing of it is read.
  const std::string huge = scratch.write("huge", "");
  fs::resize_file(huge, kLargestInterferogramFile + 1);
  EXPECT_EQ(readInterferogramFile(huge).failure, "it is larger than 512 MiB: no interferogram of dorvane's is");
}

// ---- Spectra ------------------------------------------------------------------------------------

TEST(HostFilesSpectrum, JcampconverterAndTheCsvGiveBackEveryWavenumberAndValueExactly) {
  const ScratchDirectory scratch;
  SpectrumRecord record;
  record.title = "absorbance of x.jdx against b.jdx";
  record.kind = SpectrumKind::Absorbance;
  record.values = awkwardVolts();
  record.values[3] = NAN;  // missing points: where the ratio is undefined
  record.values[200] = NAN;
  for (std::size_t k = 0; k < record.values.size(); ++k) record.wavenumbers.push_back(400.2 + k * 0.241058349609375);
  record.parameters = {{"laser wavenumber", "15798", "cm-1", ""}, {"apodization", "boxcar", "", ""}};
  const std::string jcamp = (scratch.path() / "x.jdx").string();
  const std::string csv = (scratch.path() / "x.csv").string();
  ASSERT_EQ(writeFileSet({spectrumJcamp(record, jcamp), spectrumCsv(record, csv)}, Existing::Keep), "");

  const JcampReading reading = readWithJcampconverter(jcamp);
  ASSERT_EQ(reading.failure, "");
  EXPECT_EQ(reading.lines[1], "INFRARED SPECTRUM");
  expectSameBits(reading.xs, record.wavenumbers, "jcamp x");
  expectSameBits(reading.values, record.values, "jcamp y");  // NaN as "?", read back as NaN
  const testing::CsvSpectrum table = testing::csvSpectrum(csv);
  expectSameBits(table.wavenumbers, record.wavenumbers, "csv x");
  expectSameBits(table.values, record.values, "csv y");

  const std::string text = readWholeFile(jcamp);
  for (const char* label : {"\n##XUNITS=1/CM\n", "\n##YUNITS=ABSORBANCE\n", "\n##$LASER WAVENUMBER=15798\n",
                            "\n##$APODIZATION=boxcar\n", "\n##XYDATA=(XY..XY)\n", "\n400.9231750488281, ?\n"}) {
    EXPECT_NE(text.find(label), std::string::npos) << label;
  }
  EXPECT_THAT(readWholeFile(csv), HasSubstr("\n# laser wavenumber: 15798 cm-1\n# apodization: boxcar\nwavenumber,value\n"));
}

// A set is refused whole by any of its names that holds a file, the PNG's too when no plot is drawn
// this time; replacing, it replaces the old set whole, the PNG drawn for the old data included.
TEST(HostFilesWhole, ASetIsRefusedWholeByAnyTakenNameOrReplacesTheOldSetWhole) {
  const ScratchDirectory scratch;
  const InterferogramRecord interferogram = measuredRecord({0.5, -0.25});
  SpectrumRecord spectrum;
  spectrum.wavenumbers = {1000, 1001, 1002};
  spectrum.values = {0.5, NAN, 0.25};
  using SaveSet = std::function<SavedSet(const std::string&, Existing)>;
  const std::vector<std::pair<std::string, SaveSet>> sets = {
      {"interferogram", [&](const std::string& base, Existing existing) { return saveInterferogramSet(interferogram, base, false, existing); }},
      {"spectrum", [&](const std::string& base, Existing existing) { return saveSpectrumSet(spectrum, base, false, existing); }}};
  for (const auto& [kind, save] : sets) {
    fs::create_directory(scratch.path() / kind);
    const std::string base = (scratch.path() / kind / "x").string();
    for (const std::string taken : {".jdx", ".png"}) {
      const std::string path = scratch.write(kind + "/x" + taken, "a user's own file");
      EXPECT_EQ(save(base, Existing::Keep).failure, "cannot write " + path + ": the file exists (--overwrite replaces it)") << kind;
      EXPECT_EQ(readWholeFile(path), "a user's own file") << kind;
      EXPECT_EQ(namesIn(scratch.path() / kind), std::set<std::string>{"x" + taken}) << kind;
      fs::remove(path);
    }
    scratch.write(kind + "/x.csv", "the old data");
    scratch.write(kind + "/x.png", "the old data's plot");
    const SavedSet replaced = save(base, Existing::Replace);
    EXPECT_EQ(replaced.failure, "") << kind;
    EXPECT_EQ(namesIn(scratch.path() / kind), (std::set<std::string>{"x.csv", "x.jdx"})) << kind;
    EXPECT_NE(readWholeFile(base + ".csv"), "the old data") << kind;
  }

  // A file that appears at a later member's name while the set is filled: the member already moved
  // into place is taken back.
  const std::string first = (scratch.path() / "first").string();
  const std::string second = (scratch.path() / "second").string();
  const FillTemporary mine = [](TemporaryFile& file) { return file.write("mine"); };
  const FillTemporary intruded = [&](TemporaryFile& file) {
    scratch.write("second", "someone else's");
    return file.write("mine");
  };
  EXPECT_EQ(writeFileSet({{first, mine}, {second, intruded}}, Existing::Keep),
            "cannot write " + second + ": the file exists (--overwrite replaces it)");
  EXPECT_EQ(namesIn(scratch.path()), (std::set<std::string>{"interferogram", "spectrum", "second"}));
  EXPECT_EQ(readWholeFile(second), "someone else's");
}

}  // namespace
}  // namespace dorvane::host
