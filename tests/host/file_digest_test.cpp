// SHA-256 against the examples FIPS 180-4 works through, at the block boundaries where padding goes
// wrong, and a file hashed in chunks against its bytes hashed whole.
#include "host/files/file_digest.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_support.h"

namespace dorvane::host {
namespace {

using testing::ScratchDirectory;

TEST(HostFileDigest, MatchesTheStandardsExampleMessages) {
  EXPECT_EQ(sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // 448 bits: the length no longer fits after the 1 bit, so the padding takes a second block.
  EXPECT_EQ(sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(sha256Hex(std::string(1000000, 'a')), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(HostFileDigest, AFileHashedInChunksEqualsItsBytesHashedWhole) {
  const ScratchDirectory scratch;
  // Every byte value, over several read chunks and ending part way through a block.
  std::string bytes;
  for (std::size_t i = 0; i < 200003; ++i) bytes += static_cast<char>((i * 7919) >> 3);
  std::string digest;
  EXPECT_EQ(fileSha256Hex(scratch.write("raw.csv", bytes), digest), "");
  EXPECT_EQ(digest, sha256Hex(bytes));
  EXPECT_EQ(fileSha256Hex(scratch.write("empty.csv", ""), digest), "");
  EXPECT_EQ(digest, sha256Hex(""));

  digest = "kept";
  const std::string missing = (scratch.path() / "missing.csv").string();
  EXPECT_EQ(fileSha256Hex(missing, digest), "cannot read " + missing + ": no such file");
  EXPECT_EQ(fileSha256Hex(scratch.path().string(), digest), "cannot read " + scratch.path().string() + ": it is a folder");
  EXPECT_EQ(digest, "kept");
}

}  // namespace
}  // namespace dorvane::host
