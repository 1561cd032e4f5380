#!/usr/bin/env bash
# Runs one Windows program under Wine in the project's private prefix.
# Used by CTest (as the crosscompiling emulator), the demo and the benchmarks.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$ROOT/build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# A Chinese user's Windows runs with code page 936; Wine derives it from LANG.
export LANG=${OV_WINE_LANG:-zh_CN.UTF-8}

# Wine's first program of a session also starts its helper processes
# (services, explorer, wineserver), which live on after the program and would
# inherit our stdout. A caller that waits for its pipe to close (CTest) would
# then wait forever, so the output goes through a file unless asked otherwise.
if [ -n "${OV_WINE_DIRECT:-}" ]; then
  exec wine "$@"
fi
out=$(mktemp)
wine "$@" >"$out" 2>&1 </dev/null
rc=$?
cat "$out"
rm -f "$out"
exit $rc
