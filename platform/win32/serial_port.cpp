// The serial layer on the Win32 communications API: port n is \\.\COM<n+1>, opened for plain
// (non-overlapped) I/O, with a receive queue of its own that waits fill in short timed reads.
#include <windows.h>

#include <algorithm>
#include <climits>
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

constexpr DWORD kDefaultWriteMsPerByte = 1;
constexpr DWORD kDefaultWriteConstantMs = 2000;
// A wait reads in slices no longer than this, so a close from another thread gets the port's
// lock soon. Wine's WaitCommEvent returns at once without data, so a timed read is the wait.
constexpr DWORD kWaitSliceMs = 100;

// The rates a POSIX build offers too, so a setting works alike on both.
constexpr int kBaudRates[] = {50,      75,      110,     134,     150,     200,     300,
                              600,     1200,    1800,    2400,    4800,    9600,    19200,
                              38400,   57600,   115200,  230400,  460800,  500000,  576000,
                              921600,  1000000, 1152000, 1500000, 2000000, 2500000, 3000000,
                              3500000, 4000000};

// A device without modem lines refuses GetCommModemStatus with one of these.
bool noModemLines(DWORD error) {
  return error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED ||
         error == ERROR_INVALID_PARAMETER || error == ERROR_CALL_NOT_IMPLEMENTED;
}

}  // namespace

namespace serial_device {

// Every call on the handle holds the port's lock, so a close from another thread never pulls the
// handle from under a read.
struct Port {
  Port(HANDLE handle, std::size_t capacity, bool rtsRaised)
      : handle(handle), received(capacity), rtsRaised(rtsRaised) {}
  ~Port() { closeHandle(); }
  Port(const Port&) = delete;
  Port& operator=(const Port&) = delete;

  void closeHandle() {
    if (handle == INVALID_HANDLE_VALUE) return;
    SystemErrorKeeper keep;
    CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
  }

  Mutex mutex;  // guards everything below
  HANDLE handle;
  ByteRing received;
  const bool rtsRaised;
  bool hungUp = false;
  // What the device holds now, so SetCommTimeouts runs only when a field changes.
  COMMTIMEOUTS current{};
  bool currentKnown = false;
  DWORD writeMultiplier = kDefaultWriteMsPerByte;
  DWORD writeConstant = kDefaultWriteConstantMs;
};

namespace {

// Sets {0, 0, readConstant} for reads and the port's write time-outs, unless the device has
// them already. The caller holds the port's lock.
bool applyTimeouts(Port& state, DWORD readConstant) {
  COMMTIMEOUTS wanted{};
  wanted.ReadIntervalTimeout = 0;
  wanted.ReadTotalTimeoutMultiplier = 0;
  // Zero in every read field would make a read wait for ever.
  wanted.ReadTotalTimeoutConstant = std::max<DWORD>(readConstant, 1);
  wanted.WriteTotalTimeoutMultiplier = state.writeMultiplier;
  wanted.WriteTotalTimeoutConstant = state.writeConstant;
  const COMMTIMEOUTS& now = state.current;
  if (state.currentKnown && now.ReadIntervalTimeout == wanted.ReadIntervalTimeout &&
      now.ReadTotalTimeoutMultiplier == wanted.ReadTotalTimeoutMultiplier &&
      now.ReadTotalTimeoutConstant == wanted.ReadTotalTimeoutConstant &&
      now.WriteTotalTimeoutMultiplier == wanted.WriteTotalTimeoutMultiplier &&
      now.WriteTotalTimeoutConstant == wanted.WriteTotalTimeoutConstant) {
    return true;
  }
  if (!SetCommTimeouts(state.handle, &wanted)) {
    state.currentKnown = false;
    return false;
  }
  state.current = wanted;
  state.currentKnown = true;
  return true;
}

// Moves the bytes the driver reports waiting into the queue; a read of no more than is waiting
// completes at once whatever the time-outs. False when the device no longer answers.
bool pullWaiting(Port& state) {
  COMSTAT status{};
  DWORD errors = 0;
  if (!ClearCommError(state.handle, &errors, &status)) return false;
  DWORD waiting = status.cbInQue;
  // The free space may wrap around the end of the queue: at most two reads.
  while (waiting > 0 && !state.received.full()) {
    const auto ask =
        static_cast<DWORD>(std::min<std::size_t>(waiting, state.received.freeContiguous()));
    DWORD got = 0;
    if (!ReadFile(state.handle, state.received.freeStart(), ask, &got, nullptr)) return false;
    state.received.commit(got);
    if (got < ask) break;
    waiting -= got;
  }
  return true;
}

// Reads the device's settings, lets `change` alter them and sets them again: kSerialNotOpen when
// the port was closed meanwhile, kSerialSystemError when the settings cannot be read, `refusal`
// when the device turns the new ones down.
template <class Change>
int changeCommState(Port& state, int refusal, Change change) {
  ScopedLock lock(state.mutex);
  if (state.handle == INVALID_HANDLE_VALUE) return kSerialNotOpen;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(state.handle, &dcb)) return kSerialSystemError;
  change(dcb);
  if (!SetCommState(state.handle, &dcb)) return refusal;
  return 0;
}

}  // namespace

bool offersRate(int rate) {
  return std::find(std::begin(kBaudRates), std::end(kBaudRates), rate) != std::end(kBaudRates);
}

int open(int port, std::size_t receiveQueue, std::size_t transmitQueue, const Defaults& defaults,
         std::shared_ptr<Port>& opened) {
  const std::string path = serialDevicePath(port);
  const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    switch (GetLastError()) {
      case ERROR_FILE_NOT_FOUND:
        return kSerialBadPort;
      // A COM port opens for one handle at a time: either error means another program has it.
      case ERROR_ACCESS_DENIED:
      case ERROR_SHARING_VIOLATION:
        return kSerialInUse;
      default:
        return kSerialHardware;
    }
  }
  const auto fail = [handle](int result) {
    SystemErrorKeeper keep;
    CloseHandle(handle);
    return result;
  };

  if (!SetupComm(handle, static_cast<DWORD>(receiveQueue), static_cast<DWORD>(transmitQueue))) {
    return fail(kSerialHardware);
  }
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(handle, &dcb)) return fail(kSerialHardware);
  // Binary 8N1, no software flow control: SYNC (0x16), 0x03, XON and XOFF are data here.
  dcb.BaudRate = static_cast<DWORD>(defaults.rate);
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = TRUE;
  dcb.fParity = FALSE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = defaults.dtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fRtsControl = defaults.rts ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
  // A framing or overrun error must not stall every later read until ClearCommError.
  dcb.fAbortOnError = FALSE;
  if (!SetCommState(handle, &dcb)) return fail(kSerialHardware);
  // A fresh opening starts with empty queues.
  PurgeComm(handle, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);

  std::shared_ptr<Port> state;
  try {
    state = std::make_shared<Port>(handle, std::max(receiveQueue, kMinReceiveCapacity),
                                   defaults.rts);
  } catch (const std::bad_alloc&) {
    return fail(kSerialNoMemory);
  }
  if (!applyTimeouts(*state, kWaitSliceMs)) {
    state->handle = INVALID_HANDLE_VALUE;  // fail() closes it
    return fail(kSerialHardware);
  }
  opened = std::move(state);
  return 0;
}

// Closes the handle once no call uses it; callers that still hold the state find it closed.
void shutDown(Port& state) {
  ScopedLock lock(state.mutex);
  state.closeHandle();
}

int setBaud(Port& state, int rate) {
  return changeCommState(state, kSerialBaudRate,
                         [rate](DCB& dcb) { dcb.BaudRate = static_cast<DWORD>(rate); });
}

int setFlow(Port& state, int mode) {
  return changeCommState(state, kSerialSystemError, [mode, &state](DCB& dcb) {
    if (mode == kFlowHardware) {
      dcb.fOutxCtsFlow = TRUE;
      dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    } else {
      dcb.fOutxCtsFlow = FALSE;
      dcb.fRtsControl = state.rtsRaised ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    }
  });
}

int setWriteTimeouts(Port& state, std::int32_t writeMultiplier, std::int32_t writeConstant) {
  ScopedLock lock(state.mutex);
  if (state.handle == INVALID_HANDLE_VALUE) return kSerialNotOpen;
  // Both zero would let a write wait for ever: that gets the default instead.
  state.writeMultiplier = static_cast<DWORD>(writeMultiplier);
  state.writeConstant = static_cast<DWORD>(writeConstant);
  if (state.writeMultiplier == 0 && state.writeConstant == 0) {
    state.writeMultiplier = kDefaultWriteMsPerByte;
    state.writeConstant = kDefaultWriteConstantMs;
  }
  const DWORD readConstant = state.currentKnown ? state.current.ReadTotalTimeoutConstant
                                                : kWaitSliceMs;
  return applyTimeouts(state, readConstant) ? 0 : kSerialSystemError;
}

int receiveCount(Port& state) {
  ScopedLock lock(state.mutex);
  if (state.handle == INVALID_HANDLE_VALUE) return kSerialNotOpen;
  COMSTAT status{};
  DWORD errors = 0;
  const std::size_t waiting =
      ClearCommError(state.handle, &errors, &status) ? status.cbInQue : 0;
  return static_cast<int>(std::min<std::size_t>(state.received.size() + waiting, INT_MAX));
}

int getByte(Port& state) {
  ScopedLock lock(state.mutex);
  if (state.handle == INVALID_HANDLE_VALUE) return kSerialNotOpen;
  if (state.received.size() == 0) pullWaiting(state);
  return takeByte(state.received);
}

int readBlock(Port& state, std::uint8_t* buffer, int count) {
  ScopedLock lock(state.mutex);
  if (state.handle == INVALID_HANDLE_VALUE) return kSerialNotOpen;

  const auto wanted = static_cast<std::size_t>(count);
  std::size_t copied = state.received.take(buffer, wanted);
  if (copied < wanted) {
    // Only what the driver says is waiting, so the read completes at once.
    COMSTAT status{};
    DWORD errors = 0;
    if (ClearCommError(state.handle, &errors, &status) && status.cbInQue > 0) {
      const auto ask =
          static_cast<DWORD>(std::min<std::size_t>(wanted - copied, status.cbInQue));
      DWORD got = 0;
      if (ReadFile(state.handle, buffer + copied, ask, &got, nullptr)) copied += got;
    }
  }
  return static_cast<int>(copied);
}

int putBlock(Port& state, const std::uint8_t* buffer, int count) {
  ScopedLock lock(state.mutex);
  if (state.handle == INVALID_HANDLE_VALUE) return kSerialNotOpen;
  if (count == 0) return 0;
  // The write time-outs stored with the port bound the write (writeMultiplier x count +
  // writeConstant), and they are part of every time-out set this layer makes.
  if (!state.currentKnown && !applyTimeouts(state, kWaitSliceMs)) return 0;
  DWORD written = 0;
  if (!WriteFile(state.handle, buffer, static_cast<DWORD>(count), &written, nullptr)) {
    return static_cast<int>(written);
  }
  if (written < static_cast<DWORD>(count)) SetLastError(ERROR_TIMEOUT);
  return static_cast<int>(written);
}

int clearReceiveQueue(Port& state) {
  ScopedLock lock(state.mutex);
  if (state.handle == INVALID_HANDLE_VALUE) return kSerialNotOpen;
  state.received.clear();
  if (!PurgeComm(state.handle, PURGE_RXCLEAR | PURGE_RXABORT)) return kSerialSystemError;
  return 0;
}

int portStatus(Port& state, int mask) {
  ScopedLock lock(state.mutex);
  if (state.handle == INVALID_HANDLE_VALUE) return kSerialNotOpen;
  DWORD lines = 0;
  if (!GetCommModemStatus(state.handle, &lines)) {
    return noModemLines(GetLastError()) ? 0 : kSerialSystemError;
  }
  return static_cast<int>(lines) & mask;
}

InputWait waitForInput(Port& state, int count, std::uint32_t timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  const auto wanted = static_cast<std::size_t>(std::max(count, 0));
  // The lock is taken afresh for each slice, so other calls (and a close) get in between.
  for (;;) {
    ScopedLock lock(state.mutex);
    if (state.handle == INVALID_HANDLE_VALUE) return InputWait::hungUp;
    if (!pullWaiting(state)) state.hungUp = true;
    ByteRing& received = state.received;
    if (received.size() >= wanted || received.full()) return InputWait::ready;
    if (state.hungUp) return InputWait::hungUp;

    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return InputWait::timedOut;
    const auto slice = static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, kWaitSliceMs));
    if (!applyTimeouts(state, slice)) {
      state.hungUp = true;
      return InputWait::hungUp;
    }
    // With {0, 0, slice} the read ends when all the missing bytes are in or the slice is over.
    const auto ask =
        static_cast<DWORD>(std::min(wanted - received.size(), received.freeContiguous()));
    DWORD got = 0;
    if (!ReadFile(state.handle, received.freeStart(), ask, &got, nullptr)) {
      // A purge from another thread aborts the read; anything else is a device gone away.
      if (GetLastError() == ERROR_OPERATION_ABORTED) return InputWait::ready;
      state.hungUp = true;
      return InputWait::hungUp;
    }
    received.commit(got);
    if (got > 0) return InputWait::ready;  // the caller checks the count again
  }
}

int lastError() { return static_cast<int>(GetLastError()); }

void clearLastError() { SetLastError(ERROR_SUCCESS); }

}  // namespace serial_device

std::string serialDevicePath(int port) { return "\\\\.\\COM" + std::to_string(port + 1); }

}  // namespace dorvane::platform
