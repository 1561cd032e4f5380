#!/usr/bin/env bash
# One idempotent set-up step for a fresh Debian machine: installs the Debian
# packages the build needs, cross-builds libcurl (static, Schannel) from
# Debian's own curl source package, prepares a private Wine prefix and
# configures the CMake build tree. A second run skips what is already there.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${OV_BUILD_DIR:-$ROOT/build}
DEPS=$BUILD/deps
export WINEPREFIX=$BUILD/wineprefix
export WINEDEBUG=-all
JOBS=$(nproc)

log() { printf '[setup] %s\n' "$*"; }

# --- Debian packages -------------------------------------------------------
PACKAGES=(
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  libz-mingw-w64-dev libstb-dev googletest
  cmake ninja-build make dpkg-dev file python3 ca-certificates
  wine wine64 xvfb xauth x11-apps imagemagick xdotool fonts-wqy-zenhei fonts-wqy-microhei locales
)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  log "installing: ${missing[*]}"
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Wine takes its code page and its file-name encoding from the Unix locale. The
# tests run as a Chinese user's Windows would (code page 936), and without the
# locale Wine could not even create a file with a Chinese name.
if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
  log "generating the zh_CN.UTF-8 locale"
  localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
fi

# --- libcurl for the target -------------------------------------------------
CURL_PREFIX=$DEPS/curl
if [ ! -f "$CURL_PREFIX/lib/libcurl.a" ] || [ ! -f "$CURL_PREFIX/bin/curl.exe" ]; then
  log "fetching Debian's curl source package"
  APTDIR=$DEPS/apt
  mkdir -p "$APTDIR/lists/partial" "$APTDIR/cache/archives/partial" "$DEPS/src"
  # Source entries for exactly the archives this machine's apt already uses
  # (its mirror, suites and keys), kept private so /etc/apt is untouched. No
  # archive is named here: without sources of its own the machine cannot
  # build, and the script says so.
  python3 "$ROOT/scripts/deb-src-entries.py" > "$APTDIR/sources.sources"
  APTOPTS=(-o Dir::Etc::SourceParts=/nonexistent -o "Dir::Etc::SourceList=$APTDIR/sources.sources"
           -o "Dir::State::Lists=$APTDIR/lists" -o "Dir::Cache=$APTDIR/cache")
  # An archive of the machine's that offers no source packages (a vendor's
  # binary-only one) fails its part of the update; the Debian ones still
  # count, and a missing curl source package stops the next step by itself.
  apt-get "${APTOPTS[@]}" update -q || log "some apt sources offer no source packages; going on with the others"
  rm -rf "$DEPS/src"/curl-*
  (cd "$DEPS/src" && apt-get "${APTOPTS[@]}" source --download-only curl)
  dsc=$(ls "$DEPS/src"/curl_*.dsc | sort -V | tail -n 1)
  (cd "$DEPS/src" && dpkg-source -x "$dsc" curl-src)

  log "cross-building libcurl (static, Schannel)"
  rm -rf "$DEPS/curl-build"
  cmake -S "$DEPS/src/curl-src" -B "$DEPS/curl-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$CURL_PREFIX" \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=ON -DCURL_USE_SCHANNEL=ON -DCURL_ZLIB=OFF \
    -DCURL_DISABLE_LDAP=ON -DCURL_USE_LIBPSL=OFF -DCURL_USE_LIBSSH2=OFF -DUSE_LIBIDN2=OFF \
    -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF -DENABLE_MANUAL=OFF -DBUILD_TESTING=OFF \
    -DCMAKE_EXE_LINKER_FLAGS=-static
  cmake --build "$DEPS/curl-build" -j "$JOBS"
  cmake --install "$DEPS/curl-build"
fi

# --- private Wine prefix ----------------------------------------------------
if [ ! -f "$WINEPREFIX/.ov-ready" ]; then
  log "preparing the Wine prefix in $WINEPREFIX"
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  # No Mono or Gecko download prompts: neither is needed and neither could be fetched.
  WINEDLLOVERRIDES="mscoree,mshtml=" xvfb-run -a -s "-screen 0 1024x768x24" wineboot -i
  wineserver -w
  touch "$WINEPREFIX/.ov-ready"
fi
# Prefix settings, re-imported whenever they change:
# - Wine does not map the Chinese face names by itself; without this CJK text
#   draws as boxes. Micro Hei is an outline font (Zen Hei's built-in bitmaps
#   lose strokes at the 12-13 pixel sizes the skins use), and its Mono cut has
#   the half-width Latin letters of 宋体, so texts measured for 宋体 fit.
# - Windows are not handed to a window manager: Xvfb runs none, and Wine would
#   otherwise wait two seconds for one whenever a popup window is hidden.
# - A crashing program is not held open by the crash dialog of Wine's
#   debugger, which nobody can click on a virtual display: the debugger prints
#   its backtrace and the program ends at once, failing its test.
# - A second fixed disk D: (the folder drive_d of the prefix), as on most
#   Chinese users' machines: the installer proposes D: first. Wine reads the
#   drive types when its server starts.
PREFIX_REG=$(printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"宋体"="WenQuanYi Micro Hei Mono"\r\n"SimSun"="WenQuanYi Micro Hei Mono"\r\n"微软雅黑"="WenQuanYi Micro Hei"\r\n"Microsoft YaHei"="WenQuanYi Micro Hei"\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n"ShowCrashDialog"=dword:00000000\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Drives]\r\n"d:"="hd"\r\n\r\n')
mkdir -p "$WINEPREFIX/drive_d"
[ -L "$WINEPREFIX/dosdevices/d:" ] || ln -s ../drive_d "$WINEPREFIX/dosdevices/d:"
if [ "$(cat "$WINEPREFIX/.ov-settings" 2>/dev/null)" != "$PREFIX_REG" ]; then
  log "applying the prefix settings (fonts, window management, crash dialog, drive D:)"
  reg=$BUILD/prefix.reg
  printf '%s' "$PREFIX_REG" | iconv -f UTF-8 -t UTF-16 > "$reg"
  xvfb-run -a -s "-screen 0 1024x768x24" wine regedit "$(winepath -w "$reg")"
  wineserver -w
  printf '%s' "$PREFIX_REG" > "$WINEPREFIX/.ov-settings"
fi

# --- CMake build tree --------------------------------------------------------
if [ ! -f "$BUILD/out/build.ninja" ]; then
  log "configuring the build tree"
  cmake -S "$ROOT" -B "$BUILD/out" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOV_DEPS_DIR="$DEPS"
fi
log "ready"
