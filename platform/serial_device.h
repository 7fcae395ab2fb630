// The operating system's part of the serial layer: what an open port holds and the calls that reach
// its device, defined once per system (posix/serial_port.cpp, win32/serial_port.cpp). The port
// table, the settings for later openings and the argument checks stand in front of these calls, in
// serial_port_common.cpp, so they only ever see a valid port number and valid arguments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/serial_port.h"
#include "platform/serial_queue.h"

namespace dorvane::platform::serial_device {

// An open port (a descriptor on POSIX systems, a handle on Windows). The table and every call under
// way share it, so a close from another thread never pulls it from under a wait or a write.
struct Port;

// What reset and baud set with port -1 for the ports opened later.
struct Defaults {
  bool dtr = true;  // the DTR and RTS levels: true is raised
  bool rts = true;
  int rate = 38400;  // baud
};

// Whether this system can run a line at this baud rate; baud refuses any other.
bool offersRate(int rate);

// Opens port `port`, which the table has closed, in the bench's line format with the given queue
// sizes (both above 0) and the defaults, into `opened`: 0, or a negative serial code. The caller
// holds the table's lock.
int open(int port, std::size_t receiveQueue, std::size_t transmitQueue, const Defaults& defaults,
         std::shared_ptr<Port>& opened);
// Marks the port closed and ends every wait and write still under way on it; the last holder of the
// state releases the device.
void shutDown(Port& state);

// The calls of SerialLibrary on an open port, with the results that it describes.
int setBaud(Port& state, int rate);           // a rate that offersRate accepts
int setFlow(Port& state, int mode);           // kFlowHardware or kFlowNone
int setWriteTimeouts(Port& state, std::int32_t writeMultiplier, std::int32_t writeConstant);
int receiveCount(Port& state);
int getByte(Port& state);
int readBlock(Port& state, std::uint8_t* buffer, int count);  // a buffer of count (0 or more) bytes
int putBlock(Port& state, const std::uint8_t* buffer, int count);
int clearReceiveQueue(Port& state);
int portStatus(Port& state, int mask);
InputWait waitForInput(Port& state, int count, std::uint32_t timeoutMs);

// The calling thread's last system error (errno, GetLastError), and its reset to none.
int lastError();
void clearLastError();

// What getByte answers from a port's receive queue: its oldest byte, or kSerialNoData.
inline int takeByte(ByteRing& received) {
  std::uint8_t byte = 0;
  if (received.take(&byte, 1) == 0) return kSerialNoData;
  return byte;
}

}  // namespace dorvane::platform::serial_device
