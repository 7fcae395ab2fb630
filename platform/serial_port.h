// The serial layer that stands in for the vendor's serial library: ports known by their 0-based
// number, the calls the link makes with the results it relies on, and a wait for input that blocks.
#pragma once

#include <cstdint>
#include <string>

namespace dorvane::platform {

// Negative results of the serial calls. They keep the numbering of the Windows communications
// errors that the vendor library passes on, so logs read the same on both platforms.
inline constexpr int kSerialBadPort = -1;       // no such port, or its number is out of range
inline constexpr int kSerialNotOpen = -3;       // the port is not open
inline constexpr int kSerialNoMemory = -4;      // the queues could not be allocated
inline constexpr int kSerialHardware = -10;     // the device refused to open or to be configured
inline constexpr int kSerialByteSize = -11;     // a line format this layer does not offer
inline constexpr int kSerialBaudRate = -12;     // a baud rate the device does not offer
// Why an opening was refused, where the system tells: codes of this layer's own, in the gap of
// the driver's error-word table, so a host can say what to do about it.
inline constexpr int kSerialInUse = -25;        // another program (or another opening) holds the device
inline constexpr int kSerialDenied = -26;       // the user may not open the device
inline constexpr int kSerialNotSerial = -27;    // the path names a file, a directory or another device
inline constexpr int kSerialNoData = -100;      // get byte with nothing waiting
inline constexpr int kSerialRange = -101;       // an argument out of range
inline constexpr int kSerialSystemError = -103; // a system call failed; lastSystemError says why

// The one line format the bench speaks, as the driver selects it: codes 2, 0, 8 of the line
// parameters call mean 8 data bits, no parity, one stop bit.
inline constexpr int kBenchParity = 2;
inline constexpr int kBenchStopBits = 0;
inline constexpr int kBenchDataBits = 8;
// Flow control modes: 'H' hardware handshake (RTS/CTS), 'N' none.
inline constexpr int kFlowHardware = 'H';
inline constexpr int kFlowNone = 'N';
// A time-out value of -1 is the Windows MAXDWORD: "return at once with what is there".
inline constexpr std::int32_t kTimeoutImmediate = -1;

enum class InputWait {
  ready,     // at least the bytes asked for are waiting (or the wait ended early; check again)
  timedOut,  // the time passed first
  hungUp,    // the other end is gone: no byte will ever come, so waiting again is pointless
};

class SerialLibrary {
 public:
  virtual ~SerialLibrary() = default;

  // Reset. With port -1 it sets the DTR and RTS levels (1 raised) for the ports opened later;
  // with a port number it opens that port (closing it first when it is open) with the given
  // receive and transmit queue sizes, the line format and the baud rate set before.
  virtual int reset(int port, int first, int second) = 0;
  // Line parameters (parity, stop bits, data bits) for the ports opened later (port -1) or for
  // an open port. Only the bench's format is offered: anything else is kSerialByteSize.
  virtual int lineParameters(int port, int parity, int stopBits, int dataBits) = 0;
  // Baud rate for the ports opened later (port -1) or for an open port.
  virtual int baud(int port, int rate) = 0;
  // Flow control of an open port: kFlowHardware or kFlowNone.
  virtual int flow(int port, int mode) = 0;
  // The five time-outs of an open port, in milliseconds, as Windows' COMMTIMEOUTS: read interval,
  // read multiplier and constant, write multiplier and constant. Reads always return at once with
  // what is waiting (waitForInput is the way to wait); a write gives up after
  // writeMultiplier x count + writeConstant ms.
  virtual int timeouts(int port, std::int32_t readInterval, std::int32_t readMultiplier,
                       std::int32_t readConstant, std::int32_t writeMultiplier,
                       std::int32_t writeConstant) = 0;

  // Number of received bytes waiting in the receive queue, or a negative code.
  virtual int receiveCount(int port) = 0;
  // The next received byte (0 to 255), kSerialNoData when none waits, or a negative code.
  virtual int getByte(int port) = 0;
  // Reads up to `count` waiting bytes without blocking; returns how many were read (possibly
  // fewer), or kSerialBadPort / kSerialNotOpen.
  virtual int readBlock(int port, std::uint8_t* buffer, int count) = 0;
  // Sends one byte; exactly 1 on success, anything else is a failure status.
  virtual int putByte(int port, std::uint8_t byte) = 0;
  // Sends a block; the number of bytes accepted, the count itself on success.
  virtual int putBlock(int port, const std::uint8_t* buffer, int count) = 0;
  // Throws away every received byte not yet read.
  virtual int clearReceiveQueue(int port) = 0;
  // The modem lines selected by `mask` (0 where the device has none) when the port is open;
  // negative when it is not.
  virtual int portStatus(int port, int mask) = 0;
  virtual int close(int port) = 0;

  // Blocks until at least `count` bytes wait, `timeoutMs` pass, or the line hangs up. It may
  // return early: callers check the count and their own clock again.
  virtual InputWait waitForInput(int port, int count, std::uint32_t timeoutMs) = 0;

  // The calling thread's last system error, as the log lines print it (GetLastError on Windows,
  // errno on POSIX systems).
  virtual int lastSystemError() = 0;
};

// The operating system's serial ports: termios on POSIX systems, where port n is the device named
// by DORVANE_COM<n+1> or else /dev/ttyS<n>; the Win32 communications API on \\.\COM<n+1>. Both
// open the device exclusively: while a port is open, another opening of its device through this
// layer, in this process or any other, fails at once with kSerialInUse.
SerialLibrary& systemSerialLibrary();

// The device that port `port` opens, as systemSerialLibrary names it at this moment.
std::string serialDevicePath(int port);

}  // namespace dorvane::platform
