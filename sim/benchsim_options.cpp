// dorvane-benchsim's command line, read with CLI11.
#include "sim/benchsim_options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <functional>
#include <limits>
#include <string_view>
#include <utility>

namespace dorvane::sim {
namespace {

constexpr std::uint32_t kLongestTimeMs = 3'600'000;  // an hour: anything longer is a typo

// A whole number in decimal or with 0x in hex. Written here rather than left to CLI11, which takes
// "010" as octal and lets "-1" wrap round into a 64-bit unsigned.
template <typename T>
std::optional<T> parseWhole(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  T value{};
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value, base);
  if (error != std::errc{} || stop != end) return std::nullopt;
  return value;
}

template <typename T>
CLI::Option* addWhole(CLI::App& app, const std::string& name, T low, T high, T initial,
                      std::function<void(T)> set, const std::string& about) {
  const std::string range = "[" + std::to_string(low) + ", " + std::to_string(high) + "]";
  CLI::Validator inRange(
      [=](std::string& text) -> std::string {
        const std::optional<T> value = parseWhole<T>(text);
        if (value && *value >= low && *value <= high) return {};
        return "'" + text + "' is no whole number in " + range;
      },
      range);
  return app
      .add_option_function<std::string>(
          name, [set = std::move(set)](const std::string& text) { set(*parseWhole<T>(text)); }, about)
      ->type_name("N")
      ->check(inRange)
      ->default_str(std::to_string(initial));
}

CLI::Option* addMilliseconds(CLI::App& app, const std::string& name, std::chrono::milliseconds& target,
                             const std::string& about) {
  return addWhole<std::uint32_t>(
             app, name, 0, kLongestTimeMs, static_cast<std::uint32_t>(target.count()),
             [&target](std::uint32_t ms) { target = std::chrono::milliseconds(ms); }, about)
      ->type_name("MS");
}

std::optional<BenchIdentity> parseIdentity(std::string_view text) {
  const std::size_t slash = text.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  const auto family = parseWhole<std::uint8_t>(text.substr(0, slash));
  const auto model = parseWhole<std::uint8_t>(text.substr(slash + 1));
  if (!family || !model) return std::nullopt;
  const BenchIdentity identity{*family, *model};
  if (!isBenchIdentity(identity)) return std::nullopt;
  return identity;
}

constexpr std::pair<std::string_view, int> kAccessoryNames[] = {
    {"iris", device::iris},           {"shuttle", device::shuttle},     {"mirror", device::beamMirror},
    {"motor1", device::firstMotor},   {"motor2", device::secondMotor},
};

// "none", "all" or a comma list of accessory names: the device mask.
std::optional<std::uint32_t> parseAccessories(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  if (text == "none") return 0u;
  if (text == "all") return kAllDevices;
  std::uint32_t mask = 0;
  std::string_view rest = text;
  for (;;) {
    const std::size_t comma = rest.find(',');
    const std::string_view name = rest.substr(0, comma);
    const auto known = std::find_if(std::begin(kAccessoryNames), std::end(kAccessoryNames),
                                    [&](const auto& entry) { return entry.first == name; });
    if (known == std::end(kAccessoryNames)) return std::nullopt;
    mask |= 1u << known->second;
    if (comma == std::string_view::npos) return mask;
    rest.remove_prefix(comma + 1);
  }
}

// A number from `low` to `high`: from_chars takes "nan", which every comparison lets through but this one.
std::optional<double> parseBetween(std::string_view text, double low, double high) {
  double value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc{} || stop != end || !(value >= low && value <= high)) return std::nullopt;
  return value;
}

std::optional<double> parseChance(std::string_view text) { return parseBetween(text, 0, 1); }
// The source's temperature in kelvin: a glowing source, neither a room nor a lamp's filament.
std::optional<double> parseTemperature(std::string_view text) { return parseBetween(text, 300, 3000); }
// The gas cell's time constant in seconds: above 0, and at most an hour (anything longer is a typo).
std::optional<double> parseFillTime(std::string_view text) {
  const std::optional<double> seconds = parseBetween(text, 0, 3600);
  if (!seconds || *seconds == 0) return std::nullopt;
  return seconds;
}

// An ageing bench's faults, each within the range its model holds for (sim/instrument_data.h).
std::optional<double> parseLaserError(std::string_view text) {
  return parseBetween(text, -kMostLaserErrorPpm, kMostLaserErrorPpm);
}
std::optional<double> parseMisalignment(std::string_view text) {
  return parseBetween(text, 0, kMostMisalignmentMicroradians);
}
std::optional<double> parseNoiseFactor(std::string_view text) { return parseBetween(text, 0, kMostNoiseFactor); }

// A validator from a parser: the value is good when the parser makes something of it.
template <typename Parse>
CLI::Validator parsesWith(Parse parse, std::string want) {
  return CLI::Validator(
      [parse, want](std::string& text) -> std::string {
        return parse(text) ? std::string() : "'" + text + "' is not " + want;
      },
      "");
}

// What the bench measures: the sample in its shuttle, the gas cell's filling, the source.
void describeLight(CLI::App& app, InstrumentOptions& bench) {
  app.add_option_function<std::string>(
         "--sample",
         [&bench](const std::string& text) {
           bench.sample = text == "polystyrene" ? Sample::Polystyrene
                          : text == "co2-cell"  ? Sample::CarbonDioxideCell
                                                : Sample::None;
         },
         "The sample the shuttle holds: in the beam at power-on and at shuttle position 1, out of it at "
         "position 2; always in on a bench without a shuttle. co2-cell: a gas cell that fills with carbon "
         "dioxide from the first scan through it")
      ->type_name("NAME")
      ->check(CLI::IsMember({"none", "polystyrene", "co2-cell"}))
      ->default_str("none");
  app.add_option_function<std::string>(
         "--fill-time",
         [&bench](const std::string& text) { bench.fillTime = std::chrono::duration<double>(*parseFillTime(text)); },
         "With --sample co2-cell: the cell's time constant in seconds, its fill being 1 - exp(-t / SECONDS)")
      ->type_name("SECONDS")
      ->check(parsesWith(parseFillTime, "a time in seconds above 0 and up to 3600"))
      ->default_str(std::to_string(static_cast<int>(kDefaultFillTime.count())));
  app.add_option_function<std::string>(
         "--temperature", [&bench](const std::string& text) { bench.temperature = *parseTemperature(text); },
         "The source's temperature in kelvin, from 300 to 3000")
      ->type_name("K")
      ->check(parsesWith(parseTemperature, "a temperature from 300 to 3000 K"))
      ->default_str(std::to_string(static_cast<int>(bench.temperature)));
}

// What ageing has done to the bench: each fault's physical model is in sim/instrument_data.cpp.
void describeAgeing(CLI::App& app, BenchFaults& faults) {
  const auto add = [&app](const std::string& name, double& target, auto parse, const std::string& want,
                          const std::string& unit, const std::string& about) {
    app.add_option_function<std::string>(name, [&target, parse](const std::string& text) { target = *parse(text); },
                                         about)
        ->type_name(unit)
        ->check(parsesWith(parse, want))
        ->default_str(std::to_string(static_cast<int>(target)));  // the healthy defaults are whole
  };
  add("--laser-error", faults.laserErrorPpm, parseLaserError, "a number of ppm from -5000 to 5000", "PPM",
      "The reference laser's wavenumber off by PPM parts per million, while a host reckons with 15798.0 "
      "cm-1: every band shows at sigma / (1 + PPM 1e-6)");
  add("--misalignment", faults.misalignmentMicroradians, parseMisalignment, "a tilt from 0 to 200 microradians",
      "MICRORADIANS",
      "The moving mirror tilted by this much: less modulation at high wavenumbers (the energy falls) and "
      "wider bands (the resolution falls); 40 is a bench out of alignment");
  add("--noise-factor", faults.noiseFactor, parseNoiseFactor, "a factor from 0 to 1000", "F",
      "The detector's noise times F");
  add("--source-output", faults.sourceOutput, parseChance, "a share from 0 to 1", "F",
      "The source's output times F, as an ageing source gives less light");
}

void describe(CLI::App& app, BenchsimOptions& o) {
  InstrumentOptions& bench = o.instrument;

  app.add_option_function<std::string>(
         "--family", [&bench](const std::string& text) { bench.identity = *parseIdentity(text); },
         "Bench family and model the serial number names: 9/60, 9/61, 9/62, 10/61, 11/1, 13/1, "
         "14/1, 15/1, 7/32, 8/51, 8/53 or 8/52")
      ->type_name("F/M")
      ->check(parsesWith(parseIdentity, "a known family/model"))
      ->default_str("9/60");
  addWhole<std::uint16_t>(app, "--unit", 0, 0xFFFF, bench.unitNumber,
                          [&bench](std::uint16_t unit) { bench.unitNumber = unit; },
                          "Unit number: the serial number's last two bytes");

  // One block of the largest size must fit the bench's memory.
  const std::uint32_t mostPoints = (bench.totalDataSpace - bench.sizeDataBlock) / 4;
  addWhole<std::uint32_t>(app, "--points", 1, mostPoints, bench.dataPoints,
                          [&bench](std::uint32_t points) { bench.dataPoints = points; },
                          "Data points of the power-on setup");
  addWhole<std::uint16_t>(app, "--scans", 1, 0xFFFF, bench.sampScans,
                          [&bench](std::uint16_t scans) { bench.sampScans = scans; },
                          "Scans co-added per block in the power-on setup");
  app.add_option_function<std::string>(
         "--point-size",
         [&bench](const std::string& text) {
           bench.pointSize = text == "2" ? PointSize::Two
                             : text == "3" ? PointSize::Three
                             : text == "4" ? PointSize::Four
                                           : PointSize::Auto;
         },
         "Bytes per point on the wire; auto: the fewest that hold the co-add at full scale")
      ->type_name("SIZE")
      ->check(CLI::IsMember({"auto", "2", "3", "4"}))
      ->default_str("auto");
  app.add_option_function<std::string>(
         "--volts", [&bench](const std::string& text) { bench.adcVolts = text == "5" ? 5 : 10; },
         "The converter's full scale")
      ->type_name("VOLTS")
      ->check(CLI::IsMember({"5", "10"}))
      ->default_str("10");

  addMilliseconds(app, "--per-scan", bench.perScan, "Time one scan takes");
  addMilliseconds(app, "--allocation", bench.allocation, "Time a new block's memory takes to allocate");
  addMilliseconds(app, "--setup-busy", bench.setupBusy, "Time the bench stays busy after PUT SETUP");
  addMilliseconds(app, "--move-busy", bench.moveBusy, "Time the bench stays busy after MOVE DEVICE");
  addMilliseconds(app, "--reset-busy", bench.resetBusy, "Time the bench stays busy after RESET");

  app.add_option_function<std::string>(
         "--accessories", [&bench](const std::string& text) { bench.deviceMask = *parseAccessories(text); },
         "Fitted accessories: a comma list of iris, shuttle, mirror, motor1, motor2; or all; or none")
      ->type_name("LIST")
      ->check(parsesWith(parseAccessories, "all, none or a list of iris, shuttle, mirror, motor1, motor2"))
      ->default_str("all");
  describeLight(app, bench);
  describeAgeing(app, bench.faults);
  app.add_flag_callback(
      "--no-new-srq", [&bench] { bench.reportsNewSrq = false; },
      "A bench whose status never shows newSrq");

  app.add_option_function<std::string>(
         "--faults", [&o](const std::string& text) { o.faultRate = *parseChance(text); },
         "Chance of a link fault per packet, e.g. 0.01 for about one in a hundred: NAKs, unanswered "
         "packets, reply packets with a byte damaged or lost")
      ->type_name("RATE")
      ->check(parsesWith(parseChance, "a chance from 0 to 1"))
      ->default_str("0");
  addWhole<std::uint64_t>(app, "--seed", 0, std::numeric_limits<std::uint64_t>::max(), bench.seed,
                          [&bench](std::uint64_t seed) { bench.seed = seed; },
                          "Seed of the detector's noise and of the faults: the same seed replays both");
  addWhole<std::uint32_t>(app, "--baud", 0, std::numeric_limits<std::uint32_t>::max(), o.link.baud,
                          [&o](std::uint32_t baud) { o.link.baud = baud; },
                          "Line rate that paces the bench's output, 10 bits a byte; 0: unpaced");
  app.add_flag("--report-blocks", o.reportBlocks,
               "A line on stderr as each block's scan ends and as the driver asks for its data, with the "
               "time on the steady clock (CLOCK_MONOTONIC) in ms, for timing a host from outside");
  app.add_option("--link", o.linkPath, "Make PATH a symlink to the pty's slave while the bench runs")
      ->type_name("PATH");
}

}  // namespace

FaultOdds lineFaultOdds(double rate) {
  FaultOdds odds;
  odds.nak = rate / 2;
  odds.silence = rate / 2;
  odds.corruptReply = rate / 2;
  odds.loseReplyByte = rate / 2;
  return odds;
}

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
  BenchsimOptions options;
  CLI::App app("The virtual bench on a pseudo-terminal: prints the slave's path, serves the driver "
               "until SIGINT or SIGTERM.",
               "dorvane-benchsim");
  describe(app, options);
  // CLI11 takes the arguments last first.
  std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
  try {
    app.parse(reversed);
    if (app.count("--fill-time") > 0 && options.instrument.sample != Sample::CarbonDioxideCell)
      throw CLI::ValidationError("--fill-time", "it times the gas cell: give it with --sample co2-cell");
  } catch (const CLI::CallForHelp&) {
    return {std::nullopt, 0, app.help()};
  } catch (const CLI::ParseError& error) {
    return {std::nullopt, error.get_exit_code() != 0 ? error.get_exit_code() : 2,
            std::string("dorvane-benchsim: ") + error.what() + "\n"};
  }
  return {std::move(options), 0, {}};
}

}  // namespace dorvane::sim
