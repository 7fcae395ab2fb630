// The system's part of whole-file writing on POSIX systems: O_EXCL beside the target, fsync, a
// rename that refuses to replace (RENAME_NOREPLACE, or a hard link where the file system lacks it),
// then an fsync of the folder so that the rename lasts too.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "host/os/file_system.h"
#include "host/text/text.h"

namespace dorvane::host {
namespace {

// The folder part of `path`, with its final '/', or "" for a name alone.
std::string folderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Every byte, through interruptions; false with errno set when the system refuses.
bool writeAll(int file, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(file, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

TemporaryFile::~TemporaryFile() {
  if (file_ >= 0) ::close(static_cast<int>(file_));
  if (!path_.empty()) ::unlink(path_.c_str());
}

std::unique_ptr<TemporaryFile> TemporaryFile::createBeside(const std::string& target, std::string& reason) {
  const std::string name = target.substr(folderOf(target).size());
  if (name.empty() || name == "." || name == "..") {
    reason = std::strerror(EISDIR);
    return nullptr;
  }
  // Beside the target, so the rename stays on one file system; a dot name keeps it out of sight.
  constexpr int kAttempts = 100;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const std::string path = file_system::hiddenNameBeside(target, "tmp");
    const int file = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (file >= 0) return std::unique_ptr<TemporaryFile>(new TemporaryFile(file, path, target));
    if (errno != EEXIST) {
      reason = std::strerror(errno);
      return nullptr;
    }
  }
  reason = std::strerror(EEXIST);
  return nullptr;
}

std::string TemporaryFile::write(std::string_view bytes) {
  return writeAll(static_cast<int>(file_), bytes) ? std::string() : cannotWrite(target_, std::strerror(errno));
}

std::string TemporaryFile::readStart(std::size_t count) {
  std::string bytes(count, '\0');
  const ssize_t got = ::pread(static_cast<int>(file_), bytes.data(), count, 0);
  bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return bytes;
}

std::string TemporaryFile::commit() {
  const bool synced = ::fsync(static_cast<int>(file_)) == 0;
  const int syncError = errno;
  const int result = ::close(static_cast<int>(file_));
  file_ = -1;
  if (!synced) return std::strerror(syncError);
  return result == 0 ? std::string() : std::strerror(errno);
}

AppendingFile::~AppendingFile() { ::close(static_cast<int>(file_)); }

std::unique_ptr<AppendingFile> AppendingFile::open(const std::string& path, std::string& reason) {
  const int file = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (file < 0) {
    reason = std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<AppendingFile>(new AppendingFile(file, path));
}

std::string AppendingFile::append(std::string_view bytes) {
  if (!writeAll(static_cast<int>(file_), bytes)) return cannotWrite(path_, std::strerror(errno));
  return ::fdatasync(static_cast<int>(file_)) == 0 ? std::string() : cannotWrite(path_, std::strerror(errno));
}

namespace file_system {

Occupant occupantOf(const std::string& path) {
  struct stat status {};
  // lstat: a link is a file of its own, whatever it points to (or does not).
  if (::lstat(path.c_str(), &status) != 0) return Occupant::None;
  return S_ISDIR(status.st_mode) ? Occupant::Folder : Occupant::File;
}

std::string folderInTheWay() { return std::strerror(EISDIR); }

std::string hiddenNameBeside(const std::string& path, std::string_view tag) {
  static std::atomic<unsigned> serial{0};
  const std::string folder = folderOf(path);
  return folder + "." + path.substr(folder.size()) + "." + std::string(tag) + "-" + std::to_string(::getpid()) + "-" +
         std::to_string(serial++);
}

std::string moveKeeping(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return {};
  if (errno != EINVAL && errno != ENOSYS) return errno == EEXIST ? kFileExists : std::strerror(errno);
  // A file system without RENAME_NOREPLACE: a hard link never replaces either.
  if (::link(from.c_str(), to.c_str()) != 0) return errno == EEXIST ? kFileExists : std::strerror(errno);
  ::unlink(from.c_str());
  return {};
}

std::string removeFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0 || errno == ENOENT ? std::string() : std::strerror(errno);
}

void syncFolderOf(const std::string& path) {
  const std::string folder = folderOf(path);
  // A failure here loses nothing written: the rename only might not outlast a crash.
  const int directory = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory >= 0) {
    ::fsync(directory);
    ::close(directory);
  }
}

}  // namespace file_system
}  // namespace dorvane::host
