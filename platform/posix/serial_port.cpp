// The serial layer on termios: ports 0..255 opened from DORVANE_COM<n+1> or /dev/ttyS<n>, a
// receive queue in user space drained from the kernel, and waits that block in poll.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/mutex.h"
#include "platform/serial_device.h"
#include "platform/serial_port.h"
#include "platform/serial_queue.h"
#include "platform/system_error.h"

namespace dorvane::platform {
namespace {

constexpr std::uint64_t kDefaultWriteMsPerByte = 1;
constexpr std::uint64_t kDefaultWriteConstantMs = 2000;

std::uint64_t monotonicUs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000u +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
}

// A point on the monotonic clock; every blocking call asks it for the time left just before it.
// The longest a wait for more bytes rests before it looks at the line again.
constexpr std::size_t kLongestLineRestMs = 50;

class Deadline {
 public:
  // Capped at about 35 years, so that a MAXDWORD write time-out cannot overflow the sum.
  explicit Deadline(std::uint64_t ms)
      : endUs_(monotonicUs() + std::min<std::uint64_t>(ms, std::uint64_t{1} << 40) * 1000u) {}
  // Whole milliseconds left, rounded up so that poll never returns before the deadline.
  int remainingMs() const {
    const std::uint64_t nowUs = monotonicUs();
    if (nowUs >= endUs_) return 0;
    return static_cast<int>(std::min<std::uint64_t>((endUs_ - nowUs + 999u) / 1000u, INT_MAX));
  }

 private:
  std::uint64_t endUs_;
};

// Ends the exclusive hold on a device this layer opened, then closes it. A pty slave keeps its
// exclusive flag past the close for as long as its master stays open, so the flag goes first.
void closeDevice(int fd) {
  SystemErrorKeeper keep;
  ioctl(fd, TIOCNXCL);
  ::close(fd);  // releases the flock
}

// A pseudo-terminal's slave (the virtual bench's end) keeps TIOCEXCL for as long as its master is
// open, so a host killed while holding it would lock it for every later host: there the flock alone
// keeps a second dorvane out.
bool isPseudoTerminal(int fd) {
  constexpr unsigned kFirstPtySlaveMajor = 136;  // UNIX98 pseudo-terminal slaves: majors 136 to 143
  constexpr unsigned kLastPtySlaveMajor = 143;
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode)) return false;
  const unsigned deviceMajor = major(status.st_rdev);
  return deviceMajor >= kFirstPtySlaveMajor && deviceMajor <= kLastPtySlaveMajor;
}

// The serial code for the reason the system gave for refusing to open a device.
int openRefusal(int error) {
  switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
      return kSerialBadPort;
    case EBUSY:  // another program set TIOCEXCL on it
      return kSerialInUse;
    case EACCES:
    case EPERM:
      return kSerialDenied;
    case EISDIR:
      return kSerialNotSerial;
    default:
      return kSerialHardware;
  }
}

struct BaudEntry {
  int rate;
  speed_t speed;
};

constexpr BaudEntry kBaudRates[] = {
    {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
#ifdef B57600
    {57600, B57600},
#endif
#ifdef B115200
    {115200, B115200},
#endif
#ifdef B230400
    {230400, B230400},
#endif
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1152000
    {1152000, B1152000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
#ifdef B2500000
    {2500000, B2500000},
#endif
#ifdef B3000000
    {3000000, B3000000},
#endif
#ifdef B3500000
    {3500000, B3500000},
#endif
#ifdef B4000000
    {4000000, B4000000},
#endif
};

// The termios speed for a baud rate, or B0 (hang up) where there is none.
speed_t speedFor(int rate) {
  for (const BaudEntry& entry : kBaudRates) {
    if (entry.rate == rate) return entry.speed;
  }
  return B0;
}

// A device without modem lines (a pseudo-terminal) refuses their ioctls with one of these.
bool noModemLines(int error) { return error == ENOTTY || error == EINVAL; }

// The Windows modem status bits (MS_CTS_ON and the rest), so a status reads the same in the logs
// of both platforms.
int windowsModemBits(int lines) {
  return ((lines & TIOCM_CTS) ? 0x10 : 0) | ((lines & TIOCM_DSR) ? 0x20 : 0) |
         ((lines & TIOCM_RNG) ? 0x40 : 0) | ((lines & TIOCM_CAR) ? 0x80 : 0);
}

// A pseudo-terminal has no modem lines; that is no reason to refuse the port.
void setModemLine(int fd, int line, bool raised) {
  SystemErrorKeeper keep;
  ioctl(fd, raised ? TIOCMBIS : TIOCMBIC, &line);
}

}  // namespace

namespace serial_device {

// The descriptors stay valid while a wait or a write is still blocked on them after a close from
// another thread: the last holder of the shared state closes them.
struct Port {
  Port(int fd, int wakeRead, int wakeWrite, std::size_t capacity)
      : fd(fd), wakeRead(wakeRead), wakeWrite(wakeWrite), received(capacity) {}
  ~Port() {
    SystemErrorKeeper keep;
    closeDevice(fd);
    ::close(wakeRead);
    ::close(wakeWrite);
  }
  Port(const Port&) = delete;
  Port& operator=(const Port&) = delete;

  const int fd;
  // Readable once the port is closed: it ends every wait and write still blocked on the port.
  const int wakeRead;
  const int wakeWrite;

  Mutex mutex;  // guards everything below
  ByteRing received;
  bool hungUp = false;
  bool closed = false;
  bool writeTimeoutsSet = false;
  std::uint32_t writeMultiplier = 0;
  std::uint32_t writeConstant = 0;
  int rate = 0;  // the line's baud rate
};

namespace {

void markHungUp(Port& state) {
  ScopedLock lock(state.mutex);
  state.hungUp = true;
}

std::uint64_t writeLimitMs(const Port& state, std::uint64_t count) {
  std::uint64_t limit = 0;
  if (state.writeTimeoutsSet) {
    limit = std::uint64_t{state.writeMultiplier} * count + state.writeConstant;
  }
  // Zero would mean "no limit" on Windows; a write here never waits forever.
  if (limit == 0) limit = kDefaultWriteMsPerByte * count + kDefaultWriteConstantMs;
  return limit;
}

// Moves what the kernel holds into the queue without blocking; the caller holds the port's lock.
// errno changes only for a real failure.
void drain(Port& state) {
  const int savedErrno = errno;
  while (!state.received.full()) {
    const ssize_t result =
        ::read(state.fd, state.received.freeStart(), state.received.freeContiguous());
    if (result > 0) {
      state.received.commit(static_cast<std::size_t>(result));
      continue;
    }
    if (result < 0 && errno == EINTR) continue;
    // A hung-up line reads EIO or 0, but an idle one whose VMIN was set to 0 behind our back
    // (termios set on a pty master lands on its slave) reads 0 too: the waits' poll, which
    // sees POLLHUP, is the judge of a hang-up.
    if (result < 0 && errno == EIO) {
      state.hungUp = true;
    } else {
      errno = savedErrno;
    }
    return;
  }
}

}  // namespace

bool offersRate(int rate) { return speedFor(rate) != B0; }

int open(int port, std::size_t receiveQueue, std::size_t /*transmitQueue*/,
         const Defaults& defaults, std::shared_ptr<Port>& opened) {
  const std::string path = serialDevicePath(port);
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return openRefusal(errno);
  // Until this opening holds the device, closing must leave another holder's exclusive flag be.
  bool held = false;
  const auto fail = [fd, &held](int result) {
    SystemErrorKeeper keep;
    if (held) {
      closeDevice(fd);
    } else {
      ::close(fd);
    }
    return result;
  };

  // A file or a device that is no terminal says so before any lock is taken: the path is wrong,
  // whoever else may have it open.
  termios settings{};
  if (tcgetattr(fd, &settings) != 0) return fail(errno == ENOTTY ? kSerialNotSerial : kSerialHardware);
  // Exclusive, as Windows opens a COM port, so a second program cannot reset the bench in the
  // middle of a transfer: the flock turns away every opening through this layer (root's too, and
  // this process's other port numbers on the same device); TIOCEXCL turns away programs that take
  // no lock (minicom, screen) unless they run as root.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(errno == EWOULDBLOCK ? kSerialInUse : kSerialHardware);
  if (!isPseudoTerminal(fd) && ioctl(fd, TIOCEXCL) != 0) return fail(kSerialHardware);
  held = true;
  // Raw 8N1 with no software flow control: SYNC (0x16), 0x03, XON and XOFF are data here.
  cfmakeraw(&settings);
  settings.c_cflag |= CLOCAL | CREAD | CS8;
  settings.c_cflag &= ~static_cast<tcflag_t>(PARENB | CSTOPB | CRTSCTS);
  settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  // VMIN 1 rather than 0: on a non-blocking descriptor an empty line then reads EAGAIN in one
  // call instead of a 0 that needs a poll to tell it from a hang-up.
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  const speed_t speed = speedFor(defaults.rate);
  cfsetispeed(&settings, speed);
  cfsetospeed(&settings, speed);
  if (tcsetattr(fd, TCSANOW, &settings) != 0) return fail(kSerialHardware);
  // A fresh opening starts with empty queues, whatever came before the line was raw.
  tcflush(fd, TCIOFLUSH);
  setModemLine(fd, TIOCM_DTR, defaults.dtr);
  setModemLine(fd, TIOCM_RTS, defaults.rts);

  int wake[2] = {-1, -1};
  if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) return fail(kSerialSystemError);
  try {
    opened = std::make_shared<Port>(fd, wake[0], wake[1],
                                    std::max(receiveQueue, kMinReceiveCapacity));
    opened->rate = defaults.rate;
  } catch (const std::bad_alloc&) {
    ::close(wake[0]);
    ::close(wake[1]);
    return fail(kSerialNoMemory);
  }
  return 0;
}

void shutDown(Port& state) {
  {
    ScopedLock lock(state.mutex);
    state.closed = true;
  }
  SystemErrorKeeper keep;
  const std::uint8_t wake = 1;
  [[maybe_unused]] const ssize_t ignored = ::write(state.wakeWrite, &wake, 1);
}

int setBaud(Port& state, int rate) {
  const speed_t speed = speedFor(rate);
  termios settings{};
  if (tcgetattr(state.fd, &settings) != 0) return kSerialSystemError;
  cfsetispeed(&settings, speed);
  cfsetospeed(&settings, speed);
  if (tcsetattr(state.fd, TCSANOW, &settings) != 0) return kSerialBaudRate;
  ScopedLock lock(state.mutex);
  state.rate = rate;
  return 0;
}

int setFlow(Port& state, int mode) {
  termios settings{};
  if (tcgetattr(state.fd, &settings) != 0) return kSerialSystemError;
  if (mode == kFlowHardware) {
    settings.c_cflag |= CRTSCTS;
  } else {
    settings.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
  }
  if (tcsetattr(state.fd, TCSANOW, &settings) != 0) return kSerialSystemError;
  return 0;
}

int setWriteTimeouts(Port& state, std::int32_t writeMultiplier, std::int32_t writeConstant) {
  // They keep their Windows meaning: unsigned milliseconds.
  ScopedLock lock(state.mutex);
  state.writeTimeoutsSet = true;
  state.writeMultiplier = static_cast<std::uint32_t>(writeMultiplier);
  state.writeConstant = static_cast<std::uint32_t>(writeConstant);
  return 0;
}

int receiveCount(Port& state) {
  ScopedLock lock(state.mutex);
  drain(state);
  return static_cast<int>(state.received.size());
}

int getByte(Port& state) {
  ScopedLock lock(state.mutex);
  if (state.received.size() == 0) drain(state);
  return takeByte(state.received);
}

int readBlock(Port& state, std::uint8_t* buffer, int count) {
  ScopedLock lock(state.mutex);
  std::size_t copied = 0;
  const auto wanted = static_cast<std::size_t>(count);
  // A full queue may leave bytes in the kernel, so drain again after each helping.
  while (copied < wanted) {
    drain(state);
    const std::size_t taken = state.received.take(buffer + copied, wanted - copied);
    if (taken == 0) break;
    copied += taken;
  }
  return static_cast<int>(copied);
}

int putBlock(Port& state, const std::uint8_t* buffer, int count) {
  std::uint64_t limitMs = 0;
  {
    ScopedLock lock(state.mutex);
    if (state.hungUp) {
      errno = EIO;  // a dead line: no attempt against it
      return 0;
    }
    limitMs = writeLimitMs(state, static_cast<std::uint64_t>(count));
  }
  const Deadline deadline(limitMs);

  // The write goes without the port's lock, so receiving goes on meanwhile; the shared state
  // keeps the descriptor open even if the port is closed under it.
  int written = 0;
  while (written < count) {
    const ssize_t result =
        ::write(state.fd, buffer + written, static_cast<std::size_t>(count - written));
    if (result > 0) {
      written += static_cast<int>(result);
      continue;
    }
    if (result < 0 && errno == EINTR) continue;
    if (result < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      if (errno == EIO) markHungUp(state);
      return written;
    }
    const int remaining = deadline.remainingMs();
    if (remaining == 0) {
      errno = ETIMEDOUT;
      return written;
    }
    pollfd fds[2] = {{state.fd, POLLOUT, 0}, {state.wakeRead, POLLIN, 0}};
    const int ready = ::poll(fds, 2, remaining);
    if (ready < 0 && errno != EINTR) return written;
    if (ready > 0 && fds[1].revents != 0) {
      errno = EBADF;  // the port was closed by another thread
      return written;
    }
    // A hang-up or an error shows in the next write's errno.
  }
  return written;
}

int clearReceiveQueue(Port& state) {
  ScopedLock lock(state.mutex);
  state.received.clear();
  if (tcflush(state.fd, TCIFLUSH) != 0) return kSerialSystemError;
  return 0;
}

int portStatus(Port& state, int mask) {
  int lines = 0;
  if (ioctl(state.fd, TIOCMGET, &lines) != 0) {
    return noModemLines(errno) ? 0 : kSerialSystemError;
  }
  return windowsModemBits(lines) & mask;
}

InputWait waitForInput(Port& state, int count, std::uint32_t timeoutMs) {
  const Deadline deadline(timeoutMs);
  const auto wanted = static_cast<std::size_t>(std::max(count, 0));
  {
    ScopedLock lock(state.mutex);
    if (state.closed) return InputWait::hungUp;
    drain(state);
    if (state.received.size() >= wanted || state.received.full()) return InputWait::ready;
    if (state.hungUp) return InputWait::hungUp;
  }
  // Everything the kernel had is in the queue now, so POLLIN means new bytes: waiting for
  // more than have come never spins.
  for (;;) {
    pollfd fds[2] = {{state.fd, POLLIN, 0}, {state.wakeRead, POLLIN, 0}};
    const int ready = ::poll(fds, 2, deadline.remainingMs());
    if (ready < 0) {
      if (errno == EINTR) continue;
      return InputWait::hungUp;
    }
    if (ready == 0) return InputWait::timedOut;
    if (fds[1].revents != 0) return InputWait::hungUp;

    std::size_t missing = 0;
    int rate = 0;
    {
      ScopedLock lock(state.mutex);
      if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
        drain(state);  // bytes that came with the hang-up stay readable
        state.hungUp = true;
      } else {
        drain(state);
      }
      if (state.received.size() >= wanted || state.received.full()) return InputWait::ready;
      if (state.hungUp) return InputWait::hungUp;
      missing = wanted - state.received.size();
      rate = state.rate;
    }
    // The rest cannot come sooner than the line carries it (10 bits a byte): rest that long on
    // the wake pipe alone, so a slow line does not wake the waiter for every byte. The rest is
    // short and leaves half the caller's time, so a line faster than its setting (a
    // pseudo-terminal) costs a little latency, never a time-out.
    if (rate > 0) {
      const auto lineMs = static_cast<int>(std::min<std::size_t>(missing * 10000u / static_cast<unsigned>(rate),
                                                                 kLongestLineRestMs));
      const int restMs = std::min(lineMs, deadline.remainingMs() / 2);
      if (restMs >= 2) {
        pollfd wake{state.wakeRead, POLLIN, 0};
        (void)::poll(&wake, 1, restMs);
      }
    }
    return InputWait::ready;
  }
}

int lastError() { return errno; }

void clearLastError() { errno = 0; }

}  // namespace serial_device

std::string serialDevicePath(int port) {
  const std::string variable = "DORVANE_COM" + std::to_string(port + 1);
  if (const char* path = std::getenv(variable.c_str()); path != nullptr) return path;
  return "/dev/ttyS" + std::to_string(port);
}

}  // namespace dorvane::platform
