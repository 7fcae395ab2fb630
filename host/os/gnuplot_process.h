// Finding gnuplot and running it on a script: one source per system. Drawing the plot itself,
// the script and the checks of what gnuplot wrote, is plot.cpp's.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace dorvane::host {

// The gnuplot on PATH as PATH stands at the call, never one in the current folder; none without.
std::optional<std::string> findGnuplot();

// Runs `program` without a shell, feeds `script` to its standard input and waits for it to end.
// "" when it exited with success; otherwise the reason, e.g. "gnuplot: line 0: cannot open file".
// Its standard output goes nowhere: told to write somewhere it cannot, gnuplot falls back to it.
std::string runGnuplot(const std::string& program, const std::string& script);

// The reason runGnuplot gives for a gnuplot that failed: its first complaint in `errorOutput` (its
// standard error), or `exitStatus` (e.g. "exit status 1") when it said nothing.
std::string gnuplotFailure(std::string_view errorOutput, const std::string& exitStatus);

}  // namespace dorvane::host
