#!/usr/bin/env bash
# Fails unless libvestra.so exports exactly the 39 functions, the optional
# ApiGetConnectFailureText, ApiObj and the members of its four exported classes.
set -euo pipefail
library="$1"
unexpected=$(nm -DC --defined-only "$library" | cut -d' ' -f3- | sed 's/(.*//' |
  grep -vE '^(Api[A-Za-z]+|ReadHEX)$' |
  grep -vE '^(CUsbPipe|CFlashApi|CTrgConnectCtrl|CMWKorvoApi)::' |
  grep -vE '^(vtable|typeinfo|typeinfo name) for CUsbPipe$' || true)
if [ -n "$unexpected" ]; then
  echo "unexpected exports:"; echo "$unexpected"; exit 1
fi
names=$(nm -D --defined-only "$library" | awk '{print $3}' | grep -E '^(Api[A-Za-z]+|ReadHEX)$')
count=$(wc -l <<<"$names")
if [ "$count" -ne 41 ]; then
  echo "expected 39 functions, ApiGetConnectFailureText and ApiObj, found $count"; exit 1
fi
grep -qx ApiGetConnectFailureText <<<"$names" || { echo "ApiGetConnectFailureText is not exported"; exit 1; }
