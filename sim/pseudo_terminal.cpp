// The virtual bench's pseudo-terminal: opening, raw mode, the slave kept open, the optional link.
#include "sim/pseudo_terminal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace dorvane::sim {
namespace {

[[noreturn]] void fail(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

// A fresh slave is in cooked mode, where SYNC (0x16) is "literal next", 0x03 interrupts, 0x11/0x13
// are XON/XOFF and everything echoes back: none of that may touch the wire bytes.
void makeRaw(int fd) {
  termios mode{};
  if (::tcgetattr(fd, &mode) != 0) fail("tcgetattr");
  ::cfmakeraw(&mode);
  mode.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  mode.c_cflag |= CLOCAL | CREAD;
  mode.c_cc[VMIN] = 1;
  mode.c_cc[VTIME] = 0;
  if (::tcsetattr(fd, TCSANOW, &mode) != 0) fail("tcsetattr");
}

}  // namespace

PseudoTerminal::PseudoTerminal() {
  try {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) fail("posix_openpt");
    if (::fcntl(master_, F_SETFD, FD_CLOEXEC) != 0) fail("fcntl");
    if (::grantpt(master_) != 0) fail("grantpt");
    if (::unlockpt(master_) != 0) fail("unlockpt");
    char name[128];
    if (::ptsname_r(master_, name, sizeof name) != 0) fail("ptsname_r");
    slavePath_ = name;
    makeRaw(master_);
    // The driver opens and closes the port around every call; with one slave descriptor held here
    // for the pair's whole life the master never sees a hang-up in between.
    slaveKeeper_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveKeeper_ < 0) fail("open slave");
    makeRaw(slaveKeeper_);
    const int flags = ::fcntl(master_, F_GETFL);
    if (flags < 0 || ::fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) fail("fcntl");
  } catch (...) {
    close();
    throw;
  }
}

PseudoTerminal::~PseudoTerminal() { close(); }

void PseudoTerminal::linkAs(const std::string& path) {
  struct stat existing {};
  if (::lstat(path.c_str(), &existing) == 0) {
    if (!S_ISLNK(existing.st_mode)) throw std::system_error(EEXIST, std::generic_category(), path);
    if (::unlink(path.c_str()) != 0) fail("unlink");
  }
  if (::symlink(slavePath_.c_str(), path.c_str()) != 0) fail("symlink");
  if (!linkPath_.empty() && linkPath_ != path) ::unlink(linkPath_.c_str());
  linkPath_ = path;
}

void PseudoTerminal::close() {
  if (!linkPath_.empty()) ::unlink(linkPath_.c_str());
  linkPath_.clear();
  if (slaveKeeper_ >= 0) ::close(slaveKeeper_);
  if (master_ >= 0) ::close(master_);
  slaveKeeper_ = master_ = -1;
}

}  // namespace dorvane::sim
