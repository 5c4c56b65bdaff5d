#!/usr/bin/env bash
# Sets up a Debian 12 machine for this project (installs the missing build
# and test packages), configures, builds and runs every test with CTest.
#
#   scripts/run-tests.sh [--werror] [--sanitize] [--build-dir DIR] [-- ctest args...]
#
# --werror    warnings are errors
# --sanitize  build and run the tests under AddressSanitizer and UBSan
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
werror=OFF
sanitize=OFF
build_dir=""
ctest_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --werror) werror=ON ;;
    --sanitize) sanitize=ON ;;
    --build-dir) build_dir="$2"; shift ;;
    --) shift; ctest_args=("$@"); break ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
  shift
done
if [ -z "$build_dir" ]; then
  build_dir="$top/build"
  [ "$sanitize" = ON ] && build_dir="$top/build-asan"
fi

. "$top/scripts/packages.sh"
ensure_test_packages

cmake -S "$top" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVESTRA_WERROR="$werror" -DVESTRA_SANITIZE="$sanitize"
cmake --build "$build_dir" -j"$(nproc)"

if [ "$sanitize" = ON ]; then
  # umockdev preloads its own library ahead of the ASan runtime.
  export ASAN_OPTIONS="verify_asan_link_order=0:detect_leaks=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
fi
cd "$build_dir"
ctest --output-on-failure -j2 "${ctest_args[@]}"
