// A program run by a test as a script would run it: stdout on a pipe the test reads as it goes,
// stderr into a file of its own in the temporary directory, read once the program has ended (the
// file is removed with the object after a pass, kept after a failure).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace dorvane::testing {

class ChildProcess {
 public:
  // `environment` adds NAME=VALUE entries to the test's own.
  ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
               const std::vector<std::string>& environment = {});
  ~ChildProcess();  // kills a program that is still running
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The next line on stdout without its newline; empty if the program ends first or nothing comes
  // within the bound (a bound for a broken program only, generous for a sanitizer's slow start).
  std::string readLine(int timeoutMs = 60000);
  // Reads stdout until a line contains `text`; false if the program ends first or time runs out.
  bool readUntilLineWith(const std::string& text, int timeoutMs);
  void send(int signal);
  // To the program and every process it started in its group, as a terminal's Ctrl-C reaches them.
  void sendToGroup(int signal);
  // Waits for the end and reads the rest of stdout. The exit status, or 128 + the ending signal.
  int wait();
  bool exitedNormally() const { return exitedNormally_; }
  // All of stdout read so far.
  const std::string& output() const { return output_; }
  std::string errors() const;

 private:
  bool fill(int timeoutMs);

  std::string errorsPath_;
  pid_t pid_ = -1;
  int out_ = -1;
  std::string output_;
  std::size_t lineStart_ = 0;  // where the next unread line begins in output_
  bool exitedNormally_ = false;
};

}  // namespace dorvane::testing
