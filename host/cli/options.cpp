#include "host/cli/options.h"

#include "host/os/host_os.h"

namespace dorvane::host::cli {

void addSettingsOption(CLI::App* command, std::string& ini) {
  command->add_option("--ini", ini, "the settings file (INI, section [Settings])")->capture_default_str();
}

void addOutputOptions(CLI::App* command, OutputOptions& output) {
  command->add_option("--out", output.folder, "the folder for the saved files")->capture_default_str();
  command->add_flag("--no-plot", output.noPlot, "save CSV and JCAMP-DX only, no PNG");
  command->add_flag("--overwrite", output.overwrite, "replace files of the same names (otherwise they are kept and nothing is written)");
  command->add_option("--sample", output.notes.sample, "the sample's name, written into the files (and their JCAMP-DX title)");
  command->add_option("--operator", output.notes.operatorName, "who made the measurement, written into the files");
  command->add_option("--comment", output.notes.comment, "a comment written into the files");
}

ProcessingOptions ProcessingText::resolved() const {
  ProcessingOptions resolved = processing;
  if (!range.empty()) resolved.range = parseRange(range);
  resolved.ratio = ratio == "transmittance" ? SpectrumKind::Transmittance : SpectrumKind::Absorbance;
  return resolved;
}

void addProcessingOptions(CLI::App* command, ProcessingText& text) {
  ProcessingOptions& processing = text.processing;
  command->add_option("--ratio", text.ratio, "with --background: transmittance (S/B) or absorbance (-log10 S/B)")
      ->capture_default_str()
      ->check(CLI::IsMember({"transmittance", "absorbance"}));
  command->add_option("--apodization", processing.apodization, "the apodization function")
      ->capture_default_str()
      ->check(CLI::IsMember(apodizationNames()));
  command->add_option("--zero-fill", processing.zeroFill, "zero-filling factor: 1, 2, 4 or 8 (default 2)")
      ->check(CLI::IsMember({1, 2, 4, 8}));
  command->add_option("--phase", processing.phase, "phase correction: mertz, or power (the magnitude spectrum)")
      ->capture_default_str()
      ->check(CLI::IsMember({"mertz", "power"}));
  command->add_option("--phase-resolution", processing.phaseResolution,
                      "Mertz: the resolution of the phase, cm-1 (default 32)")
      ->check(CLI::PositiveNumber);
  command->add_option("--range", text.range, "write and draw only LO:HI cm-1, e.g. 400:4000");
}

void addLiveOptions(CLI::App* command, live::LiveViewOptions& options) {
  command->add_option("--live", options.port,
                      "watch the run in a browser: serve its live view on 127.0.0.1:PORT (default " +
                          std::to_string(live::kDefaultLivePort) + "; 0: any free port) and, when the run is over, "
                          "until Ctrl-C")
      ->expected(0, 1)
      ->default_str(std::to_string(live::kDefaultLivePort))
      ->option_text("[=PORT]");
  command->add_option("--live-bind", options.bind,
                      "the address the live view listens on, e.g. 0.0.0.0 for every network (anyone who can reach it "
                      "can watch; default: loopback only)");
}

int afterBenchCalls(int status) {
  if (stopRequested()) throw stoppedBy("; the port is closed");
  return status;
}

}  // namespace dorvane::host::cli
