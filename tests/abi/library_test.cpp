// The shared library as a host sees it: only the public header, the process-wide driver, and the
// log placed beside the library file itself.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "dorvane.h"
#include "tests/support/test_support.h"

namespace dorvane {
namespace {

namespace fs = std::filesystem;

TEST(Library, SettingsLoadSwitchesTheLogOnBesideTheLibraryAndOffAgain) {
  const fs::path logPath = fs::path(DORVANE_LIBRARY_DIR) / "dorvane_log.txt";
  fs::remove(logPath);
  testing::ScratchDirectory scratch;
  const std::string on = "@" + scratch.write("on.ini", "[Settings]\nport=2\nbaud=9600\nlog=1\n");
  const std::string off = "@" + scratch.write("off.ini", "[Settings]\nlog=0\n");

  // Port 1 names a device that does not exist: the command fails to open it, as the log shows.
  setenv("DORVANE_COM2", (scratch.path() / "no-such-tty").c_str(), 1);
  EXPECT_EQ(spectrometer_execute(on.c_str()), 0);
  EXPECT_EQ(spectrometer_execute("anything else"), -1);
  EXPECT_EQ(spectrometer_execute(off.c_str()), 0);
  EXPECT_LT(spectrometer_execute("after the log is off"), 0);  // no port, no baud: the open fails

  const std::string log = testing::readWholeFile(logPath);
  EXPECT_NE(log.find("port= 1;baud= 9600\n"), std::string::npos) << log;
  EXPECT_NE(log.find("]  dorvane.dll.spectrometer_execute anything else\n"), std::string::npos);
  EXPECT_NE(log.find("]  ComPort valid = 0\n"), std::string::npos);
  EXPECT_NE(log.find("]  dorvane.dll.spectrometer_execute " + off + "\n"), std::string::npos);
  EXPECT_EQ(log.find("after the log is off"), std::string::npos);
  fs::remove(logPath);
}

TEST(Library, NullCommandIsRefusedQuietly) { EXPECT_EQ(spectrometer_execute(nullptr), 0); }

}  // namespace
}  // namespace dorvane
