// The driver state at load and the settings load through spectrometer_execute("@path").
#include <gtest/gtest.h>

#include <string>

#include "driver/driver.h"
#include "platform/serial_port.h"
#include "tests/support/test_support.h"
#include "tests/support/virtual_clock.h"

namespace dorvane {
namespace {

class Settings : public ::testing::Test {
 protected:
  Settings() { clock.setWallTime(2026, 3, 14, 15, 9, 26); }

  std::string logText() const { return testing::readTextFile(scratch.path() / "dorvane_log.txt"); }
  std::int32_t load(const std::string& iniContent) {
    const std::string path = scratch.write("dorvane.ini", iniContent);
    return driver.execute(("@" + path).c_str());
  }

  testing::ScratchDirectory scratch;
  testing::VirtualClock clock;
  testing::CapturedDebugOutput debug;
  driver::Driver driver{driver::DriverServices{
      clock, debug, platform::systemSerialLibrary(), [this] { return (scratch.path() / "libdorvane.so").string(); }}};
  driver::DriverState& state = driver.state();
};

TEST_F(Settings, BuiltInDefaultsBeforeAnyLoad) {
  EXPECT_EQ(state.fvel, 4);
  EXPECT_EQ(state.rvel, 4);
  EXPECT_EQ(state.symmetry, 0);
  EXPECT_EQ(state.points, 16384);
  EXPECT_EQ(state.gain, 0);
  EXPECT_EQ(state.lasersamp, 2);
  EXPECT_EQ(state.lpf, 0);
  EXPECT_EQ(state.port, -1);
  EXPECT_EQ(state.baud, 38400);
  EXPECT_EQ(state.lturn, 1000);
  EXPECT_EQ(state.qturn, 300);
  EXPECT_EQ(state.detector, 1);
  EXPECT_EQ(state.iris, 50);
  EXPECT_EQ(state.scans, 16);
  EXPECT_EQ(state.files, 1);
  EXPECT_EQ(state.resolution, 1.0);
  EXPECT_EQ(state.status.load(), 0);
  EXPECT_EQ(state.benchError, 0);
  EXPECT_EQ(driver.log().disabled(), 1);
}

TEST_F(Settings, FullFileIsStoredWithPortFromOneAndSummaryLogged) {
  EXPECT_EQ(load("[Settings]\nfvel=3\nrvel=5\nsymmetry=1\npoints=4096\ngain=2\nlasersamp=1\nlpf=3\n"
                 "port=1\nbaud=115200\nlturn=900\nqturn=250\ndetector=2\niris=25\nlog=1\n"),
            0);
  EXPECT_EQ(state.fvel, 3);
  EXPECT_EQ(state.rvel, 5);
  EXPECT_EQ(state.symmetry, 1);
  EXPECT_EQ(state.points, 4096);
  EXPECT_EQ(state.gain, 2);
  EXPECT_EQ(state.lasersamp, 1);
  EXPECT_EQ(state.lpf, 3);
  EXPECT_EQ(state.port, 0);
  EXPECT_EQ(state.baud, 115200);
  EXPECT_EQ(state.lturn, 900);
  EXPECT_EQ(state.qturn, 250);
  EXPECT_EQ(state.detector, 2);
  EXPECT_EQ(state.iris, 25);
  EXPECT_EQ(driver.log().disabled(), 0);

  // The command line came before the log was switched on, so only the summary reached the file;
  // detector and iris are not part of it.
  EXPECT_EQ(logText(),
            "[03-14 15:09:26]  dorvane.ini settings are: fvel= 3; rvel= 5; symmetry= 1; points= 4096;\n"
            "gain = 2; lasersamp= 1;lpf= 3;port= 0;baud= 115200\nqturn= 250, lturn= 900\n");
  ASSERT_EQ(debug.lines.size(), 2u);
  EXPECT_EQ(debug.lines[0], "dorvane.dll.spectrometer_execute @" + (scratch.path() / "dorvane.ini").string() + "\n");
  EXPECT_EQ(debug.lines[1], "dorvane.dll: log= 1\n");
}

TEST_F(Settings, MissingKeysBecomeZeroNotTheirDefaultsAndLogStaysOff) {
  EXPECT_EQ(load("[Settings]\nfvel=6\n"), 0);
  EXPECT_EQ(state.fvel, 6);
  EXPECT_EQ(state.baud, 0);
  EXPECT_EQ(state.points, 0);
  EXPECT_EQ(state.iris, 0);
  EXPECT_EQ(state.port, -1);
  EXPECT_EQ(driver.log().disabled(), 1);
  EXPECT_FALSE(std::filesystem::exists(scratch.path() / "dorvane_log.txt"));
  EXPECT_EQ(debug.lines.back(), "dorvane.dll: log= 0\n");
}

TEST_F(Settings, FileThatDoesNotExistZeroesEverythingAndSwitchesTheLogOff) {
  load("[Settings]\nport=3\nlog=1\n");
  EXPECT_EQ(driver.log().disabled(), 0);
  const std::string absentPath = (scratch.path() / "absent.ini").string();
  const std::string absent = "@" + absentPath;
  EXPECT_EQ(driver.execute(absent.c_str()), 0);
  EXPECT_EQ(state.port, -1);
  EXPECT_EQ(state.fvel, 0);
  EXPECT_EQ(state.baud, 0);
  EXPECT_EQ(state.lturn, 0);
  EXPECT_EQ(driver.log().disabled(), 1);
  // The command itself was logged while the log was still on; the summary was not.
  EXPECT_NE(logText().find("dorvane.dll.spectrometer_execute " + absent + "\n"), std::string::npos);
  EXPECT_EQ(logText().find("settings are", logText().find(absent)), std::string::npos);
}

TEST_F(Settings, ExtremePortValuesWrapInsteadOfOverflowing) {
  load("[Settings]\nport=-2147483648\n");
  EXPECT_EQ(state.port, 2147483647);
  load("[Settings]\nport=-5\n");
  EXPECT_EQ(state.port, -6);
}

// Without settings the port is -1, which the serial layer refuses as no such port.
TEST_F(Settings, NullCommandReadsNothingAndOtherCommandsFailToOpenAnUnsetPort) {
  EXPECT_EQ(driver.execute(nullptr), 0);
  EXPECT_TRUE(debug.lines.empty());
  EXPECT_EQ(driver.execute("whoAreYou"), platform::kSerialBadPort);
  EXPECT_EQ(driver.execute(""), platform::kSerialBadPort);
  EXPECT_EQ(state.port, -1);
  EXPECT_EQ(state.baud, 38400);
  ASSERT_EQ(debug.lines.size(), 2u);
  EXPECT_EQ(debug.lines[0], "dorvane.dll.spectrometer_execute whoAreYou\n");
}

}  // namespace
}  // namespace dorvane
