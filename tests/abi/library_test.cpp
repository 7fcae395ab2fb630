// The shared library as a host sees it: only the public header, the process-wide driver, and the
// log placed beside the library file itself.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

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

TEST(Library, DebugLinesReachStderrOnlyWhileDorvaneDebugIsSet) {
  testing::ScratchDirectory scratch;
  const fs::path captured = scratch.path() / "stderr.txt";
  const int ownStderr = ::dup(STDERR_FILENO);
  const int file = ::open(captured.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0600);
  ASSERT_GE(ownStderr, 0);
  ASSERT_GE(file, 0);
  ::dup2(file, STDERR_FILENO);
  ::close(file);

  // No port is set, so each command is refused without touching a device.
  unsetenv("DORVANE_DEBUG");
  spectrometer_execute("unset");
  setenv("DORVANE_DEBUG", "", 1);
  spectrometer_execute("empty");
  setenv("DORVANE_DEBUG", "1", 1);  // after the library was loaded and used
  spectrometer_execute("set");
  unsetenv("DORVANE_DEBUG");

  ::dup2(ownStderr, STDERR_FILENO);
  ::close(ownStderr);
  EXPECT_EQ(testing::readWholeFile(captured), "dorvane.dll.spectrometer_execute set\n");
}

}  // namespace
}  // namespace dorvane
