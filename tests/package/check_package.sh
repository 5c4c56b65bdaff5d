#!/usr/bin/env bash
# Builds the Debian package from BUILD_DIR with cpack, unpacks it into a
# scratch root as dpkg would install it, checks what it holds, and runs the
# unpacked programs: korvo-sim on an unpacked sample target and, when the
# package has it, `quarnel-cli list` against that simulator, which must find
# the unpacked sample TRG files through the library's own ../TRG search.
#
#   check_package.sh BUILD_DIR TRG_SOURCE_DIR
set -euo pipefail
build_dir=$1
trg_source_dir=$2

scratch=$(mktemp -d)
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log" >&2; fail "cpack -G DEB"; }
debs=("$scratch"/out/quarnel_*.deb)
[ -f "${debs[0]}" ] || fail "no quarnel_*.deb built"
deb=${debs[0]}
root=$scratch/root
dpkg -x "$deb" "$root"
app=$root/usr/lib/quarnel

# Runtime dependencies: Qt 6 Widgets and Network, the SQLite driver of the
# record store, libusb-1.0.
depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/(.*//; s/ //g')
for package in libqt6widgets6 libqt6network6 libqt6sql6-sqlite libusb-1.0-0; do
  grep -qx "$package" <<<"$depends" || fail "Depends lacks $package: $(echo $depends)"
done

# Exactly what users need, nothing built for tests or benchmarks.
programs=(quarnel korvo-sim)
[ -e "$build_dir/bin/quarnel-cli" ] && programs+=(quarnel-cli)
expected=(usr/lib/quarnel/lib/libvestra.so usr/share/applications/quarnel.desktop
          usr/share/icons/hicolor/scalable/apps/quarnel.svg usr/share/icons/hicolor/64x64/apps/quarnel.png)
for program in "${programs[@]}"; do expected+=("usr/lib/quarnel/bin/$program" "usr/bin/$program"); done
for trg in "$trg_source_dir"/*.TRG; do expected+=("usr/lib/quarnel/TRG/$(basename "$trg")"); done
actual=$(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | sort)
wanted=$(printf '%s\n' "${expected[@]}" | sort)
[ "$actual" = "$wanted" ] || fail "package contents differ (< package, > expected):
$(diff <(echo "$actual") <(echo "$wanted") || true)"

for program in "${programs[@]}"; do
  link=$root/usr/bin/$program
  [ -L "$link" ] || fail "usr/bin/$program is not a link"
  [[ "$(readlink "$link")" != /* ]] || fail "usr/bin/$program points outside the package root"
  [ "$(readlink -f "$link")" = "$(readlink -f "$app/bin/$program")" ] || fail "usr/bin/$program points elsewhere"
  [ -x "$app/bin/$program" ] || fail "$program is not executable"
done
grep -qx 'Exec=quarnel' "$root/usr/share/applications/quarnel.desktop" || fail "desktop entry does not start quarnel"
grep -qx 'Icon=quarnel' "$root/usr/share/applications/quarnel.desktop" || fail "desktop entry names another icon"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/usr/share/applications/quarnel.desktop"
fi

# The programs load libvestra.so by name: one of their RUNPATH entries, seen
# from their real directory, must hold the unpacked library. The library
# itself must find everything it links against.
for program in quarnel "${programs[@]:2}"; do
  runpath=$(readelf -d "$app/bin/$program" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
  found=""
  IFS=: read -ra entries <<<"$runpath"
  for entry in "${entries[@]}"; do
    candidate=${entry//\$ORIGIN/$app/bin}/libvestra.so
    if [ -e "$candidate" ] && [ "$(readlink -f "$candidate")" = "$(readlink -f "$app/lib/libvestra.so")" ]; then
      found=$candidate
    fi
  done
  [ -n "$found" ] || fail "RUNPATH of $program ($runpath) does not reach the unpacked libvestra.so"
done
for binary in "$app/lib/libvestra.so" "$app"/bin/*; do
  libraries=$(ldd "$binary")
  if grep -q 'not found' <<<"$libraries"; then
    echo "$libraries" >&2
    fail "$(basename "$binary") misses a library"
  fi
done

# korvo-sim from the unpacked tree on an unpacked sample target.
sim_dir=$scratch/sim
mkdir "$sim_dir"
"$root/usr/bin/korvo-sim" --trg "$app/TRG/KT51456.TRG" --emulators 2 --dir "$sim_dir" >"$scratch/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
  [ -S "$sim_dir/korvo-01" ] && break
  kill -0 "$sim_pid" 2>/dev/null || { cat "$scratch/sim.out" >&2; fail "korvo-sim ended"; }
  sleep 0.05
done
[ -S "$sim_dir/korvo-00" ] && [ -S "$sim_dir/korvo-01" ] || fail "korvo-sim made no sockets"
grep -q "^KORVO_SIM_DIR=$sim_dir\$" "$scratch/sim.out" || fail "korvo-sim did not announce its directory"

# quarnel-cli from the unpacked tree against it, with no TrgPath configured:
# only the unpacked sample descriptions can be found. Its emulator lock is
# the scratch root's, so that other tests' runs do not contend for it.
if [ -x "$app/bin/quarnel-cli" ]; then
  mkdir "$scratch/config"
  listing=$(cd "$scratch" && env KORVO_SIM_DIR="$sim_dir" XDG_CONFIG_HOME="$scratch/config" QUARNEL_LOCK_DIR="$scratch" \
    "$root/usr/bin/quarnel-cli" list) || fail "quarnel-cli list exited $?"
  for socket in korvo-00 korvo-01; do
    grep -q "$socket" <<<"$listing" || fail "quarnel-cli list does not show $socket:
$listing"
  done
  for trg in "$app"/TRG/*.TRG; do
    name=$(basename "$trg" .TRG)
    grep -q "$name" <<<"$listing" || fail "quarnel-cli list does not show target $name:
$listing"
  done
else
  echo "quarnel-cli is not built: the package holds no command-line program to run against korvo-sim"
fi
echo "package $(basename "$deb") checked"
