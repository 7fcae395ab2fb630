// spectrometer_execute's bench commands against the virtual bench: the command table, its
// matching and argument forms, and the port around each call.
#include <string>

#include "bench/accessories.h"
#include "platform/serial_port.h"
#include "tests/driver/driver_fixture.h"

namespace dorvane::testing {
namespace {

using CommandStrings = DriverOnBench;
namespace device = bench::device;

std::uint64_t requestsSeen(sim::Instrument& instrument) { return instrument.link().stats().requestsReceived; }

TEST_F(CommandStrings, QueriesTellWhatIsFittedAndMovesOfMissingAccessoriesFail) {
  startBench({.deviceMask = (1u << device::iris) | (1u << device::beamMirror)});
  loadSettings();
  EXPECT_EQ(driver->execute("shuttle"), 0);
  EXPECT_EQ(driver->execute("IRIS"), 1);
  EXPECT_EQ(driver->execute("Mirror"), 1);
  EXPECT_EQ(driver->execute("iris abc"), 1);  // no number: still the query
  EXPECT_EQ(driver->execute("shuttle 1"), -1);
  EXPECT_EQ(driver->execute("movemotor 1"), -1);
  instrument->link().faults().add(sim::Fault::abortReply());
  EXPECT_EQ(driver->execute("mirror"), -1);  // the device request failed
}

// The system's clock with the shuttle's and the mirror's ten-second settling sleep cut short.
class ShortSettleClock : public platform::Clock {
 public:
  std::uint32_t tickCount() override { return system.tickCount(); }
  std::int64_t counterValue() override { return system.counterValue(); }
  std::int64_t counterFrequency() override { return system.counterFrequency(); }
  void sleep(std::uint32_t ms) override { system.sleep(ms == bench::kMirrorSettleMs ? 10 : ms); }
  platform::WallTime wallTime() override { return system.wallTime(); }
  platform::CalendarTime localCalendar(std::int64_t seconds) override { return system.localCalendar(seconds); }
  platform::Clock& system = platform::systemClock();
};

TEST_F(CommandStrings, MovesTakeTheirArgumentsWhateverFollowsTheWord) {
  ShortSettleClock clock;
  driver = std::make_unique<driver::Driver>(driver::DriverServices{
      clock, debug, platform::systemSerialLibrary(), [this] { return (scratch.path() / "libdorvane.so").string(); }});
  startBench();
  loadSettings();
  EXPECT_EQ(driver->execute("IRISES   40 junk"), 1);
  EXPECT_EQ(instrument->setupField(bench::field::iris), 4000u);
  EXPECT_EQ(driver->execute("iris 25 3"), 1);  // a third number is ignored
  EXPECT_EQ(instrument->setupField(bench::field::iris), 2500u);
  EXPECT_EQ(driver->execute("shuttlexyz 0"), 1);
  EXPECT_EQ(instrument->devicePosition(device::shuttle), 2);
  EXPECT_EQ(driver->execute("shuttle 1 2"), 1);
  EXPECT_EQ(instrument->devicePosition(device::shuttle), 1);
  EXPECT_EQ(driver->execute("mirror 0"), 1);
  EXPECT_EQ(instrument->devicePosition(device::beamMirror), 2);

  EXPECT_EQ(driver->execute("movemotor 0 100"), 100);
  EXPECT_EQ(driver->execute("MoveMotor 1 -50"), -50);
  EXPECT_EQ(instrument->devicePosition(device::firstMotor), 100);
  EXPECT_EQ(instrument->devicePosition(device::secondMotor), -50);
  // Any other form reads the position: no steps, no motor, or a word where the number should be.
  EXPECT_EQ(driver->execute("movemotor 1 0"), -50);
  EXPECT_EQ(driver->execute("movemotor"), 100);
  EXPECT_EQ(driver->execute("movemotor x 7"), 100);
  EXPECT_TRUE(logHasInOrder({"moving motor 1 by -50", "dorvane.dll moveMotor returning -50",
                             "finding the motor positions", "dorvane.dll moveMotor returning -50"}));

  EXPECT_EQ(driver->execute("RESET"), 1);
  EXPECT_EQ(instrument->devicePosition(device::firstMotor), 0);
  driver.reset();  // before the clock it uses
}

TEST_F(CommandStrings, IdentityAndUnrecognisedCommandsSendNoRequest) {
  startBench({.identity = {9, 61}});
  loadSettings();
  ASSERT_EQ(driver->open(0), 0);
  const std::uint64_t before = requestsSeen(*instrument);
  EXPECT_EQ(driver->execute("WHOareyou"), 0x9003D);
  EXPECT_TRUE(logHasInOrder({"dorvane.dll.spectrometer_execute WHOareyou", "instrument= 0x9003D"}));

  const std::string longWord = "shuttle" + std::string(57, 'x');  // 64 characters: one past its buffer
  for (const std::string& command : {std::string{}, std::string{" shuttle"}, std::string{"reset now"},
                                     std::string{"whoAreYou?"}, longWord, "movemotor" + longWord + " 1 2"}) {
    EXPECT_EQ(driver->execute(command.c_str()), 0) << command;
  }
  EXPECT_EQ(requestsSeen(*instrument), before);
  // Unrecognised, yet the port was held for the call.
  EXPECT_TRUE(logHasInOrder({"dorvane.dll.spectrometer_execute reset now", "ComPort opening port 49; baud 38400",
                             "ComPort valid = 1", "ComPort closing port 49"}));
  EXPECT_EQ(driver->execute(longWord.substr(0, 63).c_str()), 1);  // a word that just fits is read
}

TEST_F(CommandStrings, APortNotSetOrHeldByAnAcquisitionIsNotUsed) {
  startBench();
  EXPECT_EQ(driver->execute("whoAreYou"), platform::kSerialBadPort);  // no settings: the open's own code
  loadSettings();
  ASSERT_EQ(driver->open(0), 0);
  driver->setFiles(0);
  ASSERT_EQ(driver->startCoadd(), 0);
  EXPECT_EQ(driver->execute("whoAreYou"), kErrorPortBusy);
  EXPECT_EQ(driver->stop(), 0);
  EXPECT_TRUE(logHasInOrder({"dorvane.dll.spectrometer_execute whoAreYou",
                             "dorvane.dll spectrometer_execute: refused, an acquisition holds the serial port"}));
  EXPECT_EQ(countLogLines("ComPort opening port 49; baud 38400"), 1u);  // the open's only
}

}  // namespace
}  // namespace dorvane::testing
