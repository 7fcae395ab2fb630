// The serial layer on the Win32 communications API: port n is \\.\COM<n+1>, opened for plain
// (non-overlapped) I/O, with a receive queue of its own that waits fill in short timed reads.
#include <windows.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/mutex.h"
#include "platform/serial_port.h"
#include "platform/serial_queue.h"
#include "platform/system_error.h"

namespace dorvane::platform {
namespace {

constexpr int kPortCount = 256;
constexpr DWORD kDefaultWriteMsPerByte = 1;
constexpr DWORD kDefaultWriteConstantMs = 2000;
// A wait reads in slices no longer than this, so a close from another thread gets the port's
// lock soon. Wine's WaitCommEvent returns at once without data, so a timed read is the wait.
constexpr DWORD kWaitSliceMs = 100;

// One open port. Every call on the handle holds the port's lock, so a close from another thread
// never pulls the handle from under a read; the table and the callers share the state itself.
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

struct Defaults {
  bool dtr = true;
  bool rts = true;
  DWORD baud = 38400;
};

// The rates a POSIX build offers too, so a setting works alike on both.
constexpr int kBaudRates[] = {50,      75,      110,     134,     150,     200,     300,
                              600,     1200,    1800,    2400,    4800,    9600,    19200,
                              38400,   57600,   115200,  230400,  460800,  500000,  576000,
                              921600,  1000000, 1152000, 1500000, 2000000, 2500000, 3000000,
                              3500000, 4000000};

bool offeredRate(int rate) {
  return std::find(std::begin(kBaudRates), std::end(kBaudRates), rate) != std::end(kBaudRates);
}

// A device without modem lines refuses GetCommModemStatus with one of these.
bool noModemLines(DWORD error) {
  return error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED ||
         error == ERROR_INVALID_PARAMETER || error == ERROR_CALL_NOT_IMPLEMENTED;
}

class Win32SerialLibrary final : public SerialLibrary {
 public:
  int reset(int port, int first, int second) override {
    if (port == -1) {
      ScopedLock lock(tableMutex_);
      defaults_.dtr = first != 0;
      defaults_.rts = second != 0;
      return 0;
    }
    if (!validPort(port)) return kSerialBadPort;
    if (first <= 0 || second <= 0) return kSerialRange;

    ScopedLock lock(tableMutex_);
    if (ports_[port]) {
      shutDown(*ports_[port]);
      ports_[port].reset();
    }
    return open(port, static_cast<DWORD>(first), static_cast<DWORD>(second));
  }

  int lineParameters(int port, int parity, int stopBits, int dataBits) override {
    if (port != -1 && !validPort(port)) return kSerialBadPort;
    if (!isBenchFormat(parity, stopBits, dataBits)) return kSerialByteSize;
    // The bench's format is the only one, and every opening already sets it.
    if (port != -1 && !find(port)) return kSerialNotOpen;
    return 0;
  }

  int baud(int port, int rate) override {
    if (port != -1 && !validPort(port)) return kSerialBadPort;
    if (!offeredRate(rate)) return kSerialBaudRate;
    if (port == -1) {
      ScopedLock lock(tableMutex_);
      defaults_.baud = static_cast<DWORD>(rate);
      return 0;
    }
    const std::shared_ptr<Port> state = find(port);
    if (!state) return kSerialNotOpen;
    ScopedLock lock(state->mutex);
    if (state->handle == INVALID_HANDLE_VALUE) return kSerialNotOpen;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(state->handle, &dcb)) return kSerialSystemError;
    dcb.BaudRate = static_cast<DWORD>(rate);
    if (!SetCommState(state->handle, &dcb)) return kSerialBaudRate;
    return 0;
  }

  int flow(int port, int mode) override {
    if (!validPort(port)) return kSerialBadPort;
    const std::shared_ptr<Port> state = find(port);
    if (!state) return kSerialNotOpen;
    if (mode != kFlowHardware && mode != kFlowNone) return kSerialRange;
    ScopedLock lock(state->mutex);
    if (state->handle == INVALID_HANDLE_VALUE) return kSerialNotOpen;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(state->handle, &dcb)) return kSerialSystemError;
    if (mode == kFlowHardware) {
      dcb.fOutxCtsFlow = TRUE;
      dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    } else {
      dcb.fOutxCtsFlow = FALSE;
      dcb.fRtsControl = state->rtsRaised ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    }
    if (!SetCommState(state->handle, &dcb)) return kSerialSystemError;
    return 0;
  }

  int timeouts(int port, std::int32_t, std::int32_t, std::int32_t, std::int32_t writeMultiplier,
               std::int32_t writeConstant) override {
    if (!validPort(port)) return kSerialBadPort;
    const std::shared_ptr<Port> state = find(port);
    if (!state) return kSerialNotOpen;
    ScopedLock lock(state->mutex);
    if (state->handle == INVALID_HANDLE_VALUE) return kSerialNotOpen;
    // Reads never block here (waitForInput is the way to wait), so only the write time-outs are
    // kept. Both zero would let a write wait for ever: that gets the default instead.
    state->writeMultiplier = static_cast<DWORD>(writeMultiplier);
    state->writeConstant = static_cast<DWORD>(writeConstant);
    if (state->writeMultiplier == 0 && state->writeConstant == 0) {
      state->writeMultiplier = kDefaultWriteMsPerByte;
      state->writeConstant = kDefaultWriteConstantMs;
    }
    const DWORD readConstant = state->currentKnown ? state->current.ReadTotalTimeoutConstant
                                                   : kWaitSliceMs;
    return applyTimeouts(*state, readConstant) ? 0 : kSerialSystemError;
  }

  int receiveCount(int port) override {
    if (!validPort(port)) return kSerialBadPort;
    const std::shared_ptr<Port> state = find(port);
    if (!state) return kSerialNotOpen;
    ScopedLock lock(state->mutex);
    if (state->handle == INVALID_HANDLE_VALUE) return kSerialNotOpen;
    COMSTAT status{};
    DWORD errors = 0;
    const std::size_t waiting =
        ClearCommError(state->handle, &errors, &status) ? status.cbInQue : 0;
    return static_cast<int>(std::min<std::size_t>(state->received.size() + waiting, INT_MAX));
  }

  int getByte(int port) override {
    if (!validPort(port)) return kSerialBadPort;
    const std::shared_ptr<Port> state = find(port);
    if (!state) return kSerialNotOpen;
    ScopedLock lock(state->mutex);
    if (state->handle == INVALID_HANDLE_VALUE) return kSerialNotOpen;
    if (state->received.size() == 0) pullWaiting(*state);
    std::uint8_t byte = 0;
    if (state->received.take(&byte, 1) == 0) return kSerialNoData;
    return byte;
  }

  int readBlock(int port, std::uint8_t* buffer, int count) override {
    // A short read with no failure behind it must not report a stale error.
    SetLastError(ERROR_SUCCESS);
    if (!validPort(port)) return kSerialBadPort;
    if (count < 0 || (count > 0 && buffer == nullptr)) return kSerialRange;
    const std::shared_ptr<Port> state = find(port);
    if (!state) return kSerialNotOpen;
    ScopedLock lock(state->mutex);
    if (state->handle == INVALID_HANDLE_VALUE) return kSerialNotOpen;

    const auto wanted = static_cast<std::size_t>(count);
    std::size_t copied = state->received.take(buffer, wanted);
    if (copied < wanted) {
      // Only what the driver says is waiting, so the read completes at once.
      COMSTAT status{};
      DWORD errors = 0;
      if (ClearCommError(state->handle, &errors, &status) && status.cbInQue > 0) {
        const auto ask =
            static_cast<DWORD>(std::min<std::size_t>(wanted - copied, status.cbInQue));
        DWORD got = 0;
        if (ReadFile(state->handle, buffer + copied, ask, &got, nullptr)) copied += got;
      }
    }
    return static_cast<int>(copied);
  }

  int putByte(int port, std::uint8_t byte) override {
    const int written = putBlock(port, &byte, 1);
    if (written < 0) return written;  // a bad port or one not open
    return written == 1 ? 1 : kSerialSystemError;
  }

  int putBlock(int port, const std::uint8_t* buffer, int count) override {
    if (!validPort(port)) return kSerialBadPort;
    if (count < 0 || (count > 0 && buffer == nullptr)) return kSerialRange;
    const std::shared_ptr<Port> state = find(port);
    if (!state) return kSerialNotOpen;
    ScopedLock lock(state->mutex);
    if (state->handle == INVALID_HANDLE_VALUE) return kSerialNotOpen;
    if (count == 0) return 0;
    // The write time-outs stored with the port bound the write (writeMultiplier x count +
    // writeConstant), and they are part of every time-out set this layer makes.
    if (!state->currentKnown && !applyTimeouts(*state, kWaitSliceMs)) return 0;
    DWORD written = 0;
    if (!WriteFile(state->handle, buffer, static_cast<DWORD>(count), &written, nullptr)) {
      return static_cast<int>(written);
    }
    if (written < static_cast<DWORD>(count)) SetLastError(ERROR_TIMEOUT);
    return static_cast<int>(written);
  }

  int clearReceiveQueue(int port) override {
    if (!validPort(port)) return kSerialBadPort;
    const std::shared_ptr<Port> state = find(port);
    if (!state) return kSerialNotOpen;
    ScopedLock lock(state->mutex);
    if (state->handle == INVALID_HANDLE_VALUE) return kSerialNotOpen;
    state->received.clear();
    if (!PurgeComm(state->handle, PURGE_RXCLEAR | PURGE_RXABORT)) return kSerialSystemError;
    return 0;
  }

  int portStatus(int port, int mask) override {
    if (!validPort(port)) return kSerialBadPort;
    const std::shared_ptr<Port> state = find(port);
    if (!state) return kSerialNotOpen;
    ScopedLock lock(state->mutex);
    if (state->handle == INVALID_HANDLE_VALUE) return kSerialNotOpen;
    DWORD lines = 0;
    if (!GetCommModemStatus(state->handle, &lines)) {
      return noModemLines(GetLastError()) ? 0 : kSerialSystemError;
    }
    return static_cast<int>(lines) & mask;
  }

  int close(int port) override {
    if (!validPort(port)) return kSerialBadPort;
    ScopedLock lock(tableMutex_);
    if (!ports_[port]) return kSerialNotOpen;
    shutDown(*ports_[port]);
    ports_[port].reset();
    return 0;
  }

  InputWait waitForInput(int port, int count, std::uint32_t timeoutMs) override {
    if (!validPort(port)) return InputWait::hungUp;
    const std::shared_ptr<Port> state = find(port);
    if (!state) return InputWait::hungUp;

    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    const auto wanted = static_cast<std::size_t>(std::max(count, 0));
    // The lock is taken afresh for each slice, so other calls (and a close) get in between.
    for (;;) {
      ScopedLock lock(state->mutex);
      if (state->handle == INVALID_HANDLE_VALUE) return InputWait::hungUp;
      if (!pullWaiting(*state)) state->hungUp = true;
      ByteRing& received = state->received;
      if (received.size() >= wanted || received.full()) return InputWait::ready;
      if (state->hungUp) return InputWait::hungUp;

      const ULONGLONG now = GetTickCount64();
      if (now >= deadline) return InputWait::timedOut;
      const auto slice = static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, kWaitSliceMs));
      if (!applyTimeouts(*state, slice)) {
        state->hungUp = true;
        return InputWait::hungUp;
      }
      // With {0, 0, slice} the read ends when all the missing bytes are in or the slice is over.
      const auto ask =
          static_cast<DWORD>(std::min(wanted - received.size(), received.freeContiguous()));
      DWORD got = 0;
      if (!ReadFile(state->handle, received.freeStart(), ask, &got, nullptr)) {
        // A purge from another thread aborts the read; anything else is a device gone away.
        if (GetLastError() == ERROR_OPERATION_ABORTED) return InputWait::ready;
        state->hungUp = true;
        return InputWait::hungUp;
      }
      received.commit(got);
      if (got > 0) return InputWait::ready;  // the caller checks the count again
    }
  }

  int lastSystemError() override { return static_cast<int>(GetLastError()); }

 private:
  static bool validPort(int port) { return port >= 0 && port < kPortCount; }

  std::shared_ptr<Port> find(int port) {
    ScopedLock lock(tableMutex_);
    return ports_[port];
  }

  // Closes the handle once no call uses it; callers that still hold the state find it closed.
  static void shutDown(Port& state) {
    ScopedLock lock(state.mutex);
    state.closeHandle();
  }

  // Sets {0, 0, readConstant} for reads and the port's write time-outs, unless the device has
  // them already. The caller holds the port's lock.
  static bool applyTimeouts(Port& state, DWORD readConstant) {
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
  static bool pullWaiting(Port& state) {
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

  // Opens and configures the port; the caller holds the table lock.
  int open(int port, DWORD receiveQueue, DWORD transmitQueue) {
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

    if (!SetupComm(handle, receiveQueue, transmitQueue)) return fail(kSerialHardware);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb)) return fail(kSerialHardware);
    // Binary 8N1, no software flow control: SYNC (0x16), 0x03, XON and XOFF are data here.
    dcb.BaudRate = defaults_.baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = defaults_.dtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = defaults_.rts ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    // A framing or overrun error must not stall every later read until ClearCommError.
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(handle, &dcb)) return fail(kSerialHardware);
    // A fresh opening starts with empty queues.
    PurgeComm(handle, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);

    std::shared_ptr<Port> state;
    try {
      state = std::make_shared<Port>(
          handle, std::max<std::size_t>(receiveQueue, kMinReceiveCapacity), defaults_.rts);
    } catch (const std::bad_alloc&) {
      return fail(kSerialNoMemory);
    }
    if (!applyTimeouts(*state, kWaitSliceMs)) {
      state->handle = INVALID_HANDLE_VALUE;  // fail() closes it
      return fail(kSerialHardware);
    }
    ports_[port] = std::move(state);
    return 0;
  }

  Mutex tableMutex_;  // guards ports_ and defaults_
  std::array<std::shared_ptr<Port>, kPortCount> ports_;
  Defaults defaults_;
};

}  // namespace

SerialLibrary& systemSerialLibrary() {
  static Win32SerialLibrary library;
  return library;
}

std::string serialDevicePath(int port) { return "\\\\.\\COM" + std::to_string(port + 1); }

}  // namespace dorvane::platform
