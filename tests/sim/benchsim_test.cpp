// dorvane-benchsim: its command line read into options, its fault odds, and the program itself run
// the way a script runs it.
#include <signal.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "link/byte_order.h"
#include "sim/benchsim_options.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"
#include "tests/sim/driver_end.h"


namespace dorvane::sim::testing {
namespace {

using ::testing::HasSubstr;
using dorvane::testing::ChildProcess;

BenchsimOptions parsed(const std::vector<std::string>& arguments) {
  const CommandLine line = parseCommandLine(arguments);
  EXPECT_TRUE(line.options) << line.message;
  return line.options.value_or(BenchsimOptions{});
}

TEST(BenchsimCommandLine, NoArgumentsGiveTheDefaultBenchOnACleanUnpacedLine) {
  const BenchsimOptions o = parsed({});
  EXPECT_EQ(o.instrument.identity, InstrumentOptions{}.identity);
  EXPECT_EQ(o.instrument.dataPoints, InstrumentOptions{}.dataPoints);
  EXPECT_EQ(o.instrument.deviceMask, kAllDevices);
  EXPECT_TRUE(o.instrument.reportsNewSrq);
  EXPECT_EQ(o.instrument.sample, Sample::None);
  EXPECT_EQ(o.instrument.temperature, kDefaultTemperature);
  EXPECT_EQ(o.instrument.faults, BenchFaults{}) << "a healthy bench";
  EXPECT_EQ(o.link.baud, 0u);
  EXPECT_EQ(o.faultRate, 0.0);
  EXPECT_EQ(o.linkPath, "");
  EXPECT_FALSE(o.reportBlocks);
}

TEST(BenchsimCommandLine, EveryOptionReachesItsSetting) {
  const BenchsimOptions o = parsed({"--family", "15/1", "--unit", "0x0102", "--points", "010", "--scans", "64",
                                    "--point-size", "3", "--volts", "5", "--per-scan", "40", "--allocation", "7",
                                    "--setup-busy", "11", "--move-busy", "12", "--reset-busy", "13",
                                    "--accessories", "iris,motor2", "--no-new-srq", "--sample", "polystyrene",
                                    "--temperature", "1500.5", "--faults", "0.01", "--seed",
                                    "18446744073709551615", "--baud", "115200", "--link", "/tmp/bench", "--report-blocks",
                                    "--laser-error", "-250.5", "--misalignment", "40", "--noise-factor", "10",
                                    "--source-output", "0.5"});
  EXPECT_EQ(o.instrument.identity, (BenchIdentity{15, 1}));
  EXPECT_EQ(o.instrument.unitNumber, 0x0102);
  EXPECT_EQ(o.instrument.dataPoints, 10u) << "a leading zero is no octal";
  EXPECT_EQ(o.instrument.sampScans, 64);
  EXPECT_EQ(o.instrument.pointSize, PointSize::Three);
  EXPECT_EQ(o.instrument.adcVolts, 5);
  using std::chrono::milliseconds;
  EXPECT_EQ(o.instrument.perScan, milliseconds(40));
  EXPECT_EQ(o.instrument.allocation, milliseconds(7));
  EXPECT_EQ(o.instrument.setupBusy, milliseconds(11));
  EXPECT_EQ(o.instrument.moveBusy, milliseconds(12));
  EXPECT_EQ(o.instrument.resetBusy, milliseconds(13));
  EXPECT_EQ(o.instrument.deviceMask, (1u << device::iris) | (1u << device::secondMotor));
  EXPECT_FALSE(o.instrument.reportsNewSrq);
  EXPECT_EQ(o.instrument.sample, Sample::Polystyrene);
  EXPECT_EQ(o.instrument.temperature, 1500.5);
  EXPECT_EQ(o.faultRate, 0.01);
  EXPECT_EQ(o.instrument.seed, 18446744073709551615u);
  EXPECT_EQ(o.link.baud, 115200u);
  EXPECT_EQ(o.linkPath, "/tmp/bench");
  EXPECT_TRUE(o.reportBlocks);
  EXPECT_EQ(o.instrument.faults, (BenchFaults{-250.5, 40, 10, 0.5}));
  const InstrumentOptions cell = parsed({"--fill-time", "12.5", "--sample", "co2-cell"}).instrument;
  EXPECT_EQ(cell.sample, Sample::CarbonDioxideCell);
  EXPECT_EQ(cell.fillTime.count(), 12.5);
  EXPECT_EQ(parsed({"--sample", "co2-cell"}).instrument.fillTime, kDefaultFillTime);
  EXPECT_EQ(parsed({"--accessories", "none"}).instrument.deviceMask, 0u);
  EXPECT_EQ(parsed({"--accessories", "mirror,shuttle"}).instrument.deviceMask,
            (1u << device::beamMirror) | (1u << device::shuttle));
}

TEST(BenchsimCommandLine, BadValuesAreRefusedOnOneLine) {
  const std::vector<std::vector<std::string>> cases = {
      {"--family", "9/99"}, {"--family", "9"},       {"--family", "265/60"},        {"--unit", "65536"},
      {"--points", "0"},    {"--points", "-5"},      {"--scans", "70000"},          {"--point-size", "5"},
      {"--volts", "7"},     {"--per-scan", "2s"},    {"--accessories", "iris,lamp"}, {"--accessories", "iris,"},
      {"--faults", "1.5"},  {"--faults", "nan"},     {"--seed", "-1"},              {"--baud", "0x"},
      {"--sample", "pvc"},  {"--temperature", "0"},  {"--temperature", "nan"},
      {"--sample", "co2-cell", "--fill-time", "0"},    {"--sample", "co2-cell", "--fill-time", "-2"},
      {"--sample", "co2-cell", "--fill-time", "abc"},  {"--sample", "co2-cell", "--fill-time", "3601"},
      {"--sample", "polystyrene", "--fill-time", "10"}, {"--fill-time", "10"},
      {"--link"},           {"--bogus"},             {"extra"},
      {"--laser-error", "5001"}, {"--laser-error", "-5001"}, {"--misalignment", "-1"}, {"--misalignment", "201"},
      {"--noise-factor", "1001"}, {"--noise-factor", "nan"},  {"--source-output", "1.5"}, {"--source-output", "-0.1"},
  };
  for (const auto& arguments : cases) {
    const CommandLine line = parseCommandLine(arguments);
    const std::string what = ::testing::PrintToString(arguments);
    EXPECT_FALSE(line.options) << what;
    EXPECT_NE(line.exitCode, 0) << what;
    EXPECT_EQ(line.message.find('\n'), line.message.size() - 1) << what << ": " << line.message;
  }
}

// The chance is per packet each way, and a reply packet never gets more than one bad byte.
TEST(LineFaultOdds, FaultAboutOnePacketInAHundredAtOnePercent) {
  FaultPlan plan;
  plan.randomize(5, lineFaultOdds(0.01));
  int answers = 0, replies = 0;
  for (int i = 0; i < 20000; ++i) {
    const AnswerFaults a = plan.onAnswer({link::kData, static_cast<std::uint16_t>(i)});
    answers += a.answer != link::kAck || a.delivery != AnswerFaults::Delivery::Send;
    const ReplyPacketFaults r = plan.onReplyPacket({link::kData, 100, 0, false, false});
    EXPECT_FALSE(r.damageAt && r.loseAt);
    replies += r.damageAt || r.loseAt;
  }
  EXPECT_TRUE(answers > 140 && answers < 280 && replies > 140 && replies < 280) << answers << " " << replies;
  std::set<FaultKind> kinds;
  for (const AppliedFault& fault : plan.applied()) kinds.insert(fault.kind);
  EXPECT_EQ(kinds, (std::set<FaultKind>{FaultKind::Nak, FaultKind::Silence, FaultKind::CorruptReplyPacket,
                                        FaultKind::LoseReplyByte}));
}

TEST(BenchsimProgram, ServesTheChosenBenchUntilSigtermThenRemovesItsLink) {
  const dorvane::testing::ScratchDirectory scratch;
  const std::filesystem::path linkPath = scratch.path() / "bench";
  ChildProcess program(DORVANE_BENCHSIM, {"--family", "10/61", "--unit", "0x0102", "--link", linkPath.string()});
  const std::string slave = program.readLine();
  ASSERT_THAT(slave, ::testing::MatchesRegex("/dev/pts/[0-9]+"));
  EXPECT_EQ(std::filesystem::read_symlink(linkPath), slave);
  {
    DriverEnd driver(slave);
    Bytes transmitSetup(2);
    link::putBE16(transmitSetup.data(), command::transmitSetup);
    ASSERT_TRUE(driver.sendMessage(transmitSetup));
    const std::optional<Bytes> reply = driver.receiveMessage();
    ASSERT_TRUE(reply);
    ASSERT_GE(reply->size(), 6u);
    // The setup record after the command word: 'G' '1' is family 10 model 61, the unit number follows.
    EXPECT_EQ(link::getBE32(reply->data() + 2 + bench::field::serialNumber.offset), 0x47310102u);
  }
  program.send(SIGTERM);
  EXPECT_EQ(program.wait(), 0);
  EXPECT_FALSE(std::filesystem::is_symlink(linkPath));
  const std::string errors = program.errors();
  EXPECT_THAT(errors, HasSubstr("DORVANE_COM49=" + linkPath.string()));
  EXPECT_THAT(errors, HasSubstr("requests 1,"));  // the reply's last ACK may still be on its way
}

TEST(BenchsimProgram, FaultsOptionReachesTheLineAndSigintStopsIt) {
  ChildProcess program(DORVANE_BENCHSIM, {"--faults", "1"});
  DriverEnd driver(program.readLine());
  driver.send(packetsOf({0x80, 0x90}).front());
  driver.send({link::kSync});  // fetches an answer that the fault withheld
  ASSERT_TRUE(driver.readByte());
  program.send(SIGINT);
  EXPECT_EQ(program.wait(), 0);
  EXPECT_THAT(program.errors(), ::testing::ContainsRegex("faults applied [1-9]"));
}

TEST(BenchsimProgram, StartupFailureSaysWhyOnOneLineAndPrintsNoPath) {
  const dorvane::testing::ScratchDirectory scratch;
  ChildProcess program(DORVANE_BENCHSIM, {"--link", (scratch.path() / "missing" / "bench").string()});
  EXPECT_EQ(program.readLine(), "");
  EXPECT_EQ(program.wait(), 1);
  const std::string errors = program.errors();
  EXPECT_THAT(errors, HasSubstr("symlink"));
  EXPECT_EQ(errors.find('\n'), errors.size() - 1) << errors;
}

}  // namespace
}  // namespace dorvane::sim::testing
