#!/usr/bin/env bash
# Runs a host program against a fresh virtual bench (seed 1, 38400 baud) on COM7:
#   with_virtual_bench.sh BENCHSIM PROGRAM [ARGS...]
# The program gets the path of a settings file for that port as its last argument; its exit status
# is the script's. The bench's folder is removed after a pass and kept (its path printed) otherwise.
set -euo pipefail
benchsim=$1
shift
work=$(mktemp -d "${TMPDIR:-/tmp}/dorvane-bench.XXXXXX")
bench=
cleanup() {
  local status=$?
  if [ -n "$bench" ]; then kill "$bench" 2>/dev/null || true; wait "$bench" 2>/dev/null || true; fi
  if [ "$status" -eq 0 ]; then rm -rf "$work"; else echo "with_virtual_bench: its folder is kept: $work" >&2; fi
}
trap cleanup EXIT

# The bench prints its pseudo-terminal's path as its first line once it serves; read through a FIFO,
# that line ends the wait, as does the bench's end (end of file). The bound is for a hung bench only.
mkfifo "$work/bench.out"
"$benchsim" --seed 1 --baud 38400 >"$work/bench.out" 2>"$work/bench.err" &
bench=$!
pty=
read -r -t 120 pty <"$work/bench.out" || true
if [ "${pty#/dev/}" = "$pty" ]; then
  echo "with_virtual_bench: $benchsim printed no pseudo-terminal (got '$pty')" >&2
  cat "$work/bench.err" >&2
  exit 1
fi
printf '[Settings]\nport=7\nbaud=38400\npoints=4096\n' >"$work/bench.ini"
DORVANE_COM7=$pty timeout 120 "$@" "$work/bench.ini"
