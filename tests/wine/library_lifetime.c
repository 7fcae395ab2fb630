/*
 * dorvane.dll loaded and unloaded by a host while an acquisition runs (run under Wine against the
 * virtual bench). Usage: library_lifetime <DLL path> <settings file> unload|exit
 *   unload: FreeLibrary during an acquisition must return and leave the DLL loaded with its state,
 *           so that a second LoadLibrary can stop the acquisition; the DLL then really unloads.
 *   exit:   the process ends during an acquisition; the DLL must not try to stop a thread that the
 *           ending process has already ended (the harness checks the debug output).
 * Prints one line per step; exit status 0 when every check held.
 */
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "dorvane.h"

typedef int32_t(__cdecl* ExecuteCall)(const char*);
typedef int32_t(__cdecl* NoArgumentCall)(void);
typedef int32_t(__cdecl* IntegerCall)(int32_t);
typedef int32_t(__cdecl* EventCall)(dorvane_event_handle);

typedef struct {
  HMODULE library;
  ExecuteCall execute;
  NoArgumentCall startCoadd, stop, status, close;
  IntegerCall open, setFiles, setScans, setPoints;
  EventCall setCoaddEvent;
} Driver;

static int failed(const char* what) {
  printf("FAILED: %s\n", what);
  fflush(stdout);
  return 1;
}

static int load(Driver* driver, const char* path) {
  memset(driver, 0, sizeof *driver);
  driver->library = LoadLibraryA(path);
  if (driver->library == NULL) return 0;
#define FIND(field, type, name) driver->field = (type)(void (*)(void))GetProcAddress(driver->library, name)
  FIND(execute, ExecuteCall, "spectrometer_execute");
  FIND(startCoadd, NoArgumentCall, "spectrometer_startCoadd");
  FIND(stop, NoArgumentCall, "spectrometer_stop");
  FIND(status, NoArgumentCall, "spectrometer_getStatus");
  FIND(close, NoArgumentCall, "spectrometer_close");
  FIND(open, IntegerCall, "spectrometer_open");
  FIND(setFiles, IntegerCall, "spectrometer_setFiles");
  FIND(setScans, IntegerCall, "spectrometer_setScans");
  FIND(setPoints, IntegerCall, "spectrometer_setPoints");
  FIND(setCoaddEvent, EventCall, "spectrometer_setCoaddCompleteEventHandle");
#undef FIND
  return driver->execute && driver->startCoadd && driver->stop && driver->status && driver->close &&
         driver->open && driver->setFiles && driver->setScans && driver->setPoints && driver->setCoaddEvent;
}

/* Starts an acquisition without end and waits for its first file. */
static int startAcquisition(Driver* driver, const char* settings, HANDLE coaddDone) {
  char command[MAX_PATH + 2];
  snprintf(command, sizeof command, "@%s", settings);
  if (driver->execute(command) != 0) return failed("the settings did not load");
  if (driver->open(0) != 0) return failed("spectrometer_open");
  driver->setFiles(0);
  driver->setScans(1);
  driver->setPoints(1024);
  driver->setCoaddEvent((dorvane_event_handle)coaddDone);
  if (driver->startCoadd() != 0) return failed("the acquisition did not start");
  if (WaitForSingleObject(coaddDone, 60000) != WAIT_OBJECT_0) return failed("no file within a minute");
  printf("acquiring, first file in\n");
  return 0;
}

/* The thread releases its reference on the DLL as its last act; it may take a moment to get there.
 * The minute's bound is for a DLL that never unloads. */
static int unloaded(void) {
  const DWORD start = GetTickCount();
  while (GetModuleHandleA("dorvane.dll") != NULL) {
    if (GetTickCount() - start >= 60000) return 0;
    Sleep(50);
  }
  return 1;
}

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: library_lifetime <DLL path> <settings file> unload|close|exit\n");
    return 2;
  }
  const char* dllPath = argv[1];
  const char* settings = argv[2];
  const char* mode = argv[3];
  HANDLE coaddDone = CreateEventA(NULL, FALSE, FALSE, NULL);
  Driver driver;
  if (!load(&driver, dllPath)) return failed("the DLL did not load with its exports");
  if (startAcquisition(&driver, settings, coaddDone) != 0) return 1;

  if (strcmp(mode, "exit") == 0) {
    printf("ending the process during the acquisition\n");
    fflush(stdout);
    return 0;
  }

  if (strcmp(mode, "close") == 0) {
    driver.close();
    if (driver.status() == DORVANE_STATUS_ACQUIRING) return failed("still acquiring after spectrometer_close");
    if (!FreeLibrary(driver.library)) return failed("FreeLibrary");
    if (!unloaded()) return failed("the DLL stayed loaded: a thread of it outlived spectrometer_close");
    printf("closed during the acquisition, no thread left, unloaded\n");
    return 0;
  }

  /* FreeLibrary returns at once; the acquisition thread keeps the DLL loaded. */
  if (!FreeLibrary(driver.library)) return failed("FreeLibrary");
  printf("FreeLibrary returned during the acquisition\n");
  if (GetModuleHandleA("dorvane.dll") == NULL) return failed("the DLL was unmapped under its own thread");

  Driver again;
  if (!load(&again, dllPath)) return failed("the DLL did not load a second time");
  if (again.status() != DORVANE_STATUS_ACQUIRING) return failed("the second load lost the acquisition");
  if (WaitForSingleObject(coaddDone, 60000) != WAIT_OBJECT_0) return failed("no further file after FreeLibrary");
  printf("the acquisition went on and is seen by the second load\n");
  if (again.stop() != 0) return failed("spectrometer_stop");
  if (again.status() != DORVANE_STATUS_IDLE) return failed("not idle after the stop");
  again.close();
  if (!FreeLibrary(again.library)) return failed("the second FreeLibrary");

  if (!unloaded()) return failed("the DLL stayed loaded after its thread ended");
  printf("stopped and unloaded\n");
  CloseHandle(coaddDone);
  return 0;
}
