// Spectra read back from the host's own files: every wavenumber and value bit for bit, missing ones
// as missing, and a damaged or foreign file refused with one line that says what is wrong.
#include "host/files/processed_file_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <filesystem>
#include <map>

#include "tests/support/test_support.h"
#include "host/files/interferogram_files.h"

namespace dorvane::host {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using testing::readWholeFile;
using testing::ScratchDirectory;

// Both files of the record, written as the host writes them: "" or the failure.
std::string saveBoth(const SpectrumRecord& record, const std::string& base) {
  return writeFileSet({spectrumCsv(record, base + ".csv"), spectrumJcamp(record, base + ".jdx")}, Existing::Replace);
}

// Values that need all 17 digits, subnormals, a negative zero and extremes; wavenumbers off any
// short decimal, as the library's axis gives them.
SpectrumRecord awkwardRecord(SpectrumKind kind) {
  SpectrumRecord record;
  record.title = "absorbance of x.jdx against b.jdx";
  record.kind = kind;
  record.values = {0.1, 0.1 + 0.2, 1.0 / 3, -0.0, 5e-324, -2.5e-310, 1e300, -1.7976931348623157e308, 0.0};
  for (int i = 0; record.values.size() < 300; ++i) record.values.push_back(std::sin(i) * std::pow(10.0, i % 40 - 20));
  record.values[3] = NAN;  // missing, where a ratio is undefined
  record.values[299] = NAN;
  for (std::size_t k = 0; k < record.values.size(); ++k) record.wavenumbers.push_back(static_cast<double>(k) * (15798.0 / 65537));
  record.parameters = {{"laser wavenumber", "15798", "cm-1", ""}, {"apodization", "boxcar", "", ""}};
  return record;
}

void expectSameValues(const std::vector<double>& got, const std::vector<double>& want, const std::string& what) {
  ASSERT_EQ(got.size(), want.size()) << what;
  for (std::size_t i = 0; i < want.size(); ++i) {
    if (std::isnan(want[i])) {
      EXPECT_TRUE(std::isnan(got[i])) << what << " point " << i << " is missing but reads " << got[i];
    } else {
      EXPECT_EQ(std::bit_cast<std::uint64_t>(got[i]), std::bit_cast<std::uint64_t>(want[i]))
          << what << " point " << i << ": " << got[i] << " instead of " << want[i];
    }
  }
}

TEST(HostSpectrumRead, ReadsBackEachFormatAndKindBitForBitMissingValuesIncluded) {
  const ScratchDirectory scratch;
  for (const SpectrumKind kind : {SpectrumKind::SingleBeam, SpectrumKind::Transmittance, SpectrumKind::Absorbance}) {
    const SpectrumRecord record = awkwardRecord(kind);
    const std::string base = (scratch.path() / spectrumKindName(kind)).string();
    ASSERT_EQ(saveBoth(record, base), "");
    for (const std::string extension : {".csv", ".jdx"}) {
      const std::string what = spectrumKindName(kind) + extension;
      EXPECT_TRUE(isSavedSpectrum(base + extension)) << what;
      const SpectrumReading reading = readSpectrumFile(base + extension);
      ASSERT_EQ(reading.failure, "") << what;
      EXPECT_EQ(reading.record.title, record.title) << what;
      EXPECT_EQ(reading.record.kind, kind) << what;
      expectSameValues(reading.record.wavenumbers, record.wavenumbers, what + " wavenumbers");
      expectSameValues(reading.record.values, record.values, what + " values");
    }
  }
}

TEST(HostSpectrumRead, ADamagedOrForeignFileIsRefusedSayingWhatIsWrong) {
  const ScratchDirectory scratch;
  SpectrumRecord record;
  record.title = "t";
  record.kind = SpectrumKind::Absorbance;
  record.wavenumbers = {400, 400.5, 401, 401.5};
  record.values = {1, NAN, -0.25, 3};
  const std::string base = (scratch.path() / "good").string();
  ASSERT_EQ(saveBoth(record, base), "");
  const std::map<std::string, std::string> good = {{".csv", readWholeFile(base + ".csv")}, {".jdx", readWholeFile(base + ".jdx")}};
  ASSERT_THAT(good.at(".csv"), HasSubstr("# points: 4\nwavenumber,value\n400,1\n400.5,\n401,-0.25\n401.5,3\n"));
  ASSERT_THAT(good.at(".jdx"), HasSubstr("\n##XYDATA=(XY..XY)\n400, 1\n400.5, ?\n401, -0.25\n401.5, 3\n##END=\n"));

  const auto expectRefused = [&](const std::string& content, const std::string& says) {
    const SpectrumReading reading = readSpectrumFile(scratch.write("bad", content));
    EXPECT_THAT(reading.failure, HasSubstr(says)) << content.substr(0, 300);
    EXPECT_EQ(reading.failure.find('\n'), std::string::npos);
    EXPECT_TRUE(reading.record.values.empty() && reading.record.wavenumbers.empty());
  };
  expectRefused("", "it is empty");
  expectRefused("\x89PNG\r\n\x1a\n", "not a spectrum saved by dorvane");
  expectRefused("# dorvane interferogram: t\n# points: 1\nindex,volts\n0,1\n", "not a spectrum saved by dorvane");
  EXPECT_EQ(readSpectrumFile((scratch.path() / "missing.csv").string()).failure, "no such file");
  // Its size alone refuses it: nothing of it is read.
  const std::string huge = scratch.write("huge", "");
  fs::resize_file(huge, kLargestSpectrumFile + 1);
  EXPECT_EQ(readSpectrumFile(huge).failure, "it is larger than 512 MiB: no spectrum of dorvane's is");

  // A good file of the format with one piece of it replaced.
  struct Damage {
    std::string format, piece, with, says;
  };
  const std::vector<Damage> damages = {
      {".csv", "400.5,\n", "400.5,1.5x\n", "line 6: \"1.5x\" is not a number"},
      {".csv", "400.5,\n", "400.5,?\n", "line 6: \"?\" is not a number"},
      {".csv", "401,", "inf,", "line 7: the value \"inf\" is not a finite number"},
      {".csv", "401,", "400.25,", "line 7: the wavenumber \"400.25\" is not above the one before"},
      {".csv", "400.5,\n", "400.5\n", "line 6: \"400.5\" is not wavenumber,value"},
      {".csv", "# points: 4", "# points: 5", "it says 5 points but holds 4 (cut short?)"},
      {".csv", "401,-0.25\n401.5,3\n", "", "it says 4 points but holds 2 (cut short?)"},
      {".csv", "401,-0.25\n", "\n401,-0.25\n", "line 8: a point after a blank line"},
      {".csv", "# points: 4", "# points: 99999999999", "line 3: the point count 99999999999 is outside 1 to 8388609"},
      {".csv", "# values: absorbance", "# values: reflectance", "line 2: the values \"reflectance\" are not single beam"},
      {".csv", "# values: absorbance\n", "", "it has no \"# values:\" line"},
      {".csv", "wavenumber,value", "index,volts", "line 4: \"index,volts\" where the column names wavenumber,value belong"},
      {".jdx", "INFRARED SPECTRUM", "INFRARED INTERFEROGRAM", "a JCAMP-DX file of \"INFRARED INTERFEROGRAM\", not a spectrum"},
      {".jdx", "\n401, -0.25\n", "\n401, -0.2.5\n", "\"-0.2.5\" is not a number"},
      {".jdx", "\n401, -0.25\n", "\n401 -0.25\n", "\"401 -0.25\" is not X, Y"},
      {".jdx", "##NPOINTS=4", "##NPOINTS=3", "it says 3 points but holds 4 (cut short?)"},
      {".jdx", "401.5, 3\n##END=\n", "", "it ends before ##END= (cut short?)"},
      {".jdx", "##YUNITS=ABSORBANCE", "##YUNITS=KUBELKA-MUNK", "##YUNITS is \"KUBELKA-MUNK\", not ARBITRARY UNITS"},
      {".jdx", "##YFACTOR=1", "##YFACTOR=0.5", "##YFACTOR is \"0.5\", not 1 as in dorvane's spectra"},
      {".jdx", "##XYDATA=(XY..XY)", "##XYDATA=(X++(Y..Y))", "not (XY..XY) as dorvane writes them"},
  };
  for (const Damage& damage : damages) {
    std::string content = good.at(damage.format);
    const std::size_t at = content.find(damage.piece);
    ASSERT_NE(at, std::string::npos) << damage.piece;
    expectRefused(content.replace(at, damage.piece.size(), damage.with), damage.says);
  }
}

// The plot command takes each file to its reader by what the file's opening says.
TEST(HostSpectrumRead, OnlyTheHostsSpectraAreTakenForSpectra) {
  const ScratchDirectory scratch;
  InterferogramRecord interferogram;
  interferogram.volts = {1.0, -2.0, 0.5};
  const std::string base = (scratch.path() / "interferogram").string();
  ASSERT_EQ(writeFileSet({interferogramCsv(interferogram, base + ".csv"), interferogramJcamp(interferogram, base + ".jdx")},
                         Existing::Replace),
            "");
  EXPECT_FALSE(isSavedSpectrum(base + ".csv"));
  EXPECT_FALSE(isSavedSpectrum(base + ".jdx"));
  EXPECT_FALSE(isSavedSpectrum(scratch.write("empty", "")));
  EXPECT_FALSE(isSavedSpectrum((scratch.path() / "missing.jdx").string()));
  EXPECT_FALSE(isSavedSpectrum(scratch.path().string()));
}

}  // namespace
}  // namespace dorvane::host
