#!/usr/bin/env bash
# The Windows build run under Wine: its unit suites, then dorvane.exe and dorvane.dll against the
# Linux virtual bench through COM ports that Wine maps to the bench's pseudo-terminals. The files
# dorvane.exe saves must equal those the Linux dorvane saves from a bench with the same seed.
#
# Usage: wine_stage.sh WIN32_BUILD LINUX_BUILD
#   WIN32_BUILD holds dorvane.dll, dorvane.exe, library_lifetime.exe and the *_tests.exe suites (its
#   install is checked too);
#   LINUX_BUILD holds dorvane and dorvane-benchsim.
# Each run works in a folder of its own under the temporary directory, with a fresh Wine prefix of
# its own (so its own Wine server and COM port mapping): runs one after another, or at once, share
# nothing. The folder is removed after a pass and kept, with its path printed, after a failure.
set -euo pipefail

win=$(cd "$1" && pwd)
linux=$(cd "$2" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/dorvane-wine-stage.XXXXXX")
export WINEPREFIX="$work/wine-prefix" WINEARCH=win32 WINEDEBUG=-all
# No Mono or Gecko: nothing here needs them, and asking for them would wait for a download.
export WINEDLLOVERRIDES="mscoree=d;mshtml=d"

bench_pids=()
failures=0

cleanup() {
  local status=$? pid
  for pid in "${bench_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wineserver -k 2>/dev/null || true
  if [ "$status" -eq 0 ]; then
    rm -rf "$work"
  else
    # Wine's own files are most of the prefix's 600 MB and tell nothing about the failure.
    rm -rf "$WINEPREFIX/drive_c/windows"
    echo "wine: kept the stage's folder for a look: $work" >&2
  fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

ok() { echo "wine: ok: $*"; }
failed() {
  echo "wine: FAILED: $*" >&2
  failures=$((failures + 1))
}
# Runs a Windows program with a bound, so a hang fails the stage instead of stalling it. The bounds
# are for hangs only: minutes where a program takes seconds, since Wine starts slowly on a loaded
# machine.
run_windows() { timeout --kill-after=10 "$@"; }
windows_path() { winepath -w "$1" 2>/dev/null; }
# Waits until a line matching PATTERN is in FILE, which a program in the background writes, while
# that program (PID, when given) runs; false when the line never came. The 120 s bound is for a
# broken program only.
wait_for_line() {
  local file=$1 pattern=$2 pid=${3:-} bound=$((SECONDS + 120))
  until grep -q "$pattern" "$file" 2>/dev/null; do
    if [ $SECONDS -ge $bound ] || { [ -n "$pid" ] && ! kill -0 "$pid" 2>/dev/null; }; then
      grep -q "$pattern" "$file" 2>/dev/null
      return
    fi
    sleep 0.1
  done
}

# Starts a virtual bench (seed 1); its pseudo-terminal lands in bench_device, its process in bench_pid.
start_bench() {
  local name=$1
  shift
  "$linux/dorvane-benchsim" --seed 1 "$@" >"$work/$name.out" 2>"$work/$name.err" &
  bench_pid=$!
  bench_pids+=("$bench_pid")
  if ! wait_for_line "$work/$name.out" '^/dev/' "$bench_pid"; then
    echo "wine: the virtual bench $name did not start" >&2
    cat "$work/$name.err" >&2
    exit 1
  fi
  bench_device=$(head -n 1 "$work/$name.out")
}

# Maps COM<number> to a device; Wine reads the mapping when its server starts.
map_port() { wine reg add 'HKLM\Software\Wine\Ports' /v "COM$1" /t REG_SZ /d "$2" /f >/dev/null; }

settings_file() {
  printf '[Settings]\nport=%s\nbaud=38400\npoints=4096\n' "$1" >"$work/com$1.ini"
  echo "$work/com$1.ini"
}

# The saved files without the lines that hold the time of the run.
without_times() { grep -v -e '^# date:' -e '^# time:' -e '^##DATE=' -e '^##TIME=' -e '^##LONGDATE=' -e '^##\$TIMESTAMP MS=' -e '^# started:' -e '^##\$STARTED MS=' "$1"; }

echo "== Wine stage ($(wine --version)) in $work"
wineboot --init >/dev/null 2>&1
wineserver -w

# One server for the whole stage: a server left to exit when idle can be on its way out as the next
# program connects, and that program then dies with "wine client error:0: recvmsg: Connection reset
# by peer" before its first line. It outlives its last program by ten minutes at most, should the
# stage be killed before its clean-up.
wineserver -p600 >/dev/null 2>&1

echo "== Windows unit suites under Wine"
# The suites the Windows build makes, one or two a layer: one missing fails the stage, not skips it.
for suite in platform_tests runtime_tests log_file_tests link_tests bench_tests driver_settings_tests spectra_tests live_server_tests; do
  [ -e "$win/$suite.exe" ] || failed "$suite.exe is missing from $win"
done
for suite in "$win"/*_tests.exe; do
  [ -e "$suite" ] || break
  if run_windows 600 wine "$suite" --gtest_brief=1 >"$work/suite.log" 2>&1; then
    ok "$(basename "$suite"): $(grep -o '[0-9]* tests\? from [0-9]* test suites\? ran' "$work/suite.log" | tail -n 1)"
  else
    cat "$work/suite.log" >&2
    failed "$(basename "$suite")"
  fi
done

# A host in C through the public header alone: it loads dorvane.dll from beside it.
if run_windows 120 wine "$win/dorvane_c_host.exe" >"$work/c_host.log" 2>&1; then
  ok "dorvane_c_host.exe"
else
  cat "$work/c_host.log" >&2
  failed "dorvane_c_host.exe"
fi

echo "== the Windows install"
# What a Windows host links against: the DLLs and the program in bin/, the import libraries and
# module definitions in lib/, the headers, and the package files.
if cmake --install "$win" --prefix "$work/install" >"$work/install.log" 2>&1; then
  missing=()
  for file in bin/dorvane.dll bin/dorvane_spectra.dll bin/dorvane.exe lib/dorvane.lib lib/dorvane.def \
              lib/dorvane_spectra.lib lib/dorvane_spectra.def include/dorvane.h include/dorvane_helpers.h include/dorvane_spectra.h \
              lib/pkgconfig/dorvane.pc lib/cmake/dorvane/dorvaneConfig.cmake lib/cmake/dorvane/dorvaneTargets.cmake; do
    [ -e "$work/install/$file" ] || missing+=("$file")
  done
  if [ ${#missing[@]} -ne 0 ]; then
    failed "the Windows install lacks ${missing[*]}"
  elif run_windows 120 wine "$work/install/bin/dorvane.exe" --version >"$work/installed.log" 2>&1; then
    ok "the Windows install holds every file, and its dorvane.exe runs: $(tr -d '\r' <"$work/installed.log")"
  else
    cat "$work/installed.log" >&2
    failed "the installed dorvane.exe does not run"
  fi
else
  cat "$work/install.log" >&2
  failed "cmake --install $win"
fi

echo "== dorvane.exe and dorvane.dll against the virtual bench"
start_bench windows
map_port 49 "$bench_device"
# Slow scans, so that the bench is most likely taken away while the host waits for a scan.
start_bench vanishing --per-scan 1500
vanishing_bench=$bench_pid
map_port 50 "$bench_device"
# Spoken to only by the serial layer's own checks.
start_bench serial
map_port 51 "$bench_device"
# A fresh server reads the mapping. It opens the ports itself, and a pty it opens becomes its
# controlling terminal: when a bench goes away it gets a hang-up and dumps its object table on its
# standard error, which goes to a file of its own.
wineserver -k
wineserver -p600 >/dev/null 2>"$work/wineserver.log"
com49=$(windows_path "$(settings_file 49)")
com50=$(windows_path "$(settings_file 50)")
com60=$(windows_path "$(settings_file 60)")

# The serial layer on a mapped COM port: time limits kept, a request and its reply, a close that
# ends another thread's wait.
if DORVANE_TEST_COM=51 run_windows 120 wine "$win/serial_on_com_port.exe" --gtest_brief=1 >"$work/serial.log" 2>&1; then
  ok "serial_on_com_port.exe: $(grep -o '[0-9]* tests\? from [0-9]* test suites\? ran' "$work/serial.log" | tail -n 1)"
else
  cat "$work/serial.log" >&2
  failed "serial_on_com_port.exe"
fi
# A figure, not a check: what a 2 s wait on a silent line costs the program and Wine's server,
# which carries out every read.
server=$(pgrep -n -x wineserver32 || pgrep -n -x wineserver || true)
server_ticks() { [ -n "$server" ] && awk '{print $14 + $15}' "/proc/$server/stat" 2>/dev/null || echo 0; }
before=$(server_ticks)
run_windows 120 wine "$win/silent_wait_cost.exe" 51 3 | tr -d '\r' | sed 's/^/wine: figure: /'
echo "wine: figure: Wine's server meanwhile: $(( ($(server_ticks) - before) * 1000 / $(getconf CLK_TCK) )) ms CPU for 3 waits"

# Three files from each build, each from a fresh bench with the same seed.
mkdir -p "$work/windows-files" "$work/linux-files"
if run_windows 300 wine "$win/dorvane.exe" acquire --ini "$com49" --files 3 --scans 4 --no-plot \
     --prefix run --out "$(windows_path "$work/windows-files")" >"$work/acquire.log" 2>&1; then
  ok "dorvane.exe acquire: $(grep -c '^saved file' "$work/acquire.log") files"
else
  cat "$work/acquire.log" >&2
  failed "dorvane.exe acquire"
fi
start_bench linux
if ! DORVANE_COM49=$bench_device timeout 300 "$linux/dorvane" acquire --ini "$work/com49.ini" --files 3 --scans 4 \
       --no-plot --prefix run --out "$work/linux-files" >"$work/linux-acquire.log" 2>&1; then
  cat "$work/linux-acquire.log" >&2
  failed "the Linux dorvane acquire"
fi
for index in 001 002 003; do
  for kind in csv jdx; do
    name=run-$index.$kind
    if [ ! -s "$work/windows-files/$name" ] || [ ! -s "$work/linux-files/$name" ]; then
      failed "$name is missing from a build"
    elif diff <(without_times "$work/windows-files/$name") <(without_times "$work/linux-files/$name") >"$work/diff.txt"; then
      ok "$name from dorvane.exe equals the Linux build's, value for value ($(grep -c '^[0-9]' "$work/windows-files/$name") data lines)"
    else
      head -n 20 "$work/diff.txt" >&2
      failed "$name differs between the Windows and the Linux build"
    fi
  done
done

# dorvane.exe's live view over the files it saved, its event stream read by a plain HTTP client on
# the Linux side: Wine's sockets are the machine's.
# Not through run_windows: a function in the background is a subshell, and the kill below must
# reach timeout itself, which hands it on to the program.
timeout --kill-after=10 300 wine "$win/dorvane.exe" view "$(windows_path "$work/windows-files")" --port 0 \
  >"$work/view.log" 2>&1 &
viewer=$!
wait_for_line "$work/view.log" '^http://127.0.0.1:[0-9]*/' "$viewer" || true
url=$(grep -o '^http://127.0.0.1:[0-9]*/' "$work/view.log" | head -n 1 || true)
# The stream stays open: it is read until the run's event has brought file 3.
if [ -n "$url" ]; then
  curl -sN --max-time 120 "${url}events" >"$work/events.txt" 2>/dev/null &
  stream=$!
  wait_for_line "$work/events.txt" '"name":"run-003"' "$stream" || true
  kill "$stream" 2>/dev/null || true
  wait "$stream" 2>/dev/null || true
fi
if [ -n "$url" ] && grep -q '^event: run' "$work/events.txt" && grep -q '"name":"run-003"' "$work/events.txt" &&
   curl -sf --max-time 60 "${url}files/3.json" | grep -q '"spectrum":{"kind":"single beam"'; then
  ok "dorvane.exe view: its event stream has the run's 3 files, and file 3's data have its spectrum"
else
  cat "$work/view.log" >&2
  head -c 2000 "$work/events.txt" >&2 2>/dev/null || true
  failed "dorvane.exe view's live view"
fi
kill "$viewer" 2>/dev/null || true
wait "$viewer" 2>/dev/null || true

# With the log on: it is kept beside the DLL, found through the DLL's own module name. The program
# and its DLLs are copied into the stage's folder, so the log is this run's alone.
printf '[Settings]\nport=49\nbaud=38400\nlog=1\n' >"$work/logged.ini"
mkdir "$work/logged"
cp "$win/dorvane.exe" "$win"/*.dll "$work/logged/"
if run_windows 120 wine "$work/logged/dorvane.exe" info --ini "$(windows_path "$work/logged.ini")" >"$work/info.log" 2>&1 &&
   grep -q 'family 9 model 60' "$work/info.log"; then
  ok "dorvane.exe info identifies the bench"
else
  cat "$work/info.log" >&2
  failed "dorvane.exe info"
fi
if grep -q 'dorvane.dll spectrometer_open(id = 0) port= 48' "$work/logged/dorvane_log.txt" 2>/dev/null; then
  ok "the log is written beside dorvane.dll ($(grep -c . "$work/logged/dorvane_log.txt") lines)"
else
  failed "no log beside dorvane.dll"
fi

if run_windows 120 wine "$win/dorvane.exe" exec --ini "$com49" "whoAreYou" >"$work/exec.log" 2>&1 &&
   grep -q '589884' "$work/exec.log"; then
  ok "dorvane.exe exec whoAreYou: $(head -n 1 "$work/exec.log")"
else
  cat "$work/exec.log" >&2
  failed "dorvane.exe exec whoAreYou"
fi

# COM60 is mapped to nothing: the serial layer's code for a port that does not exist.
status=0
run_windows 120 wine "$win/dorvane.exe" info --ini "$com60" >"$work/noport.log" 2>&1 || status=$?
if [ $status -eq 1 ] && grep -q 'spectrometer_open returned -1' "$work/noport.log"; then
  ok "a COM port that does not exist: $(tail -n 1 "$work/noport.log")"
else
  cat "$work/noport.log" >&2
  failed "a COM port that does not exist gave exit status $status"
fi

# The DLL loaded and unloaded by a host while an acquisition runs.
dll=$(windows_path "$win/dorvane.dll")
for mode in unload close; do
  if run_windows 300 wine "$win/library_lifetime.exe" "$dll" "$com49" $mode >"$work/lifetime.log" 2>&1; then
    ok "library_lifetime $mode: $(tail -n 1 "$work/lifetime.log")"
  else
    cat "$work/lifetime.log" >&2
    failed "library_lifetime $mode"
  fi
done
# At a process's end the acquisition thread is already gone: the DLL must not try to stop it
# (that waited out the stop's 5 s bound twice at every exit). Its debug lines show any attempt.
if WINEDEBUG=+debugstr run_windows 300 wine "$win/library_lifetime.exe" "$dll" "$com49" exit \
     >"$work/lifetime.log" 2>"$work/debug.log" && ! grep -q 'CThreadBase::Stop' "$work/debug.log"; then
  ok "library_lifetime exit: the DLL does not stop a thread the ending process has ended"
else
  cat "$work/lifetime.log" >&2
  grep 'CThreadBase::Stop' "$work/debug.log" >&2 || true
  failed "library_lifetime exit"
fi

# A bench that vanishes after the first file: the acquisition ends, the first file is whole. The host
# asks for files without end, so however late the bench goes, it goes before the host is done; and
# it waits 30 s for a file, several times what one takes (4 s) on a loaded machine.
mkdir -p "$work/vanishing-files"
run_windows 300 wine "$win/dorvane.exe" acquire --ini "$com50" --files 0 --scans 1 --timeout 30 --no-plot \
  --prefix run --out "$(windows_path "$work/vanishing-files")" >"$work/vanishing.log" 2>&1 &
host=$!
wait_for_line "$work/vanishing.log" '^saved file 1' "$host" || true
kill "$vanishing_bench"
status=0
wait $host || status=$?
first=$work/vanishing-files/run-001.csv
if [ $status -eq 1 ] && [ -s "$first" ] &&
   [ "$(grep -c '^[0-9]' "$first")" -eq "$(sed -n 's/^# points: //p' "$first")" ]; then
  ok "the bench vanishing after file 1: exit status 1, file 1 whole ($(tail -n 1 "$work/vanishing.log"))"
else
  cat "$work/vanishing.log" >&2
  failed "the bench vanishing after file 1: exit status $status"
fi

if [ $failures -ne 0 ]; then
  echo "wine: $failures check(s) failed" >&2
  exit 1
fi
echo "wine: every check passed"
