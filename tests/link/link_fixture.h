// The link on a scripted peer and a virtual clock, with its log written to a scratch directory.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/com_port.h"
#include "link/wire.h"
#include "runtime/log_file.h"
#include "tests/support/packets.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_support.h"
#include "tests/support/virtual_clock.h"

namespace dorvane::testing {

class LinkTest : public ::testing::Test {
 protected:
  static constexpr std::int32_t kPort = 3;

  LinkTest() { log.enable(); }

  // The log's lines without their time stamps.
  std::vector<std::string> logLines() const;
  // How many lines of the log are exactly `line`.
  int logCount(const std::string& line) const;

  ScratchDirectory scratch;
  VirtualClock clock;
  ScriptedPeer peer{clock};
  runtime::LogFile log{clock, [this] { return (scratch.path() / "libdorvane.so").string(); }};
  link::LinkServices link{peer, clock, log};
  std::int32_t benchError = 0;
  std::uint16_t srqCount = 0;
};

}  // namespace dorvane::testing
