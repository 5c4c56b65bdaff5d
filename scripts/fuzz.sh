#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (in build-fuzz/) and runs
# each for SECONDS (default 60) on its seed corpus, then prints per target
# the executions, executions per second and the outcome. Exits non-zero when
# any target crashed, leaked, timed out or broke a property; the input that
# did it is kept in build-fuzz/fuzz-artifacts/.
#
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build_dir="$top/build-fuzz"
work_dir="$build_dir/fuzz-work"
artifacts="$build_dir/fuzz-artifacts"

. "$top/scripts/packages.sh"
ensure_fuzz_packages

CC=clang CXX=clang++ cmake -S "$top" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVESTRA_FUZZ=ON -DVESTRA_BUILD_BENCH=OFF >/dev/null
cmake --build "$build_dir" -j"$(nproc)" --target fuzzers

mkdir -p "$work_dir" "$artifacts"
failed=0
summary=()
for source in "$top"/fuzz/*_fuzzer.cpp; do
  name=$(basename "$source" .cpp)
  # New inputs go to a working copy, so the seed corpus in the repository
  # stays the few readable inputs it is.
  corpus="$work_dir/$name"
  mkdir -p "$corpus"
  log="$work_dir/$name.log"
  echo "== $name: ${seconds} s"
  set +e
  "$build_dir/bin/$name" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$artifacts/$name-" "$corpus" "$top/fuzz/corpus/$name" >"$log" 2>&1
  rc=$?
  set -e
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  if [ "$rc" -eq 0 ]; then
    outcome="no crash"
  else
    outcome="FAILED (exit $rc): $(grep -m1 -E '^==[0-9]+==ERROR|property broken|runtime error|^SUMMARY' "$log" || echo "see $log")"
    failed=1
    tail -40 "$log"
  fi
  summary+=("$(printf '%-24s %12s execs %8s exec/s  %s' "$name" "${execs:-?}" "${rate:-?}" "$outcome")")
done

echo
printf '%s\n' "${summary[@]}"
exit "$failed"
