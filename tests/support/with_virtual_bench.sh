#!/usr/bin/env bash
# Runs a host program against a fresh virtual bench (seed 1, 38400 baud) on COM7:
#   with_virtual_bench.sh BENCHSIM PROGRAM [ARGS...]
# The program gets the path of a settings file for that port as its last argument; its exit status
# is the script's.
set -euo pipefail
benchsim=$1
shift
work=$(mktemp -d)
bench=
cleanup() {
  if [ -n "$bench" ]; then kill "$bench" 2>/dev/null || true; wait "$bench" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

"$benchsim" --seed 1 --baud 38400 >"$work/bench.out" 2>"$work/bench.err" &
bench=$!
# The bench prints its pseudo-terminal's path as its first line.
for _ in $(seq 100); do
  [ -s "$work/bench.out" ] && break
  sleep 0.1
done
if [ ! -s "$work/bench.out" ]; then
  echo "with_virtual_bench: $benchsim printed no pseudo-terminal within 10 s" >&2
  cat "$work/bench.err" >&2
  exit 1
fi
printf '[Settings]\nport=7\nbaud=38400\npoints=4096\n' >"$work/bench.ini"
DORVANE_COM7=$(head -n 1 "$work/bench.out") timeout 120 "$@" "$work/bench.ini"
