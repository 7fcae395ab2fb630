// The fuzz input as a file, for the readers that take a path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace dorvane::fuzz {

// Writes the input to `name` in one folder for the process (./dev fuzz points TMPDIR at /dev/shm,
// so no disk is worn), removed at exit; returns the file's path.
std::string writeInputFile(const char* name, const std::uint8_t* data, std::size_t size);
// That folder.
const std::filesystem::path& inputFolder();

}  // namespace dorvane::fuzz
