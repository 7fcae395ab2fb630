// Whole-file writing on POSIX systems: O_EXCL beside the target, fsync, rename (or, to keep an
// existing file, a rename that refuses to replace one), then an fsync of the folder so that the
// rename lasts too.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "tools/whole_file.h"

namespace dorvane::host {

TemporaryFile::TemporaryFile(std::intptr_t file, std::string path) : file_(file), path_(std::move(path)) {}

TemporaryFile::~TemporaryFile() {
  if (file_ >= 0) ::close(static_cast<int>(file_));
  if (!path_.empty()) ::unlink(path_.c_str());
}

std::string TemporaryFile::write(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(static_cast<int>(file_), bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return std::strerror(errno);
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return {};
}

std::string TemporaryFile::readStart(std::size_t count) {
  std::string bytes(count, '\0');
  const ssize_t got = ::pread(static_cast<int>(file_), bytes.data(), count, 0);
  bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return bytes;
}

std::string TemporaryFile::close() {
  const int result = ::close(static_cast<int>(file_));
  file_ = -1;
  return result == 0 ? std::string() : std::strerror(errno);
}

namespace {

// Moves the finished file to `path` unless a file stands there. Linux refuses the replacement in
// the rename itself (`renamed`); a file system that cannot do that gets a hard link, which never
// replaces either, and the temporary name is then removed with the TemporaryFile.
std::string moveIntoPlaceKeeping(const std::string& temporaryPath, const std::string& path, bool& renamed) {
  renamed = ::renameat2(AT_FDCWD, temporaryPath.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0;
  if (renamed) return {};
  if (errno != EINVAL && errno != ENOSYS) return errno == EEXIST ? kFileExists : std::strerror(errno);
  if (::link(temporaryPath.c_str(), path.c_str()) == 0) return {};
  return errno == EEXIST ? kFileExists : std::strerror(errno);
}

}  // namespace

std::string writeFileWhole(const std::string& path, Existing existing, const FillTemporary& fill) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string name = path.substr(folder.size());
  if (name.empty() || name == "." || name == "..") return cannotWrite(path, std::strerror(EISDIR));

  // Beside the target, so the rename stays on one file system; a dot name keeps it out of sight.
  static std::atomic<unsigned> serial{0};
  constexpr int kAttempts = 100;
  int file = -1;
  std::string temporaryPath;
  for (int attempt = 0; file < 0; ++attempt) {
    if (attempt == kAttempts) return cannotWrite(path, std::strerror(EEXIST));
    temporaryPath = folder + "." + name + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
    file = ::open(temporaryPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (file < 0 && errno != EEXIST) return cannotWrite(path, std::strerror(errno));
  }
  TemporaryFile temporary(file, temporaryPath);

  std::string failure = fill(temporary);
  if (!failure.empty()) return failure;
  if (::fsync(file) != 0) return cannotWrite(path, std::strerror(errno));
  if (const std::string reason = temporary.close(); !reason.empty()) return cannotWrite(path, reason);
  if (existing == Existing::Keep) {
    bool renamed = false;
    if (const std::string reason = moveIntoPlaceKeeping(temporaryPath, path, renamed); !reason.empty()) {
      return cannotWrite(path, reason);
    }
    if (renamed) temporary.keep();
  } else {
    if (::rename(temporaryPath.c_str(), path.c_str()) != 0) return cannotWrite(path, std::strerror(errno));
    temporary.keep();
  }

  // The rename itself lasts only once the folder is synced; a failure here loses nothing written.
  const int directory = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory >= 0) {
    ::fsync(directory);
    ::close(directory);
  }
  return {};
}

}  // namespace dorvane::host
