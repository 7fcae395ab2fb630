// Every export ends: a script of export calls against a bench played by the input, each call held
// to its bound in virtual time (export_bounds.h) and each that opens the port leaving it closed.
//
// Input layout:
//   byte 0       how many calls the script makes (1 to 8)
//   then a byte a call: the export (low nibble) and its argument (high nibble)
//   the rest     the bench, as fake_bench.h reads it
// A finding prints the export, the virtual time it took, its bound and the packets it accepted;
// every export that talks to the bench, and spectrometer_close, must leave the port closed.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "dorvane.h"
#include "driver/driver.h"
#include "fuzz/export_bounds.h"
#include "fuzz/fake_bench.h"
#include "link/wire.h"
#include "tests/support/test_support.h"

using namespace dorvane;
namespace bounds = fuzz::bounds;

namespace {

constexpr std::int32_t kPort = 3;
constexpr std::size_t kMostCalls = 8;

// spectrometer_execute's commands, each with its bound.
struct Command {
  const char* text;
  std::uint64_t boundMs;
};
constexpr std::array<Command, 12> kCommands = {{{"shuttle", bounds::kFittedQueryMs},
                                                {"shuttle 1", bounds::kPositionedMoveMs},
                                                {"mirror", bounds::kFittedQueryMs},
                                                {"mirror 0", bounds::kPositionedMoveMs},
                                                {"iris", bounds::kFittedQueryMs},
                                                {"iris 25", bounds::kIrisMoveMs},
                                                {"reset", bounds::kResetMs},
                                                {"movemotor 0", bounds::kMotorReadMs},
                                                {"movemotor 1 200", bounds::kMotorMoveMs},
                                                {"whoAreYou", 0},
                                                {"nonsense", 0},
                                                {"", 0}}};

// Each request starts with its STX, sent again only after the bench's NAK or RETRY.
bool isRequestStart(const testing::Bytes& sent) { return sent.size() == link::kFramePacketSize && sent[0] == link::kStx; }

class Script {
 public:
  explicit Script(std::span<const std::uint8_t> bench) : fake_(bench) {
    driver_.state().port = kPort;
    driver_.state().files = 1;
    fake_.onEachSend = [this](const testing::Bytes& sent) { onSend(sent); };
  }
  ~Script() { driver_.close(); }

  void call(std::uint8_t step) {
    const unsigned argument = step >> 4;
    switch (step & 0x0F) {
      case 0: check("spectrometer_open", bounds::kOpenMs, [&] { driver_.open(0); }); break;
      case 1: check("spectrometer_initialize", bounds::kInitializeMs, [&] { driver_.initialize(); }); break;
      case 2: check("getSetup", bounds::kSetupTextMs, [&] { driver_.getSetup(text_.data(), 0); }); break;
      case 3: check("getRemoteDataList", bounds::kDataListMs, [&] { driver_.getRemoteDataList(text_.data()); }); break;
      case 4: {
        std::int32_t count = 0;
        check("getRemoteData", bounds::kRemoteDataMs,
              [&] { driver_.getRemoteData(static_cast<std::int32_t>(argument), values_.data(), &count); });
        break;
      }
      case 5: case 6: {
        const Command& command = kCommands[argument % kCommands.size()];
        check(("spectrometer_execute \"" + std::string(command.text) + "\"").c_str(), command.boundMs,
              [&] { driver_.execute(command.text); });
        break;
      }
      case 7: case 8: acquire(argument + 1); break;
      case 9: check("spectrometer_close", 0, [&] { driver_.close(); }); break;
      default: break;
    }
  }

 private:
  // Runs one export, then holds it to its bound and finds the port closed.
  template <typename Export>
  void check(const char* name, std::uint64_t boundMs, Export run) {
    const std::uint32_t start = fake_.clock.ticks;
    const std::size_t sentBefore = fake_.peer.sent.size();
    run();
    verify(name, boundMs, fake_.clock.ticks - start, sentBefore);
  }

  // spectrometer_startCoadd for one file, killed from the bench's side as the thread starts its
  // request number `requests` (a poll that fails goes on polling, so a request, not an answer,
  // counts), then spectrometer_stop once the thread has ended.
  void acquire(unsigned requests) {
    driver_.setScans(static_cast<std::int32_t>(requests % 4) + 1);
    killAtRequest_ = requests;
    requestsSeen_ = 0;
    const std::uint32_t start = fake_.clock.ticks;
    const std::size_t sentBefore = fake_.peer.sent.size();
    if (driver_.startCoadd() == 0) {
      // The thread ends by the kill, the file or a failure; meanwhile this thread keeps off the
      // clock and the line, which are the thread's.
      driver_.state().scanThread->thread().threadDoneEvent.wait(platform::kWaitForever);
    }
    driver_.stop();  // joins the thread
    killAtRequest_ = 0;
    verify("spectrometer_startCoadd to spectrometer_stop", bounds::acquisitionMs(requests), fake_.clock.ticks - start,
           sentBefore);
  }

  void onSend(const testing::Bytes& sent) {
    if (killAtRequest_ == 0 || std::this_thread::get_id() == scriptThread_ || !isRequestStart(sent)) return;
    if (++requestsSeen_ == killAtRequest_) driver_.state().scanThread->thread().killEvent.set();
  }

  void verify(const char* name, std::uint64_t boundMs, std::uint32_t tookMs, std::size_t sentBefore) {
    const auto& sent = fake_.peer.sent;
    const auto accepted = static_cast<std::uint64_t>(std::count_if(
        sent.begin() + static_cast<long>(sentBefore), sent.end(),
        [](const testing::ScriptedPeer::Sent& s) { return s.bytes == testing::Bytes{link::kAck}; }));
    const std::uint64_t allowedMs = boundMs + accepted * bounds::kPerPacketMs;
    if (tookMs > allowedMs) {
      std::fprintf(stderr, "export_liveness: %s took %u ms of virtual time, over its bound of %llu ms (%llu packets accepted)\n",
                   name, tookMs, static_cast<unsigned long long>(allowedMs), static_cast<unsigned long long>(accepted));
      std::abort();
    }
    if (portOpen()) {
      std::fprintf(stderr, "export_liveness: %s left the port open\n", name);
      std::abort();
    }
  }

  // The serial layer opens a port with its reset call and closes it with close.
  bool portOpen() const {
    const auto& calls = fake_.peer.calls;
    const std::string opening = "reset(" + std::to_string(kPort) + ",";
    const std::string closing = "close(" + std::to_string(kPort) + ")";
    const auto last = std::find_if(calls.rbegin(), calls.rend(), [&](const std::string& c) {
      return c.starts_with(opening) || c == closing;
    });
    return last != calls.rend() && last->starts_with(opening);
  }

  fuzz::FakeBench fake_;
  testing::CapturedDebugOutput debugOutput_;
  driver::Driver driver_{{fake_.clock, debugOutput_, fake_.peer, [] { return std::string(); }}};
  const std::thread::id scriptThread_ = std::this_thread::get_id();
  std::atomic<unsigned> killAtRequest_{0};
  unsigned requestsSeen_ = 0;
  // getRemoteDataList's text is the longer; getRemoteData's values may be as many as a block can hold.
  static inline std::array<char, DORVANE_REMOTE_DATA_LIST_SIZE> text_{};
  static inline std::vector<double> values_ = std::vector<double>(DORVANE_MOST_BLOCK_POINTS);
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::span<const std::uint8_t> input(data, size);
  const std::size_t calls = std::min<std::size_t>(fuzz::takeNumber(input, 1) % kMostCalls + 1, input.size());
  const std::span<const std::uint8_t> steps = input.first(calls);
  Script script(input.subspan(calls));
  for (const std::uint8_t step : steps) script.call(step);
  return 0;
}
