// The shared library as a host sees it: only the public header, the process-wide driver, and the
// log placed beside the library file itself.
#include <dlfcn.h>
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

// The library's log lands beside the library file, where other tests and programs of the build use
// the same library: this test loads a copy of its own from its folder, as a host loads the library
// at run time, and that copy's driver logs there.
TEST(Library, SettingsLoadSwitchesTheLogOnBesideTheLibraryAndOffAgain) {
  testing::ScratchDirectory scratch;
  const fs::path copy = scratch.path() / "libdorvane.so";
  fs::copy_file(DORVANE_LIBRARY_FILE, copy);
  void* const library = dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  const auto execute = reinterpret_cast<decltype(&spectrometer_execute)>(dlsym(library, "spectrometer_execute"));
  ASSERT_NE(execute, nullptr);
  const fs::path logPath = scratch.path() / "dorvane_log.txt";
  const std::string on = "@" + scratch.write("on.ini", "[Settings]\nport=2\nbaud=9600\nlog=1\n");
  const std::string off = "@" + scratch.write("off.ini", "[Settings]\nlog=0\n");

  // Port 1 names a device that does not exist: the command fails to open it, as the log shows.
  setenv("DORVANE_COM2", (scratch.path() / "no-such-tty").c_str(), 1);
  EXPECT_EQ(execute(on.c_str()), 0);
  EXPECT_EQ(execute("anything else"), -1);
  EXPECT_EQ(execute(off.c_str()), 0);
  EXPECT_LT(execute("after the log is off"), 0);  // no port, no baud: the open fails
  EXPECT_EQ(dlclose(library), 0);

  const std::string log = testing::readWholeFile(logPath);
  EXPECT_NE(log.find("port= 1;baud= 9600\n"), std::string::npos) << log;
  EXPECT_NE(log.find("]  dorvane.dll.spectrometer_execute anything else\n"), std::string::npos);
  EXPECT_NE(log.find("]  ComPort valid = 0\n"), std::string::npos);
  EXPECT_NE(log.find("]  dorvane.dll.spectrometer_execute " + off + "\n"), std::string::npos);
  EXPECT_EQ(log.find("after the log is off"), std::string::npos);
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
