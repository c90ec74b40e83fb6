#!/usr/bin/env bash
# Measures what an Install.log entry and a whole SpanGuard run cost besides
# their mandated pauses. Needs Google Benchmark and hyperfine (installed here).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
KIT_PACKAGES="$KIT_PACKAGES libbenchmark-dev hyperfine" ensure_packages

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
ninja -C build-bench >/dev/null
bin=build-bench/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

step "one entry, pauses free (Google Benchmark)"
"$bin/w32" init --fast --sleep-scale 0 "$work/m-entry" >/dev/null
W32_MACHINE="$work/m-entry" build-bench/bench/install_log_bench --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true

step "whole SpanGuard runs (hyperfine): pauses free vs. accelerated vs. the pauses alone"
"$bin/w32" init --fast --sleep-scale 0 "$work/m0" >/dev/null
"$bin/w32" init "$work/mreal" >/dev/null
for m in m0 mreal; do
  printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Nimbrel]\n"InstallLocation"="C:\\\\App"\n' \
    | W32_MACHINE="$work/$m" "$bin/w32" reg import -
  mkdir -p "$work/$m/drives/c/App/Nimbrel"
done
# An accepted path writes 4 entries: 400 ms of mandated pauses. SpanGuard ends
# with exit code 1 when it has done its work, so hyperfine must not judge it.
hyperfine --warmup 3 --runs 30 -N -i \
  -n "SpanGuard, pauses free" "env W32_MACHINE=$work/m0 $bin/SpanGuard.exe C:\\Program-Files\\App" \
  -n "SpanGuard, real clock (4 x 100 ms pauses)" "env W32_MACHINE=$work/mreal $bin/SpanGuard.exe C:\\Program-Files\\App"
