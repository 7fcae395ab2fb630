"""The co-add event the driver signals after each file: an eventfd on Linux, a Win32 event on Windows.

Waiting never polls the driver, and a Ctrl-C on the main thread ends the wait with KeyboardInterrupt.
"""
import os
import sys

if sys.platform == "win32":
    import _winapi
    import ctypes

    _kernel32 = ctypes.WinDLL("kernel32", use_last_error=True)
    _kernel32.CreateEventW.restype = ctypes.c_void_p
    _kernel32.CreateEventW.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_wchar_p]
    _kernel32.CloseHandle.argtypes = [ctypes.c_void_p]

    class CoaddEvent:
        def __init__(self):
            # Auto-reset: a wait that returns has consumed the signal.
            handle = _kernel32.CreateEventW(None, False, False, None)
            if not handle:
                raise ctypes.WinError(ctypes.get_last_error())
            self.handle = handle

        def wait(self, seconds):
            """True when signalled; False when `seconds` (None: no limit) passed first."""
            milliseconds = _winapi.INFINITE if seconds is None else max(0, int(seconds * 1000))
            # On the main thread CPython adds its Ctrl-C event to the wait and raises KeyboardInterrupt.
            while True:
                try:
                    return _winapi.WaitForMultipleObjects([self.handle], False, milliseconds) == _winapi.WAIT_OBJECT_0
                except InterruptedError:
                    continue

        def close(self):
            if self.handle:
                _kernel32.CloseHandle(self.handle)
                self.handle = None
else:
    import select

    class CoaddEvent:
        def __init__(self):
            self._fd = os.eventfd(0, os.EFD_CLOEXEC | os.EFD_NONBLOCK)
            self.handle = self._fd
            self._poll = select.poll()
            self._poll.register(self._fd, select.POLLIN)

        def wait(self, seconds):
            """True when signalled; False when `seconds` (None: no limit) passed first."""
            # poll is resumed after a signal whose handler returns (PEP 475); Ctrl-C's raises.
            if not self._poll.poll(None if seconds is None else max(0, int(seconds * 1000))):
                return False
            try:
                os.eventfd_read(self._fd)  # the driver's writes add up; one read resets them all
            except BlockingIOError:
                return False
            return True

        def close(self):
            if self._fd is not None:
                os.close(self._fd)
                self._fd = self.handle = None
