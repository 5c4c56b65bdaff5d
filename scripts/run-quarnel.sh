#!/usr/bin/env bash
# Starts QUARNEL against two simulated KORVO emulators, for a person to try
# the program without hardware. Installs what is missing and builds, as
# scripts/run-tests.sh does, then runs korvo-sim on a sample TRG file and
# stops it when QUARNEL exits. Without a display it shows the same work
# through quarnel-cli instead: list, write and verify of a sample file.
#
#   scripts/run-quarnel.sh [--trg NAME] [--build-dir DIR]
#
# --trg NAME   sample target description of TRG/ (default KT51456)
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
trg=KT51456
build_dir="$top/build"
while [ $# -gt 0 ]; do
  case "$1" in
    --trg) trg="$2"; shift ;;
    --build-dir) build_dir="$2"; shift ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
  shift
done

program=quarnel
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run-quarnel.sh: no display (DISPLAY or WAYLAND_DISPLAY is not set); showing quarnel-cli instead" >&2
  program=quarnel-cli
fi

. "$top/scripts/packages.sh"
ensure_build_packages

if [ ! -f "$build_dir/CMakeCache.txt" ]; then
  cmake -S "$top" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build_dir" -j"$(nproc)" --target "$program" korvo-sim sample_trg

trg_file="$build_dir/TRG/$trg.TRG"
[ -f "$trg_file" ] || { echo "run-quarnel.sh: no sample target $trg_file" >&2; exit 2; }

sim_out=$(mktemp)
"$build_dir/bin/korvo-sim" --trg "$trg_file" --emulators 2 >"$sim_out" &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; rm -f "$sim_out"' EXIT

# korvo-sim prints one line, KORVO_SIM_DIR=..., once its sockets listen.
for _ in $(seq 100); do
  grep -q '^KORVO_SIM_DIR=' "$sim_out" && break
  kill -0 "$sim_pid" 2>/dev/null || { echo "run-quarnel.sh: korvo-sim did not start" >&2; exit 1; }
  sleep 0.1
done
sim_dir=$(sed -n 's/^KORVO_SIM_DIR=//p' "$sim_out")
[ -n "$sim_dir" ] || { echo "run-quarnel.sh: korvo-sim gave no socket directory" >&2; exit 1; }
echo "korvo-sim: 2 emulators with $trg in $sim_dir"

export KORVO_SIM_DIR="$sim_dir"
if [ "$program" = quarnel ]; then
  "$build_dir/bin/quarnel"
  exit
fi

demo="$top/sim/samples/demo.hex"
run() {
  echo
  echo "\$ quarnel-cli $*"
  "$build_dir/bin/quarnel-cli" "$@"
}
run list
run --target "$trg" write "$demo" --end file
run --target "$trg" verify "$demo" --end file
