// The qualification's figures on the virtual bench's model of its light: a healthy bench passes
// every test, each fault at a size a lab would call out of order fails the test meant to catch it,
// and the same fault just inside its tolerance passes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "host/qualification/figures.h"
#include "sim/instrument_data.h"

namespace dorvane::testing {
namespace {

using host::InterferogramRecord;
using namespace host::qualification;

constexpr std::uint32_t kPoints = 65535;  // what the driver brings of the bench's best

// A co-add of `scans` scans as the bench sends it, its noise drawn at once: the sum of the scans'
// independent noise is the noise of one times the square root of their number.
InterferogramRecord coAdded(const std::vector<double>& clean, int scans, double noiseFactor, std::uint64_t seed) {
  std::mt19937_64 random(seed);
  std::normal_distribution<double> noise(0, 4 * noiseFactor * std::sqrt(scans));
  InterferogramRecord record;
  record.volts.resize(clean.size());
  for (std::size_t i = 0; i < clean.size(); ++i) record.volts[i] = scans * clean[i] + noise(random);
  record.scans = scans;
  record.laserWavenumber = 15798.0;  // what the host assumes, whatever the bench's laser does
  record.undersampling = 2;
  record.benchIdentity = 9 << 16 | 60;
  return record;
}

RawFiles measured(const sim::BenchFaults& faults, const QualificationSettings& settings, std::uint64_t seed) {
  sim::ScanOptics open;
  open.faults = faults;
  sim::ScanOptics film = open;
  film.inBeam = sim::Sample::Polystyrene;
  const std::vector<double> openScan = sim::cleanInterferogram(kPoints, open), filmScan = sim::cleanInterferogram(kPoints, film);
  RawFiles raw;
  for (int i = 0; i < 2; ++i) {
    raw.backgrounds.push_back(coAdded(openScan, settings.scans, faults.noiseFactor, seed + i));
    raw.backgroundNames.push_back("background-00" + std::to_string(i + 1) + ".jdx");
  }
  for (int i = 0; i < settings.limits.repeat_samples; ++i) {
    raw.samples.push_back(coAdded(filmScan, settings.scans, faults.noiseFactor, seed + 10 + i));
    raw.sampleNames.push_back("sample-00" + std::to_string(i + 1) + ".jdx");
  }
  return raw;
}

// The tests a run failed, by the names its failure lines begin with.
std::set<std::string> failedTests(const Figures& figures) {
  std::set<std::string> failed;
  for (const std::string& line : figures.failures) failed.insert(line.substr(0, line.find(':')));
  return failed;
}

struct Case {
  const char* name;
  sim::BenchFaults faults;
  std::set<std::string> failing;
};

TEST(Qualification, EachFaultFailsTheTestThatCatchesItAndOnlyPastItsTolerance) {
  const QualificationSettings settings = defaultSettings();
  const Figures healthy = computeFigures(measured({}, settings, 1), settings, std::nullopt);
  ASSERT_THAT(healthy.failures, ::testing::IsEmpty());
  EXPECT_TRUE(healthy.tests["energy"]["reference"]["self"].get<bool>());
  const Reference reference{"healthy", "", healthy.nominalResolution, healthy.levels, healthy.burst};

  const std::vector<Case> cases = {
      {"healthy, another day", {}, {}},
      {"laser 1000 ppm off", {.laserErrorPpm = 1000}, {"wavenumber accuracy"}},
      {"laser 200 ppm off", {.laserErrorPpm = 200}, {}},
      {"mirror tilted 40 µrad", {.misalignmentMicroradians = 40}, {"resolution", "energy"}},
      {"mirror tilted 10 µrad", {.misalignmentMicroradians = 10}, {}},
      {"detector noise x10", {.noiseFactor = 10}, {"100 % line", "repeatability"}},
      {"detector noise x2", {.noiseFactor = 2}, {}},
      {"source at half its output", {.sourceOutput = 0.5}, {"energy"}},
      {"source at 80 %", {.sourceOutput = 0.8}, {}},
  };
  for (const Case& c : cases) {
    const Figures figures = computeFigures(measured(c.faults, settings, 100), settings, reference);
    EXPECT_EQ(failedTests(figures), c.failing) << c.name << ":\n" << ::testing::PrintToString(figures.failures);
  }
}

TEST(Qualification, NoFilmInTheBeamIsAFailureThatSaysSo) {
  QualificationSettings settings = defaultSettings();
  settings.limits.repeat_samples = 2;
  RawFiles raw = measured({}, settings, 7);
  raw.samples = raw.backgrounds;  // a background given as the sample
  const Figures figures = computeFigures(raw, settings, std::nullopt);
  EXPECT_THAT(figures.failures, ::testing::Contains(::testing::HasSubstr("none of the film's bands was found")));
  EXPECT_FALSE(figures.tests["wavenumber_accuracy"]["passed"].get<bool>());
  EXPECT_FALSE(figures.tests["repeatability"]["passed"].get<bool>());
}

}  // namespace
}  // namespace dorvane::testing
