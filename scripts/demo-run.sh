#!/usr/bin/env bash
# The demo itself, on the display in $DISPLAY (scripts/demo.sh prepares it).
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${OV_BUILD_DIR:-$ROOT/build}
OUT=${OV_DEMO_OUT:-$ROOT/demo-output}
PORT=$(sed -n 's/^OV_E2E_PORT:STRING=//p' "$BUILD/out/CMakeCache.txt")
LAUNCH_NUMBER=7
export WINEPREFIX=$BUILD/wineprefix WINEDEBUG=-all LANG=zh_CN.UTF-8
export OV_STANDIN_INSTALL_MS=3000   # the stand-in package takes a moment, like a real one

rm -rf "$OUT"
mkdir -p "$OUT"
WORK=$(mktemp -d /tmp/ovdemo.XXXXXX)
SERVER_PID=
cleanup() {
  [ -n "$SERVER_PID" ] && kill "$SERVER_PID" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
say() { printf '[demo] %s\n' "$*"; }
shot() { import -window root "$OUT/$1.png" 2>/dev/null && say "screenshot $1.png"; }

# --- the package and its manifest ---------------------------------------------
# The stand-in package padded to 40 MB (a PE file ignores bytes after its end),
# so the download takes long enough to be watched.
cp "$BUILD/out/standins/ovinstaller.exe" "$WORK/ovinstaller.exe"
head -c 40000000 /dev/zero | tr '\0' '\125' >> "$WORK/ovinstaller.exe"
SIZE=$(stat -c %s "$WORK/ovinstaller.exe")
MD5=$(md5sum "$WORK/ovinstaller.exe" | cut -d' ' -f1)
printf '[Install]\r\nUrl=http://127.0.0.1:%s/ovinstaller.exe\r\nSize=%s\r\nMd5=%s\r\nVersion=1.0.0\r\n' \
  "$PORT" "$SIZE" "$MD5" > "$WORK/manifest.txt"

# The publisher's part: sign the manifest and the package with the test key
# made at set-up (the demo's installer is built to trust it), as a release is
# signed (the manifest valid for a week); the server hands out the signatures
# beside the files.
KEY=$BUILD/keys/test.key
"$ROOT/scripts/sign-release.sh" --expires 7 "$WORK/manifest.txt" "$WORK/ovinstaller.exe" "$KEY" >"$WORK/sign.log"
say "manifest and package signed with the test key ($(sed -n 1p "$BUILD/keys/test.pub" | sed 's/.* //'))"
python3 "$ROOT/tests/Http/server/fault_server.py" "$WORK/port" --port "$PORT" --idle 300 &
SERVER_PID=$!
for _ in $(seq 100); do [ -s "$WORK/port" ] && break; sleep 0.1; done
BASE=http://127.0.0.1:$PORT
curl -sf -X POST --data-binary @"$WORK/manifest.txt" "$BASE/_put?name=manifest" >/dev/null
curl -sf -X POST --data-binary @"$WORK/ovinstaller.exe" "$BASE/_put?name=package" >/dev/null
curl -sf -X POST --data-binary @"$WORK/manifest.txt.minisig" "$BASE/_put?name=manifest.minisig" >/dev/null
curl -sf -X POST --data-binary @"$WORK/ovinstaller.exe.minisig" "$BASE/_put?name=package.minisig" >/dev/null
curl -sf -X POST --data-binary 'mode=stored&name=manifest' "$BASE/_route?path=/ovinstall.txt" >/dev/null
curl -sf -X POST --data-binary 'mode=stored&name=manifest.minisig' "$BASE/_route?path=/ovinstall.txt.minisig" >/dev/null
curl -sf -X POST --data-binary 'mode=stored&name=package.minisig' "$BASE/_route?path=/ovinstaller.exe.minisig" >/dev/null
# About 5 MB/s, so the progress bar has time to move.
curl -sf -X POST --data-binary 'blob=package&mode=trickle&chunk=262144&delay=50' \
  "$BASE/_route?path=/ovinstaller.exe" >/dev/null
say "server on $BASE: manifest and a $SIZE-byte package (md5 $MD5)"

# --- a machine without an earlier installation ----------------------------------
DRIVE_C=$WINEPREFIX/drive_c
rm -f "$DRIVE_C/ProgramData/OrvelLaucher.ini"
wine reg delete 'HKLM\SOFTWARE\OrvelLauncher' /f /reg:32 >/dev/null 2>&1 || true
rm -rf "$WINEPREFIX/drive_d/欧维网络"
INSTALL_DIR="$WINEPREFIX/drive_d/欧维网络/欧维澄岳"  # D: is the first fixed disk
# Where the installer keeps the download and runs the package from: a folder
# only administrators may change. Wine keeps no owners, so the local build is
# told the descriptor Windows gives that folder (an earlier demo's folder is
# then used again, as on Windows).
STAGING_DIR="$DRIVE_C/ProgramData/OrvelSetup"
rm -rf "$STAGING_DIR" "$STAGING_DIR"-*
export OV_TEST_STAGING_SDDL='O:BAG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)'

# --- run the installer and click through it --------------------------------------
wine "$BUILD/out/local/OvSetup.exe" "$LAUNCH_NUMBER" >"$WORK/installer.log" 2>&1 &
INSTALLER=$!
WID=$(timeout 60 xdotool search --sync --name '安装澄岳' | head -n 1)
sleep 1.5
eval "$(xdotool getwindowgeometry --shell "$WID")"
say "installer window $WID at $X,$Y (${WIDTH}x${HEIGHT})"
shot 1-start

# btn_install spans 177,237 to 361,281 in the window.
xdotool mousemove $((X + 269)) $((Y + 259)) click 1
sleep 2
shot 2-downloading
sleep 3
shot 3-downloading-later

for _ in $(seq 120); do
  [ -f "$INSTALL_DIR/installer.txt" ] && break
  sleep 0.5
done
sleep 1
shot 4-installing
sleep 5
shot 5-installing-later

for _ in $(seq 60); do
  kill -0 "$INSTALLER" 2>/dev/null || break
  sleep 0.5
done
set +e
wait "$INSTALLER"
CODE=$?
set -e
shot 6-finished
# The launcher is started, not waited for: give it a moment to leave its record.
for _ in $(seq 50); do [ -f "$INSTALL_DIR/launched.txt" ] && break; sleep 0.1; done

# --- report -------------------------------------------------------------------------
{
  echo "# Demo report"
  echo
  echo "- installer exit code: $CODE"
  echo "- package: $SIZE bytes, md5 $MD5, served by $BASE"
  # What the installer was given, checked the way it checks it: both files
  # against their signatures with the key it was built with.
  for f in manifest.txt ovinstaller.exe; do
    if minisign -Vq -p "$BUILD/keys/test.pub" -m "$WORK/$f" -x "$WORK/$f.minisig"; then
      echo "- signature of $f: verified with the test publisher key"
    else
      echo "- signature of $f: NOT verified"
    fi
  done
  if curl -s "$BASE/_log" | grep -q 'ovinstall.txt.minisig' && curl -s "$BASE/_log" | grep -q 'ovinstaller.exe.minisig' &&
     [ -f "$INSTALL_DIR/installer.txt" ]; then
    echo "- the installer fetched both signatures, and ran the package only after both verified"
  else
    echo "- the installer did NOT fetch and verify both signatures"
  fi
  echo "- requests the server saw (method, path, Range):"
  curl -s "$BASE/_log" | sed 's/^/    /'
  echo "- package command line: $(cat "$INSTALL_DIR/installer.txt" 2>/dev/null || echo '(package not run)')"
  echo "- package's current directory: $(cat "$INSTALL_DIR/installer-cwd.txt" 2>/dev/null || echo '(package not run)')"
  echo "- launcher command line: $(cat "$INSTALL_DIR/launched.txt" 2>/dev/null || echo '(launcher not started)')"
  echo "- launcher's rights: $(cat "$INSTALL_DIR/launched-token.txt" 2>/dev/null || echo '(launcher not started)')"
  if [ -e "$STAGING_DIR/ovinstaller.exe" ]; then echo "- downloaded package: still there"; else echo "- downloaded package: deleted after the hand-off"; fi
  echo "- screenshots: $(cd "$OUT" && ls *.png | tr '\n' ' ')"
} > "$OUT/report.md"
cat "$OUT/report.md"
