// The termios serial layer driven over real pseudo-terminals: the test holds the master end and
// points DORVANE_COM<n+1> at the slave, which the layer opens as port n.
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/serial_port.h"
#include "tests/support/test_support.h"

namespace dorvane::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The far end of the line: a pty master whose slave stands in for the serial device.
class PtyPeer {
 public:
  explicit PtyPeer(int port) : variable_("DORVANE_COM" + std::to_string(port + 1)) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    fcntl(master_, F_SETFL, O_NONBLOCK);
    char name[128] = {};
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname_r(master_, name, sizeof name) != 0) {
      ADD_FAILURE() << "no pseudo-terminal: errno " << errno;
      return;
    }
    // No cfmakeraw here: termios calls on a master act on its slave, so they would do the
    // layer's work for it. The slave stays cooked (echo, ICRNL, IXON, ISIG, ONLCR) until the
    // layer opens it; the master's own side is raw from the start.
    slavePath_ = name;
    setenv(variable_.c_str(), name, 1);
  }
  ~PtyPeer() {
    closeMaster();
    unsetenv(variable_.c_str());
  }

  const std::string& slavePath() const { return slavePath_; }

  // The line settings the layer gave the slave.
  termios slaveSettings() const {
    termios settings{};
    EXPECT_EQ(tcgetattr(master_, &settings), 0);
    return settings;
  }

  // Both directions give up after 10 s without progress, so a broken layer fails the test
  // instead of hanging it.
  void send(const Bytes& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
        continue;
      }
      pollfd fd{master_, POLLOUT, 0};
      ASSERT_TRUE(n < 0 && errno == EAGAIN && poll(&fd, 1, 10000) > 0)
          << "the layer stopped taking bytes after " << done;
    }
  }

  Bytes receive(std::size_t count) {
    Bytes bytes(count);
    std::size_t done = 0;
    while (done < count) {
      pollfd fd{master_, POLLIN, 0};
      if (poll(&fd, 1, 10000) <= 0) break;
      const ssize_t n = ::read(master_, bytes.data() + done, count - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    bytes.resize(done);
    return bytes;
  }

  void closeMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

 private:
  std::string variable_;
  std::string slavePath_;
  int master_ = -1;
};

// Waits until thread `tid` of this process sleeps in the kernel (state S in /proc), as a thread
// blocked in a wait does: the moment to act on that wait from another thread. False if it never
// does within the bound, which only a broken wait reaches.
bool waitUntilAsleep(pid_t tid) {
  const std::string stat = "/proc/self/task/" + std::to_string(tid) + "/stat";
  const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < bound) {
    std::ifstream file(stat);
    const std::string text{std::istreambuf_iterator<char>(file), {}};
    // The state follows the thread's name, which is in parentheses and may hold anything.
    const std::size_t nameEnd = text.rfind(')');
    if (nameEnd != std::string::npos && nameEnd + 2 < text.size() && text[nameEnd + 2] == 'S') return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

// Each test owns a port number of its own (40 and up), so the suites may run side by side.
class SerialTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (int port : opened_) serial.close(port);
  }

  int open(int port, int queue = 4096) {
    opened_.push_back(port);
    return serial.reset(port, queue, queue);
  }

  // Waits (in as many calls as the layer needs) until `count` bytes are queued, the line hangs
  // up, or a wait times out; returns what is queued. The guard only stops a broken layer from
  // keeping the suite busy for ever.
  int waitFor(int port, int count) {
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (serial.receiveCount(port) < count && std::chrono::steady_clock::now() < guard) {
      if (serial.waitForInput(port, count, 10000) != InputWait::ready) break;
    }
    return serial.receiveCount(port);
  }

  Bytes readAll(int port, int count) {
    Bytes bytes(static_cast<std::size_t>(count) + 1, 0xA5);  // one guard byte past the end
    EXPECT_EQ(serial.readBlock(port, bytes.data(), count), count);
    EXPECT_EQ(bytes.back(), 0xA5) << "wrote past the buffer";
    bytes.pop_back();
    return bytes;
  }

  SerialLibrary& serial = systemSerialLibrary();

 private:
  std::vector<int> opened_;
};

using SerialLine = SerialTest;
using SerialOpen = SerialTest;
using SerialReceive = SerialTest;
using SerialWait = SerialTest;
using SerialHangUp = SerialTest;

Bytes everyByteValue() {
  // SYNC, ETX, XON, XOFF, CR, LF and 0xFF first: the bytes a cooked line would eat or change.
  Bytes bytes = {0x16, 0x03, 0x11, 0x13, 0x0D, 0x0A, 0xFF};
  for (int value = 0; value < 256; ++value) bytes.push_back(static_cast<std::uint8_t>(value));
  return bytes;
}

TEST_F(SerialLine, ControlBytesPassUnalteredBothWaysWithoutEcho) {
  PtyPeer peer(40);
  ASSERT_EQ(open(40), 0);
  const Bytes bytes = everyByteValue();
  const int count = static_cast<int>(bytes.size());

  ASSERT_EQ(serial.putBlock(40, bytes.data(), count), count);
  EXPECT_EQ(peer.receive(bytes.size()), bytes);

  peer.send(bytes);
  ASSERT_EQ(waitFor(40, count), count);
  EXPECT_EQ(readAll(40, count), bytes);
  // An echoing line would have sent the received bytes back ahead of this one.
  ASSERT_EQ(serial.putByte(40, 0x55), 1);
  EXPECT_EQ(peer.receive(1), Bytes{0x55});
  EXPECT_GE(serial.portStatus(40, 0xFF), 0) << "a pty's missing modem lines are no failure";
}

// Runs `body` in a child process as nobody (uid and gid 65534), so that file modes and TIOCEXCL
// apply even when the suite runs as root: what `body` returned (0 to 254), or kNotAsNobody when
// the child could not drop root's rights (those checks are then skipped).
constexpr int kNotAsNobody = 255;
int asNobody(const std::function<int()>& body) {
  const pid_t child = fork();
  if (child == 0) {
    constexpr uid_t kNobody = 65534;
    if (setgroups(0, nullptr) != 0 || setresgid(kNobody, kNobody, kNobody) != 0 ||
        setresuid(kNobody, kNobody, kNobody) != 0) {
      _exit(kNotAsNobody);
    }
    _exit(body());  // _exit: the ports inherited from the parent stay as they are
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST_F(SerialOpen, EachReasonForARefusedOpeningHasItsOwnCode) {
  setenv("DORVANE_COM42", "/nonexistent/dorvane-tty", 1);
  EXPECT_EQ(open(41), kSerialBadPort);
  EXPECT_EQ(serial.lastSystemError(), ENOENT);
  EXPECT_EQ(serial.receiveCount(41), kSerialNotOpen);

  const dorvane::testing::ScratchDirectory scratch;
  const std::string file = (scratch.path() / "not-a-tty").string();
  const int fd = ::open(file.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  ::close(fd);
  for (const std::string& path : {file, std::string("/dev/null"), ::testing::TempDir()}) {
    setenv("DORVANE_COM42", path.c_str(), 1);
    EXPECT_EQ(open(41), kSerialNotSerial) << path;
    EXPECT_EQ(serial.receiveCount(41), kSerialNotOpen);
  }

  // The mode-0600 file stands for a device of a group the user is not in.
  setenv("DORVANE_COM42", file.c_str(), 1);
  const int denied = asNobody([] { return -systemSerialLibrary().reset(41, 4096, 4096); });
  ::unlink(file.c_str());
  unsetenv("DORVANE_COM42");
  if (denied == kNotAsNobody) GTEST_SKIP() << "cannot run a child as nobody";
  EXPECT_EQ(denied, -kSerialDenied);
}

TEST_F(SerialOpen, ADeviceOpensOnceAtATimeAndIsFreeAgainAfterTheClose) {
  // Ports 54 and 55 name the same pty slave, as two programs would name one serial device.
  PtyPeer peer(54);
  setenv("DORVANE_COM56", peer.slavePath().c_str(), 1);
  ASSERT_EQ(open(54), 0);
  EXPECT_EQ(open(55), kSerialInUse);
  EXPECT_EQ(serial.receiveCount(55), kSerialNotOpen);
  ASSERT_EQ(serial.putByte(54, 0x42), 1) << "the refused opening left the holder's line alone";
  EXPECT_EQ(peer.receive(1), Bytes{0x42});

  // A pty slave gets the lock alone: it would keep TIOCEXCL past the close while the virtual bench
  // holds its master, and one killed host would lock it for every later one. So a program that
  // takes no lock still opens it (a real serial device turns it away with EBUSY).
  ASSERT_EQ(chmod(peer.slavePath().c_str(), 0666), 0);
  const int whileHeld = asNobody([path = peer.slavePath()] {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return errno;
    ::close(fd);
    return 0;
  });
  ASSERT_EQ(serial.close(54), 0);
  EXPECT_EQ(open(55), 0);
  EXPECT_EQ(open(54), kSerialInUse);
  ASSERT_EQ(serial.close(55), 0);
  EXPECT_EQ(open(54), 0);
  unsetenv("DORVANE_COM56");
  if (whileHeld == kNotAsNobody) GTEST_SKIP() << "cannot run a child as nobody";
  EXPECT_EQ(whileHeld, 0);
}

TEST_F(SerialOpen, BadNumbersAndClosedPortsAreRefusedByEveryCall) {
  std::uint8_t byte = 0;
  for (int port : {-2, 256, 1000}) {
    EXPECT_EQ(serial.reset(port, 16, 16), kSerialBadPort);
    EXPECT_EQ(serial.baud(port, 38400), kSerialBadPort);
    EXPECT_EQ(serial.lineParameters(port, 2, 0, 8), kSerialBadPort);
  }
  for (int port : {-2, -1, 256}) {
    EXPECT_EQ(serial.receiveCount(port), kSerialBadPort);
    EXPECT_EQ(serial.readBlock(port, &byte, 1), kSerialBadPort);
    EXPECT_EQ(serial.putByte(port, 0), kSerialBadPort);
    EXPECT_EQ(serial.flow(port, kFlowNone), kSerialBadPort);
    EXPECT_EQ(serial.close(port), kSerialBadPort);
    EXPECT_EQ(serial.waitForInput(port, 1, 0), InputWait::hungUp);
  }
  // Port 42 is never opened.
  EXPECT_EQ(serial.reset(42, 0, 16), kSerialRange);
  EXPECT_EQ(serial.reset(42, 16, -1), kSerialRange);
  EXPECT_EQ(serial.receiveCount(42), kSerialNotOpen);
  EXPECT_EQ(serial.getByte(42), kSerialNotOpen);
  EXPECT_EQ(serial.readBlock(42, &byte, 1), kSerialNotOpen);
  EXPECT_EQ(serial.putByte(42, 0), kSerialNotOpen);
  EXPECT_EQ(serial.putBlock(42, &byte, 1), kSerialNotOpen);
  EXPECT_EQ(serial.clearReceiveQueue(42), kSerialNotOpen);
  EXPECT_EQ(serial.portStatus(42, 0xFF), kSerialNotOpen);
  EXPECT_EQ(serial.flow(42, kFlowNone), kSerialNotOpen);
  EXPECT_EQ(serial.baud(42, 38400), kSerialNotOpen);
  EXPECT_EQ(serial.timeouts(42, -1, 0, 0, 0, 0), kSerialNotOpen);
  EXPECT_EQ(serial.close(42), kSerialNotOpen);
  EXPECT_EQ(serial.waitForInput(42, 1, 1000), InputWait::hungUp);
}

TEST_F(SerialOpen, UnsupportedSettingsAreRefusedAndLeaveTheLineWorking) {
  PtyPeer peer(43);
  ASSERT_EQ(open(43), 0);
  EXPECT_EQ(serial.baud(43, 12345), kSerialBaudRate);
  EXPECT_EQ(serial.baud(-1, 0), kSerialBaudRate);
  EXPECT_EQ(serial.lineParameters(43, 0, 0, 8), kSerialByteSize);
  EXPECT_EQ(serial.lineParameters(43, 2, 0, 7), kSerialByteSize);
  EXPECT_EQ(serial.lineParameters(-1, 2, 2, 8), kSerialByteSize);
  EXPECT_EQ(serial.lineParameters(43, kBenchParity, kBenchStopBits, kBenchDataBits), 0);
  EXPECT_EQ(serial.flow(43, 'X'), kSerialRange);

  EXPECT_EQ(serial.baud(43, 115200), 0);
  EXPECT_EQ(serial.flow(43, kFlowHardware), 0);
  termios settings = peer.slaveSettings();
  EXPECT_EQ(cfgetospeed(&settings), speed_t{B115200});
  EXPECT_NE(settings.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(serial.flow(43, kFlowNone), 0);
  settings = peer.slaveSettings();
  EXPECT_EQ(settings.c_cflag & CRTSCTS, 0u);

  ASSERT_EQ(serial.putByte(43, 0x16), 1);
  EXPECT_EQ(peer.receive(1), Bytes{0x16});
}

TEST_F(SerialOpen, DefaultBaudAppliesToPortsOpenedLater) {
  PtyPeer peer(44);
  ASSERT_EQ(serial.baud(-1, 115200), 0);
  const int opened = open(44);
  serial.baud(-1, 38400);  // the default again, for the other tests
  ASSERT_EQ(opened, 0);
  termios settings = peer.slaveSettings();
  EXPECT_EQ(cfgetospeed(&settings), speed_t{B115200});
  ASSERT_EQ(open(44), 0);
  settings = peer.slaveSettings();
  EXPECT_EQ(cfgetospeed(&settings), speed_t{B38400});
}

TEST_F(SerialOpen, ReopeningAnOpenPortStartsWithEmptyQueues) {
  PtyPeer peer(45);
  ASSERT_EQ(open(45), 0);
  peer.send({1, 2, 3});
  ASSERT_EQ(waitFor(45, 3), 3);  // in the layer's queue
  peer.send({4, 5});             // still in the kernel's
  ASSERT_EQ(open(45), 0);
  EXPECT_EQ(serial.receiveCount(45), 0);
  peer.send({9});
  ASSERT_EQ(waitFor(45, 1), 1);
  EXPECT_EQ(serial.getByte(45), 9);
}

TEST_F(SerialReceive, PartialReadsKeepOrderAndStayInsideTheBuffer) {
  PtyPeer peer(46);
  ASSERT_EQ(open(46), 0);
  peer.send({10, 11, 12, 13, 14, 15, 16, 17, 18, 19});
  ASSERT_EQ(waitFor(46, 10), 10);
  EXPECT_EQ(serial.getByte(46), 10);
  EXPECT_EQ(readAll(46, 4), (Bytes{11, 12, 13, 14}));
  Bytes rest(100, 0xA5);
  EXPECT_EQ(serial.readBlock(46, rest.data(), 100), 5);
  EXPECT_EQ(Bytes(rest.begin(), rest.begin() + 6), (Bytes{15, 16, 17, 18, 19, 0xA5}));

  EXPECT_EQ(serial.receiveCount(46), 0);
  EXPECT_EQ(serial.getByte(46), kSerialNoData);
  errno = EBADF;  // a stale error must not survive an empty read
  EXPECT_EQ(serial.readBlock(46, rest.data(), 100), 0);
  EXPECT_EQ(serial.lastSystemError(), 0);
  EXPECT_EQ(serial.readBlock(46, rest.data(), -1), kSerialRange);
}

TEST_F(SerialReceive, ClearReceiveQueueDropsQueuedAndKernelBytes) {
  PtyPeer peer(47);
  ASSERT_EQ(open(47), 0);
  peer.send({1, 2, 3, 4, 5});
  ASSERT_EQ(waitFor(47, 5), 5);
  peer.send({6, 7, 8});
  EXPECT_EQ(serial.clearReceiveQueue(47), 0);
  EXPECT_EQ(serial.receiveCount(47), 0);
  peer.send({0x5A});
  ASSERT_EQ(waitFor(47, 1), 1);
  EXPECT_EQ(serial.getByte(47), 0x5A);
}

TEST_F(SerialReceive, LargestPacketIsAllCountedAndReadWhateverQueueSizeWasAsked) {
  PtyPeer peer(48);
  ASSERT_EQ(open(48, 16), 0);
  Bytes block(65537);
  for (std::size_t i = 0; i < block.size(); ++i) {
    block[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  }
  std::thread writer([&] { peer.send(block); });
  const int queued = waitFor(48, 65537);
  writer.join();
  ASSERT_EQ(queued, 65537);
  EXPECT_EQ(readAll(48, 65537), block);
}

TEST_F(SerialWait, ReadyWhenBytesArriveFromAnotherThread) {
  PtyPeer peer(49);
  ASSERT_EQ(open(49), 0);
  const pid_t waiter = gettid();
  std::thread writer([&] {
    EXPECT_TRUE(waitUntilAsleep(waiter)) << "the wait never blocked";
    peer.send({0x42});
  });
  // A time-out here would mean the wait missed the byte.
  InputWait result = InputWait::ready;
  while (serial.receiveCount(49) < 1 && result == InputWait::ready) {
    result = serial.waitForInput(49, 1, 30000);
  }
  writer.join();
  EXPECT_EQ(result, InputWait::ready);
  EXPECT_EQ(serial.getByte(49), 0x42);
}

TEST_F(SerialWait, WaitsForTheWholeCountNotTheFirstBytes) {
  PtyPeer peer(50);
  ASSERT_EQ(open(50), 0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(serial.waitForInput(50, 1, 50), InputWait::timedOut);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));

  peer.send({1, 2, 3});
  ASSERT_EQ(waitFor(50, 3), 3);
  EXPECT_EQ(serial.waitForInput(50, 5, 100), InputWait::timedOut);
  std::thread writer([&] { peer.send({4, 5}); });
  EXPECT_EQ(waitFor(50, 5), 5);
  writer.join();
}

TEST_F(SerialWait, CloseFromAnotherThreadEndsTheWait) {
  PtyPeer peer(51);
  ASSERT_EQ(open(51), 0);
  InputWait result = InputWait::ready;
  std::atomic<pid_t> waiterId{0};
  std::thread waiter([&] {
    waiterId = gettid();
    result = serial.waitForInput(51, 1, 60000);
  });
  while (waiterId == 0) std::this_thread::yield();
  EXPECT_TRUE(waitUntilAsleep(waiterId)) << "the wait never blocked";
  EXPECT_EQ(serial.close(51), 0);
  waiter.join();
  EXPECT_EQ(result, InputWait::hungUp);
}

TEST_F(SerialHangUp, ClosedPeerEndsWaitsKeepsQueuedBytesAndFailsWrites) {
  PtyPeer peer(52);
  ASSERT_EQ(open(52), 0);
  peer.send({0x61, 0x62});
  ASSERT_EQ(waitFor(52, 2), 2);
  peer.closeMaster();

  InputWait result = InputWait::ready;
  for (int i = 0; i < 100 && result == InputWait::ready; ++i) {
    result = serial.waitForInput(52, 3, 30000);
  }
  EXPECT_EQ(result, InputWait::hungUp);
  EXPECT_EQ(serial.waitForInput(52, 3, 30000), InputWait::hungUp) << "a dead line stays dead";
  EXPECT_EQ(serial.getByte(52), 0x61);
  EXPECT_EQ(serial.getByte(52), 0x62);
  EXPECT_EQ(serial.getByte(52), kSerialNoData);
  EXPECT_NE(serial.putByte(52, 0x16), 1);
  const Bytes block(10, 0x16);
  EXPECT_NE(serial.putBlock(52, block.data(), 10), 10);
}

TEST_F(SerialHangUp, StalledPeerEndsAWriteAtItsTimeOut) {
  PtyPeer peer(53);
  ASSERT_EQ(open(53), 0);
  ASSERT_EQ(serial.timeouts(53, kTimeoutImmediate, 0, 0, 0, 100), 0);
  const Bytes block(200000, 0x33);  // far more than a pty holds while nobody reads
  const int written = serial.putBlock(53, block.data(), static_cast<int>(block.size()));
  EXPECT_GT(written, 0);
  EXPECT_LT(written, static_cast<int>(block.size()));
  EXPECT_EQ(serial.lastSystemError(), ETIMEDOUT);
}

}  // namespace
}  // namespace dorvane::platform
