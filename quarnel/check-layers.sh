#!/bin/sh
# Each folder of QUARNEL includes only its own headers and those of the
# folders below it, as quarnel/CMakeLists.txt links them. Tests are left
# out: they may reach for any test double. Prints every include that points
# up or sideways and fails if there is one.
root=${1:-$(dirname "$0")}
below() {
  case $1 in
    base) echo "usb" ;;  # the library's own configuration reader
    target) echo "base" ;;
    objfile) echo "target base" ;;
    image) echo "objfile target base" ;;
    plug) echo "target base" ;;
    ops) echo "image objfile target base" ;;
    session) echo "ops plug image objfile target base" ;;
    records) echo "" ;;
    recording) echo "records session ops plug image objfile target base" ;;
    binding) echo "base" ;;
    ui) echo "recording records session ops plug image objfile target base" ;;
    app) echo "ui binding recording records session ops plug image objfile target base" ;;
    cli) echo "binding recording records session ops plug image objfile target base" ;;
    *) echo "?" ;;
  esac
}
status=0
for folder in base target objfile image plug ops session records recording binding ui app cli; do
  allowed="$folder $(below $folder)"
  for file in "$root/$folder"/*.h "$root/$folder"/*.cpp; do
    [ -e "$file" ] || continue
    for included in $(sed -n 's|^#include "\([a-z]*\)/.*|\1|p' "$file"); do
      case " $allowed " in
        *" $included "*) ;;
        *) echo "$file includes $included/, which $folder/ may not use"; status=1 ;;
      esac
    done
  done
done
[ $status -eq 0 ] && echo "every folder includes only itself and the folders below it"
exit $status
