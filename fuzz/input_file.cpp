// The process's folder of input files.
#include "fuzz/input_file.h"

#include "tests/support/test_support.h"

namespace dorvane::fuzz {
namespace {

const testing::ScratchDirectory& folder() {
  static const testing::ScratchDirectory directory;
  return directory;
}

}  // namespace

std::string writeInputFile(const char* name, const std::uint8_t* data, std::size_t size) {
  return folder().write(name, std::string(reinterpret_cast<const char*>(data), size));
}

const std::filesystem::path& inputFolder() { return folder().path(); }

}  // namespace dorvane::fuzz
