// The log: line shape, placement beside the library, the 10 MiB cap, the 4096-character cut, lost
// lines on an unwritable directory, and whole lines from two threads. Also the debug output's cut.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#endif

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/module.h"
#include "platform/thread.h"
#include "runtime/debug_print.h"
#include "runtime/log_file.h"
#include "tests/support/test_support.h"
#include "tests/support/virtual_clock.h"

namespace dorvane {
namespace {

namespace fs = std::filesystem;

// The log is a text file, so its lines end as the platform's text files do. The thread's last
// system error, which writing a line must leave as it found it, is GetLastError on Windows and
// errno elsewhere.
#ifdef _WIN32
const std::string kLineEnd = "\r\n";
constexpr unsigned long kBrokenPipe = ERROR_BROKEN_PIPE;
void setSystemError(unsigned long error) { SetLastError(error); }
unsigned long systemError() { return GetLastError(); }
#else
const std::string kLineEnd = "\n";
constexpr unsigned long kBrokenPipe = EPIPE;
void setSystemError(unsigned long error) { errno = static_cast<int>(error); }
unsigned long systemError() { return static_cast<unsigned long>(errno); }
#endif

class CountingLogFile : public runtime::LogFile {
 public:
  using runtime::LogFile::LogFile;
  int failures = 0;

 protected:
  void onWriteFailed() override { ++failures; }
};

class Log : public ::testing::Test {
 protected:
  Log() { clock.setWallTime(2026, 12, 6, 9, 5, 3); }

  std::string libraryIn(const fs::path& directory) const {
    return (directory / "libdorvane.so").string();
  }
  fs::path logPath() const { return scratch.path() / "dorvane_log.txt"; }
  // The file as a text reader sees it, its line ends as '\n'.
  std::string logText() const { return testing::readTextFile(logPath()); }

  testing::ScratchDirectory scratch;
  testing::VirtualClock clock;
  CountingLogFile log{clock, [this] { return libraryIn(scratch.path()); }};
};

TEST_F(Log, OffAfterConstructionWritesNothingAndReportsNoFailure) {
  EXPECT_EQ(log.disabled(), 1);
  EXPECT_EQ(log.print("dorvane.dll close"), 0);
  EXPECT_FALSE(fs::exists(logPath()));
  EXPECT_EQ(log.failures, 0);
  EXPECT_EQ(log.path(), "");  // not even worked out yet
}

TEST_F(Log, LineIsStampTwoSpacesTextAndNewlineBesideTheLibrary) {
  log.enable();
  EXPECT_EQ(log.print("txPacket REREAD"), 1);
  EXPECT_EQ(log.print("    txPacket got an ACK %d", 7), 1);
  EXPECT_EQ(log.path(), logPath().string());
  EXPECT_EQ(testing::readWholeFile(logPath()),
            "[12-06 09:05:03]  txPacket REREAD" + kLineEnd + "[12-06 09:05:03]      txPacket got an ACK 7" + kLineEnd);
  EXPECT_EQ(log.failures, 0);
}

TEST_F(Log, DisableStopsWritingAtOnceAndKeepsThePath) {
  log.enable();
  log.print("one");
  log.disable();
  EXPECT_EQ(log.print("two"), 0);
  EXPECT_EQ(log.failures, 0);
  EXPECT_EQ(log.path(), logPath().string());
  EXPECT_EQ(logText(), "[12-06 09:05:03]  one\n");
}

TEST_F(Log, ExistingFileIsAppendedToByANewLoad) {
  scratch.write("dorvane_log.txt", "earlier line\n");
  log.enable();
  log.print("later line");
  EXPECT_EQ(logText(), "earlier line\n[12-06 09:05:03]  later line\n");
}

TEST_F(Log, FileOfExactlyTheCapIsAppendedTo) {
  scratch.write("dorvane_log.txt", "");
  fs::resize_file(logPath(), runtime::kLogSizeCap);
  log.enable();
  log.print("appended");
  EXPECT_EQ(fs::file_size(logPath()), runtime::kLogSizeCap + ("[12-06 09:05:03]  appended" + kLineEnd).size());
}

TEST_F(Log, FileOverTheCapIsEmptiedAndTheLineBecomesItsFirst) {
  scratch.write("dorvane_log.txt", "");
  fs::resize_file(logPath(), runtime::kLogSizeCap + 1);
  log.enable();
  log.print("fresh start");
  EXPECT_EQ(logText(), "[12-06 09:05:03]  fresh start\n");
}

TEST_F(Log, LongTextIsCutTo4096CharactersAndStillEndsTheLine) {
  const std::string longText(5000, 'x');
  log.enable();
  EXPECT_EQ(log.print("%s", longText.c_str()), 1);
  EXPECT_EQ(logText(), "[12-06 09:05:03]  " + std::string(4096, 'x') + "\n");
}

TEST_F(Log, UnwritableDirectoryLosesTheLineReportsItAndTriesAgainNextTime) {
  // A regular file where the directory should be: no open can succeed, not even as root.
  const std::string notADirectory = scratch.write("plain-file", "");
  CountingLogFile blocked{clock, [&] { return libraryIn(notADirectory); }};
  blocked.enable();
  EXPECT_EQ(blocked.print("lost"), 0);
  EXPECT_EQ(blocked.print("lost again"), 0);
  EXPECT_EQ(blocked.failures, 2);
}

TEST_F(Log, WritingALineLeavesTheSystemErrorItReports) {
  const std::string notADirectory = scratch.write("plain-file", "");
  CountingLogFile blocked{clock, [&] { return libraryIn(notADirectory); }};
  blocked.enable();
  log.enable();
  setSystemError(kBrokenPipe);
  EXPECT_EQ(log.print("written"), 1);
  EXPECT_EQ(systemError(), kBrokenPipe);
  EXPECT_EQ(blocked.print("failed"), 0);
  EXPECT_EQ(systemError(), kBrokenPipe);
}

TEST_F(Log, LinesFromTwoThreadsNeverInterleave) {
  log.enable();
  constexpr int kLinesPerThread = 200;
  const auto writer = [this](char mark) {
    return [this, mark] {
      const std::string body(300, mark);
      for (int i = 0; i < kLinesPerThread; ++i) log.print("%c%04d %s", mark, i, body.c_str());
      return 0u;
    };
  };
  platform::Thread first, second;
  ASSERT_TRUE(first.start(writer('a'), platform::ThreadPriority::normal));
  ASSERT_TRUE(second.start(writer('b'), platform::ThreadPriority::normal));
  first.join();
  second.join();

  std::istringstream lines(logText());
  std::string line;
  int next[2] = {0, 0};
  while (std::getline(lines, line)) {
    ASSERT_EQ(line.size(), std::string("[12-06 09:05:03]  ").size() + 5 + 1 + 300) << line;
    const char mark = line[18];
    ASSERT_TRUE(mark == 'a' || mark == 'b') << line;
    char expected[8];
    std::snprintf(expected, sizeof expected, "%c%04d ", mark, next[mark - 'a']++);
    EXPECT_EQ(line.substr(18, 6), expected);
    EXPECT_EQ(line.substr(24), std::string(300, mark));
  }
  EXPECT_EQ(next[0], kLinesPerThread);
  EXPECT_EQ(next[1], kLinesPerThread);
}

TEST(LogPath, LibraryDirectoryJoinedWithThePlatformSeparator) {
  const char separator = platform::pathRules().separator;
  EXPECT_EQ(runtime::logPathBeside("/opt/lab/libdorvane.so"),
            std::string("/opt/lab") + separator + "dorvane_log.txt");
  EXPECT_EQ(runtime::logPathBeside("libdorvane.so"), "dorvane_log.txt");
  EXPECT_EQ(runtime::logPathBeside(""), "dorvane_log.txt");
  EXPECT_EQ(runtime::logPathBeside("C:\\Program Files\\lab\\dorvane.dll"),
            separator == '\\' ? "C:\\Program Files\\lab\\dorvane_log.txt" : "dorvane_log.txt");
  // On POSIX a backslash belongs to a file name; on Windows the last backslash wins over slashes.
  EXPECT_EQ(runtime::logPathBeside("/srv/a\\b/libdorvane.so"),
            separator == '\\' ? "/srv/a\\dorvane_log.txt" : "/srv/a\\b/dorvane_log.txt");
}

TEST(DebugPrint, WritesWhatItFormatsWithANewlineAndCountsIt) {
  testing::CapturedDebugOutput output;
  EXPECT_EQ(runtime::debugPrint(output, "dorvane.dll: log= %d", 1), 19);
  ASSERT_EQ(output.lines.size(), 1u);
  EXPECT_EQ(output.lines[0], "dorvane.dll: log= 1\n");
}

TEST(DebugPrint, CutsAt1022CharactersAndReportsTheCut) {
  testing::CapturedDebugOutput output;
  EXPECT_EQ(runtime::debugPrint(output, "%s", std::string(1022, 'y').c_str()), 1022);
  EXPECT_LT(runtime::debugPrint(output, "%s", std::string(3000, 'z').c_str()), 0);
  ASSERT_EQ(output.lines.size(), 2u);
  EXPECT_EQ(output.lines[0], std::string(1022, 'y') + "\n");
  EXPECT_EQ(output.lines[1], std::string(1022, 'z') + "\n");
}

}  // namespace
}  // namespace dorvane
