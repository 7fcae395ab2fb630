// SHA-256 as FIPS 180-4 sets it out: 64-byte blocks, a message schedule of 64 words, and the length
// in bits appended after a single 1 bit and the zeros that fill the last block.
#include "host/files/file_digest.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "host/text/text.h"

namespace dorvane::host {
namespace {

constexpr std::array<std::uint32_t, 64> kRoundConstants = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t rotateRight(std::uint32_t word, int bits) { return (word >> bits) | (word << (32 - bits)); }

// The digest so far and the bytes of a block not yet full.
class Sha256 {
 public:
  void add(std::string_view bytes) {
    length_ += bytes.size();
    while (!bytes.empty()) {
      const std::size_t taken = std::min(bytes.size(), block_.size() - filled_);
      std::memcpy(block_.data() + filled_, bytes.data(), taken);
      filled_ += taken;
      bytes.remove_prefix(taken);
      if (filled_ == block_.size()) {
        compress();
        filled_ = 0;
      }
    }
  }

  std::string hex() {
    const std::uint64_t bits = length_ * 8;
    const char one = static_cast<char>(0x80);
    add(std::string_view(&one, 1));
    const char zero = 0;
    while (filled_ != 56) add(std::string_view(&zero, 1));
    for (int shift = 56; shift >= 0; shift -= 8) block_[filled_++] = static_cast<unsigned char>(bits >> shift);
    compress();
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const std::uint32_t word : state_) {
      for (int shift = 28; shift >= 0; shift -= 4) text += kDigits[(word >> shift) & 0xf];
    }
    return text;
  }

 private:
  void compress() {
    std::array<std::uint32_t, 64> schedule{};
    for (std::size_t i = 0; i < 16; ++i) {
      schedule[i] = std::uint32_t{block_[4 * i]} << 24 | std::uint32_t{block_[4 * i + 1]} << 16 |
                    std::uint32_t{block_[4 * i + 2]} << 8 | std::uint32_t{block_[4 * i + 3]};
    }
    for (std::size_t i = 16; i < 64; ++i) {
      const std::uint32_t s0 = rotateRight(schedule[i - 15], 7) ^ rotateRight(schedule[i - 15], 18) ^ (schedule[i - 15] >> 3);
      const std::uint32_t s1 = rotateRight(schedule[i - 2], 17) ^ rotateRight(schedule[i - 2], 19) ^ (schedule[i - 2] >> 10);
      schedule[i] = schedule[i - 16] + s0 + schedule[i - 7] + s1;
    }
    std::array<std::uint32_t, 8> v = state_;
    for (std::size_t i = 0; i < 64; ++i) {
      const std::uint32_t sum1 = rotateRight(v[4], 6) ^ rotateRight(v[4], 11) ^ rotateRight(v[4], 25);
      const std::uint32_t choice = (v[4] & v[5]) ^ (~v[4] & v[6]);
      const std::uint32_t first = v[7] + sum1 + choice + kRoundConstants[i] + schedule[i];
      const std::uint32_t sum0 = rotateRight(v[0], 2) ^ rotateRight(v[0], 13) ^ rotateRight(v[0], 22);
      const std::uint32_t majority = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
      const std::uint32_t second = sum0 + majority;
      v = {first + second, v[0], v[1], v[2], v[3] + first, v[4], v[5], v[6]};
    }
    for (std::size_t i = 0; i < 8; ++i) state_[i] += v[i];
  }

  std::array<std::uint32_t, 8> state_ = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                         0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::array<unsigned char, 64> block_{};
  std::size_t filled_ = 0;
  std::uint64_t length_ = 0;
};

}  // namespace

std::string sha256Hex(std::string_view bytes) {
  Sha256 digest;
  digest.add(bytes);
  return digest.hex();
}

std::string fileSha256Hex(const std::string& path, std::string& digest) {
  namespace fs = std::filesystem;
  const auto cannotRead = [&](const std::string& reason) { return "cannot read " + shownPath(path) + ": " + reason; };
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (!fs::exists(status)) return cannotRead("no such file");
  if (fs::is_directory(status)) return cannotRead("it is a folder");
  errno = 0;
  std::ifstream file(path, std::ios::binary);
  if (!file) return cannotRead(errno != 0 ? std::strerror(errno) : "it cannot be opened");
  Sha256 sha;
  std::vector<char> chunk(1 << 16);
  while (file) {
    file.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    const std::streamsize got = file.gcount();
    if (got > 0) sha.add(std::string_view(chunk.data(), static_cast<std::size_t>(got)));
  }
  if (file.bad() || !file.eof()) return cannotRead("reading it failed part way");
  digest = sha.hex();
  return {};
}

}  // namespace dorvane::host
