# Sourced by the scripts here. ensure_packages installs those of the given
# Debian packages that are missing (apt-get, which needs root); with
# --no-install-recommends first, their recommended packages are left out.
#
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
