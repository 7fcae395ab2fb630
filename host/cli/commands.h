// The subcommands of dorvane apart from acquire. Each prints to stdout and throws HostFailure with
// one line when it cannot do its work.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/acquisition/acquire.h"
#include "host/acquisition/spectrum.h"

namespace dorvane::host::live {
class LiveRun;
}

namespace dorvane::host {

void showInfo(const std::string& iniPath);
void listStoredBlocks(const std::string& iniPath);
struct FetchOptions {
  std::string iniPath;
  std::int32_t index = 0;  // the block's place in the bench's list, newest first
  std::string folder = ".";
  bool plot = true;
  bool overwrite = false;
  RecordNotes notes;
};
// Saves the block as stored-block-<its time>.*: block numbers shift with every acquisition.
void fetchStoredBlock(const FetchOptions& options);
// Prints the result with its meaning; false when the result tells of a failure.
bool executeCommand(const std::string& iniPath, const std::string& command);
// Serves the virtual bench (with dorvane-benchsim's own options) until Ctrl-C.
void serveVirtualBench(const std::vector<std::string>& benchOptions);

struct DemoOptions {
  std::string folder = "dorvane-demo";
  std::int32_t scans = 16;
  std::vector<std::string> benchOptions;  // passed to dorvane-benchsim
  live::LiveRun* live = nullptr;           // shown the demo's two files as they come
};
// The virtual bench with a polystyrene film: a background with the shuttle at the open beam, a
// sample with the film in the beam, and the absorbance with its bands found and listed.
void runDemo(const DemoOptions& options);
// How the demo makes its absorbance: the library's defaults, over the range of the film's bands.
ProcessingOptions demoProcessing();

// The settings file's port for the virtual bench: its device is named in DORVANE_COM<port>.
inline constexpr int kVirtualBenchPort = 49;

}  // namespace dorvane::host
