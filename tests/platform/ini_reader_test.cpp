// The INI reader gives what GetPrivateProfileIntA gives, whatever the file holds.
#include <gtest/gtest.h>

#include "platform/ini.h"
#include "tests/support/test_support.h"

namespace dorvane {
namespace {

using platform::readProfileInt;

class IniReader : public ::testing::Test {
 protected:
  std::int32_t read(const std::string& content, const char* key, const char* section = "Settings") {
    const std::string path = scratch.write("settings.ini", content);
    return readProfileInt(section, key, 77, path.c_str());
  }
  testing::ScratchDirectory scratch;
};

TEST_F(IniReader, NamesMatchWithoutRegardToCaseOrSurroundingBlanks) {
  const std::string file = "[settings]\n  POINTS  =  4096  \r\n\t[ Other ]\nbaud=1\n";
  EXPECT_EQ(read(file, "points"), 4096);
  EXPECT_EQ(read(file, "Points", "SETTINGS"), 4096);
  EXPECT_EQ(read(file, "baud", "other"), 1);
}

TEST_F(IniReader, ValueIsItsLeadingDecimalIntegerWithOptionalSign) {
  const std::string file =
      "[Settings]\nneg=-12\nplus=+7\njunk=42abc\nnone=abc\nhex=0x1F\nspaced=  9 ; note\n"
      "quoted=\"38400\"\nsigned=-\nfraction=2.9\n";
  EXPECT_EQ(read(file, "neg"), -12);
  EXPECT_EQ(read(file, "plus"), 7);
  EXPECT_EQ(read(file, "junk"), 42);
  EXPECT_EQ(read(file, "none"), 0);  // present but not a number: 0, not the default
  EXPECT_EQ(read(file, "hex"), 0);
  EXPECT_EQ(read(file, "spaced"), 9);
  EXPECT_EQ(read(file, "quoted"), 38400);
  EXPECT_EQ(read(file, "signed"), 0);
  EXPECT_EQ(read(file, "fraction"), 2);
}

TEST_F(IniReader, MissingFileSectionKeyOrValueGivesTheDefault) {
  EXPECT_EQ(readProfileInt("Settings", "points", 77, (scratch.path() / "absent.ini").string().c_str()), 77);
  EXPECT_EQ(read("[Other]\npoints=5\n", "points"), 77);
  EXPECT_EQ(read("points=5\n[Settings]\n", "points"), 77);  // keys before any section belong to none
  EXPECT_EQ(read("[Settings]\npointsx=5\n", "points"), 77);
  EXPECT_EQ(read("[Settings]\npoints=\n", "points"), 77);
  EXPECT_EQ(read("[Settings]\npoints\n", "points"), 77);
  EXPECT_EQ(read("", "points"), 77);
}

TEST_F(IniReader, FirstKeyWinsAndSectionsEndAtTheNextHeader) {
  EXPECT_EQ(read("[Settings]\nport=2\nport=3\n", "port"), 2);
  EXPECT_EQ(read("[Settings]\nbaud=1\n[Other]\nport=3\n", "port"), 77);
  EXPECT_EQ(read("[Settings]\nbaud=1\n[Other]\n[Settings]\nport=3\n", "port"), 3);
}

// The host checks a file entry by entry, as the reader above sees it, before the driver reads it.
TEST_F(IniReader, ASectionsEntriesComeInOrderWithTheirLines) {
  const std::string path = scratch.write("settings.ini", "\xEF\xBB\xBF; note\n[settings]\n Port = \"2\" \nflag\n[Other]\nx=1\n[Settings]\nport=3\n");
  const auto entries = platform::readProfileSection("Settings", path.c_str());
  ASSERT_TRUE(entries.has_value());
  ASSERT_EQ(entries->size(), 3u);
  EXPECT_EQ((*entries)[0].key, "Port");
  EXPECT_EQ((*entries)[0].value, "2");
  EXPECT_EQ((*entries)[0].line, 3);
  EXPECT_FALSE((*entries)[1].hasValue);
  EXPECT_EQ((*entries)[2].line, 8);
  EXPECT_FALSE(platform::readProfileSection("Settings", (scratch.path() / "absent.ini").string().c_str()).has_value());
}

TEST_F(IniReader, HugeNumbersWrapLikeTheWindowsReaderAndNeverOverflow) {
  EXPECT_EQ(read("[Settings]\nv=2147483647\n", "v"), 2147483647);
  EXPECT_EQ(read("[Settings]\nv=-2147483648\n", "v"), -2147483647 - 1);
  EXPECT_EQ(read("[Settings]\nv=4294967297\n", "v"), 1);
  EXPECT_EQ(read("[Settings]\nv=12345678901234567890\n", "v"), -350287150);
  EXPECT_EQ(read("[Settings]\nv=-12345678901234567890\n", "v"), 350287150);
}

TEST_F(IniReader, BinaryJunkAndVeryLongLinesAreSurvived) {
  std::string junk = "\xEF\xBB\xBF[Settings]\n";
  junk += std::string("\0\x01\xff[=]\n", 7);
  junk += std::string(100000, 'x') + "\n";
  junk += "points=123\n";
  junk += std::string(100000, '\0');
  EXPECT_EQ(read(junk, "points"), 123);
  EXPECT_EQ(read(std::string(50000, '['), "points"), 77);
}

}  // namespace
}  // namespace dorvane
