// A pseudo-terminal pair for the virtual bench: the bench works the master, the driver opens the
// slave's path as its serial port.
#pragma once

#include <string>

namespace dorvane::sim {

class PseudoTerminal {
 public:
  // Opens the pair with both ends in raw mode; throws std::system_error when the system refuses.
  PseudoTerminal();
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  // Non-blocking; -1 once closed.
  int masterFd() const { return master_; }
  // The device the driver opens, e.g. /dev/pts/7.
  const std::string& slavePath() const { return slavePath_; }

  // Makes `path` a symbolic link to the slave (replacing an older link there, never a file); the
  // link goes when the pair closes.
  void linkAs(const std::string& path);
  const std::string& linkPath() const { return linkPath_; }

  bool isOpen() const { return master_ >= 0; }
  // The bench vanishing: the driver's end sees a hang-up. Stop any bench link on the master first.
  void close();

 private:
  int master_ = -1;
  int slaveKeeper_ = -1;
  std::string slavePath_;
  std::string linkPath_;
};

}  // namespace dorvane::sim
