// dorvane-benchsim: its command line read into options, its fault odds, and the program itself run
// the way a script runs it.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "link/byte_order.h"
#include "sim/benchsim_options.h"
#include "tests/sim/driver_end.h"

extern char** environ;

namespace dorvane::sim::testing {
namespace {

using ::testing::HasSubstr;

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
  EXPECT_EQ(o.link.baud, 0u);
  EXPECT_EQ(o.faultRate, 0.0);
  EXPECT_EQ(o.linkPath, "");
}

TEST(BenchsimCommandLine, EveryOptionReachesItsSetting) {
  const BenchsimOptions o = parsed({"--family", "15/1", "--unit", "0x0102", "--points", "010", "--scans", "64",
                                    "--point-size", "3", "--volts", "5", "--per-scan", "40", "--allocation", "7",
                                    "--setup-busy", "11", "--move-busy", "12", "--reset-busy", "13",
                                    "--accessories", "iris,motor2", "--no-new-srq", "--faults", "0.01", "--seed",
                                    "18446744073709551615", "--baud", "115200", "--link", "/tmp/bench"});
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
  EXPECT_EQ(o.faultRate, 0.01);
  EXPECT_EQ(o.instrument.seed, 18446744073709551615u);
  EXPECT_EQ(o.link.baud, 115200u);
  EXPECT_EQ(o.linkPath, "/tmp/bench");
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
      {"--link"},           {"--bogus"},             {"extra"},
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

// The program as a script starts it: stdout on a pipe, stderr into a file read once it has ended.
class Benchsim {
 public:
  explicit Benchsim(const std::vector<std::string>& arguments) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe2");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> argv{const_cast<char*>(DORVANE_BENCHSIM)};
    for (const std::string& word : arguments) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    const int spawned = ::posix_spawn(&pid_, DORVANE_BENCHSIM, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    out_ = out[0];
    if (spawned != 0) throw std::runtime_error("cannot start " DORVANE_BENCHSIM);
  }
  ~Benchsim() {
    if (pid_ > 0) ::kill(pid_, SIGKILL), ::waitpid(pid_, nullptr, 0);
    ::close(out_);
    std::filesystem::remove(errors_);
  }

  // The first line on stdout without its newline; empty if the program ends first. The poll's bound
  // is for a broken program only: it prints at once.
  std::string firstLine() {
    std::string line;
    pollfd p{out_, POLLIN, 0};
    for (char c; ::poll(&p, 1, 10000) == 1 && ::read(out_, &c, 1) == 1 && c != '\n';) line += c;
    return line;
  }
  void send(int signal) { ::kill(pid_, signal); }
  // The exit status, or 128 + the signal that ended it.
  int wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  std::string errors() const {
    std::ifstream file(errors_);
    return {std::istreambuf_iterator<char>(file), {}};
  }

 private:
  const std::string errors_ =
      (std::filesystem::temp_directory_path() / ("benchsim-stderr-" + std::to_string(::getpid()))).string();
  pid_t pid_ = -1;
  int out_ = -1;
};

std::filesystem::path scratchLink() {
  return std::filesystem::temp_directory_path() / ("dorvane-benchsim-" + std::to_string(::getpid()));
}

TEST(BenchsimProgram, ServesTheChosenBenchUntilSigtermThenRemovesItsLink) {
  const std::filesystem::path linkPath = scratchLink();
  Benchsim program({"--family", "10/61", "--unit", "0x0102", "--link", linkPath.string()});
  const std::string slave = program.firstLine();
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
  Benchsim program({"--faults", "1"});
  DriverEnd driver(program.firstLine());
  driver.send(packetsOf({0x80, 0x90}).front());
  driver.send({link::kSync});  // fetches an answer that the fault withheld
  ASSERT_TRUE(driver.readByte());
  program.send(SIGINT);
  EXPECT_EQ(program.wait(), 0);
  EXPECT_THAT(program.errors(), ::testing::ContainsRegex("faults applied [1-9]"));
}

TEST(BenchsimProgram, StartupFailureSaysWhyOnOneLineAndPrintsNoPath) {
  Benchsim program({"--link", "/nonexistent-dorvane-dir/bench"});
  EXPECT_EQ(program.firstLine(), "");
  EXPECT_EQ(program.wait(), 1);
  const std::string errors = program.errors();
  EXPECT_THAT(errors, HasSubstr("symlink"));
  EXPECT_EQ(errors.find('\n'), errors.size() - 1) << errors;
}

}  // namespace
}  // namespace dorvane::sim::testing
