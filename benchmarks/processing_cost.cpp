// Prints what each processing step costs on double-sided interferograms of 16 Ki, 64 Ki and 256 Ki
// points with the default options, ours (the C++ steps, and the whole road through the C interface)
// beside the numpy reference's, and the time the same points take to come off the bench.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

#include "dorvane_spectra.h"
#include "spectra/fft.h"
#include "spectra/spectra.h"
#include "tests/support/child_process.h"

namespace {

namespace fs = std::filesystem;
namespace sp = dorvane::spectra;

enum Step { kDc, kZpd, kApodize, kFft, kPhase, kWhole, kSteps };
const char* const kStepNames[kSteps] = {"DC removal", "ZPD search", "apodize, zero-fill, rotate",
                                        "FFT", "Mertz phase", "whole pipeline"};

// A broad band and two lines under a small linear phase, centre burst in the middle, a little noise.
std::vector<double> interferogram(std::size_t points) {
  struct Band {
    double wavenumber, width, amplitude;
  };
  constexpr Band kBands[] = {{4000, 1500, 1.0}, {2349, 15, 0.3}, {1601, 8, 0.2}};
  const double dx = sp::Sampling{}.spacingCm();
  std::mt19937_64 random(points);
  std::normal_distribution<double> noise(0, 1e-3);
  std::vector<double> y(points);
  for (std::size_t j = 0; j < points; ++j) {
    const double x = (static_cast<double>(j) - static_cast<double>(points / 2)) * dx;
    y[j] = 0.6 + noise(random);
    for (const Band& band : kBands) {
      const double phase = 0.2 + 2 * std::numbers::pi * band.wavenumber * 0.3 * dx;
      y[j] += band.amplitude * std::exp(-2 * std::pow(std::numbers::pi * band.width * x, 2)) *
              std::cos(2 * std::numbers::pi * band.wavenumber * x + phase);
    }
  }
  return y;
}

// The median seconds of `run` over `repetitions`, `prepare` (untimed) before each.
template <typename Prepare, typename Run>
double median(int repetitions, Prepare&& prepare, Run&& run) {
  std::vector<double> seconds;
  for (int i = 0; i < repetitions; ++i) {
    prepare();
    const auto start = std::chrono::steady_clock::now();
    run();
    seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::nth_element(seconds.begin(), seconds.begin() + repetitions / 2, seconds.end());
  return seconds[repetitions / 2];
}

struct Ours {
  double step[kSteps];
  double plannedFft;  // the transform with its plan made anew, as the first of a size costs
  double cInterface;
};

Ours measureOurs(const std::vector<double>& input, int repetitions) {
  const sp::Options options;
  const std::size_t n = input.size();
  const std::size_t length = sp::transformLength(n, options.zeroFill);
  std::vector<double> y = input;
  std::vector<double> apodized(n);
  std::vector<double> transform;
  std::vector<std::complex<double>> bins(length / 2 + 1);
  std::vector<double> spectrum(length / 2 + 1);
  std::size_t zpd = 0;
  Ours ours{};
  const auto nothing = [] {};

  ours.step[kDc] = median(repetitions, [&] { y = input; }, [&] { sp::removeDc(y); });
  ours.step[kZpd] = median(repetitions, nothing, [&] { zpd = sp::findZpd(y, options.zpdSearch); });
  ours.step[kApodize] = median(repetitions, [&] { apodized = y; }, [&] {
    sp::apodize(apodized, zpd, options.apodization, sp::apodizationSides(n, zpd, options.phase));
    if (sp::needsMertzRamp(n, zpd)) sp::applyMertzRamp(apodized, zpd);
    transform.assign(length, 0.0);
    sp::rotateIntoTransform(apodized, zpd, transform);
  });
  // As the pipeline does it: the transform's input is its working space, so each run gets a fresh copy.
  const std::vector<double> rotated = transform;
  ours.step[kFft] = median(repetitions, [&] { transform = rotated; },
                           [&] { sp::realFftFor(length)->forwardOverwriting(transform, bins); });
  ours.plannedFft = median(repetitions, [&] { transform = rotated; },
                           [&] { sp::RealFft(length).forwardOverwriting(transform, bins); });
  ours.step[kPhase] = median(repetitions, nothing, [&] {
    const std::size_t half = sp::phaseHalfLength(options, n, zpd);
    const std::size_t phaseLength = sp::phaseTransformLength(half, length);
    std::vector<double> stretch(phaseLength, 0.0);
    sp::phaseStretch(y, zpd, half, stretch);
    std::vector<std::complex<double>> phaseBins(phaseLength / 2 + 1);
    sp::realFftFor(phaseLength)->forward(stretch, phaseBins);
    sp::correctPhase(bins, phaseBins, spectrum);
  });
  sp::Spectrum result;
  ours.step[kWhole] = median(repetitions, nothing, [&] { sp::process(input, options, result); });

  dorvane_spectrum_options cOptions;
  dorvane_spectrum_default_options(&cOptions);
  ours.cInterface = median(repetitions, nothing, [&] {
    dorvane_spectrum_process(input.data(), static_cast<std::int32_t>(n), &cOptions, spectrum.data(),
                             static_cast<std::int32_t>(spectrum.size()), nullptr);
  });
  return ours;
}

// The numpy reference's medians, one line per file: POINTS and the six steps' seconds. Empty when
// there is no python3 with numpy.
std::vector<std::vector<double>> measureNumpy(const std::vector<std::string>& files, int repetitions) {
  std::vector<std::string> arguments{"-B", DORVANE_PROCESSING_COST_NUMPY, DORVANE_NUMPY_REFERENCE_DIR,
                                     std::to_string(repetitions)};
  arguments.insert(arguments.end(), files.begin(), files.end());
  std::vector<std::vector<double>> rows;
  std::string errors;
  try {
    dorvane::testing::ChildProcess python(DORVANE_NUMPY_PYTHON, arguments);
    for (std::size_t i = 0; i < files.size(); ++i) {
      std::istringstream line(python.readLine(600000));
      std::vector<double> row(kSteps + 1);
      for (double& value : row) line >> value;
      if (!line) break;
      rows.push_back(row);
    }
    if (python.wait() != 0) errors = python.errors();
  } catch (const std::runtime_error& e) {
    errors = e.what();
  }
  if (!errors.empty() || rows.size() != files.size()) {
    std::printf("numpy: not measured (%s, processing_cost_numpy.py: %s)\n", DORVANE_NUMPY_PYTHON, errors.c_str());
    rows.clear();
  }
  return rows;
}

}  // namespace

int main(int argc, char** argv) {
  const int repetitions = argc > 1 ? std::max(1, std::stoi(argv[1])) : 9;
  const std::size_t sizes[] = {16384, 65536, 262144};
  const fs::path directory = fs::temp_directory_path() / ("dorvane-spectrum-cost-" + std::to_string(::getpid()));
  fs::create_directories(directory);

  std::vector<std::vector<double>> inputs;
  std::vector<std::string> files;
  for (const std::size_t points : sizes) {
    inputs.push_back(interferogram(points));
    files.push_back((directory / ("interferogram-" + std::to_string(points) + ".f64")).string());
    std::ofstream(files.back(), std::ios::binary)
        .write(reinterpret_cast<const char*>(inputs.back().data()),
               static_cast<std::streamsize>(inputs.back().size() * sizeof(double)));
  }
  std::printf("double-sided interferograms, default options (Blackman-Harris 3, zero-fill 2, Mertz at 32 cm-1), "
              "median of %d runs\n", repetitions);
  const std::vector<std::vector<double>> numpy = measureNumpy(files, repetitions);
  fs::remove_all(directory);

  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const std::size_t points = inputs[i].size();
    const Ours ours = measureOurs(inputs[i], repetitions);
    // A 16-scan co-add comes off the bench at 3 bytes a point, 10 bits a byte.
    const double lineSeconds = static_cast<double>(points) * 3 * 10 / 921600;
    std::printf("\n%zu points, a transform of %zu\n  %-28s %9s  %9s  %10s\n", points,
                sp::transformLength(points, sp::Options{}.zeroFill), "step", "ours ms", "numpy ms", "ours/numpy");
    const auto row = [&](const char* name, double seconds, int step) {
      std::printf("  %-28s %9.3f", name, seconds * 1e3);
      if (!numpy.empty()) std::printf("  %9.3f  %10.2f", numpy[i][step + 1] * 1e3, seconds / numpy[i][step + 1]);
      std::printf("\n");
    };
    for (int step = 0; step < kSteps; ++step) {
      row(kStepNames[step], ours.step[step], step);
      if (step == kFft) row("FFT, plan made anew", ours.plannedFft, kFft);
    }
    row("whole, through the C API", ours.cInterface, kWhole);
    std::printf("\n  the same points off the bench at 921600 Bd: %.0f ms, %.0f times the whole pipeline\n",
                lineSeconds * 1e3, lineSeconds / ours.step[kWhole]);
  }
  return 0;
}
