# Sourced by the scripts here: the Debian 12 packages this project needs, in
# one place, and the installer that adds the missing ones (apt-get, which
# needs root). Each script calls what it needs, so every script works on a
# fresh machine by itself:
#
#   ensure_build_packages   configuring and building (every script)
#   ensure_test_packages    running the tests (scripts/run-tests.sh)
#   ensure_fuzz_packages    building the fuzz targets with clang (scripts/fuzz.sh)
#   ensure_packages [--no-install-recommends] PACKAGE...

missing_packages() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

packages_lists_updated=no
ensure_packages() {
  local options=()
  if [ "${1:-}" = --no-install-recommends ]; then
    options+=("$1")
    shift
  fi
  local missing
  missing=($(missing_packages "$@"))
  [ ${#missing[@]} -gt 0 ] || return 0
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if [ "$packages_lists_updated" = no ]; then
    apt-get update -qq
    packages_lists_updated=yes
  fi
  apt-get install -y -qq "${options[@]}" "${missing[@]}"
}

# What configuring the project needs whichever targets are built (the
# configure step finds GoogleTest, Qt 6, libusb-1.0 and umockdev for every
# build, the fuzz build too), and the GNU toolchain with its C++ library,
# which clang uses as well.
ensure_build_packages() {
  ensure_packages cmake make g++ pkg-config libgtest-dev libgmock-dev libusb-1.0-0-dev umockdev libumockdev-dev
  # QUARNEL's widgets, the platform plugins that show its window (or draw it
  # offscreen in the GUI tests) and the fonts it draws with; their
  # recommended packages are not needed.
  ensure_packages --no-install-recommends qt6-base-dev qt6-qpa-plugins fonts-dejavu-core
  # The record store's SQLite driver, which quarnel-cli loads at run time,
  # and the headers of the SQLite library under it, for settings the driver
  # does not offer.
  ensure_packages --no-install-recommends libqt6sql6-sqlite libsqlite3-dev
}

# The build's packages and the tools of a whole test run: dpkg-shlibdeps and
# file for the Debian package that cpack makes, srec_cat, which the object
# file load benchmark (built with everything) measures against, and the
# record store's drivers with the PostgreSQL server its tests start.
ensure_test_packages() {
  ensure_build_packages
  ensure_packages srecord
  ensure_packages --no-install-recommends dpkg-dev file
  ensure_packages --no-install-recommends libqt6sql6-sqlite libqt6sql6-psql postgresql
}

# The build's packages, clang with the libFuzzer and sanitizer runtimes, and
# Ninja.
ensure_fuzz_packages() {
  ensure_build_packages
  ensure_packages --no-install-recommends clang libclang-rt-14-dev ninja-build
}
