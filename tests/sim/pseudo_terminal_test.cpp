// The pseudo-terminal under the virtual bench: raw line, a driver that reopens it, the bench vanishing.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "sim/bench_link.h"
#include "sim/pseudo_terminal.h"
#include "tests/sim/driver_end.h"
#include "tests/support/test_support.h"

namespace dorvane::sim::testing {
namespace {

std::optional<Bytes> echo(const Bytes& request) { return request; }

TEST(PseudoTerminal, EveryByteValuePassesUntouchedWithoutDriverSetup) {
  PseudoTerminal pty;
  BenchLink bench(pty.masterFd(), echo);
  bench.start();
  // Cooked mode would eat SYNC as "literal next", XON/XOFF, interrupt and echo them back.
  DriverEnd driver(pty.slavePath(), /*raw=*/false);
  Bytes all(512);
  for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<std::uint8_t>(i);
  ASSERT_TRUE(driver.sendMessage(all));
  EXPECT_EQ(driver.receiveMessage(), all);
}

TEST(PseudoTerminal, DriverReopeningThePortKeepsTheBenchServing) {
  PseudoTerminal pty;
  BenchLink bench(pty.masterFd(), echo);
  bench.start();
  for (std::uint8_t i = 0; i < 3; ++i) {
    DriverEnd driver(pty.slavePath());
    ASSERT_TRUE(driver.sendMessage({0x80, i}));
    EXPECT_EQ(driver.receiveMessage(), (Bytes{0x80, i}));
  }
  EXPECT_EQ(bench.stats().lineLost, 0u);
}

TEST(PseudoTerminal, ClosingItHangsUpTheDriverAndRemovesTheLink) {
  const dorvane::testing::ScratchDirectory scratch;
  const auto link = scratch.path() / "bench";
  PseudoTerminal pty;
  pty.linkAs(link.string());
  EXPECT_EQ(std::filesystem::read_symlink(link), pty.slavePath());
  const int port = ::open(link.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(port, 0);
  pty.close();
  pollfd p{port, POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 60000), 1);
  EXPECT_TRUE(p.revents & POLLHUP);
  ::close(port);
  EXPECT_FALSE(std::filesystem::is_symlink(link));
}

}  // namespace
}  // namespace dorvane::sim::testing
