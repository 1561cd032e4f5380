#!/usr/bin/env bash
# One idempotent set-up step for a fresh Debian machine: installs the Debian
# packages the build needs, cross-builds libcurl (static, Schannel, HTTP only)
# and libsodium (static, minimal) from Debian's own source packages, makes the
# test signing keys and TLS certificates, prepares a private Wine prefix and
# configures the CMake build tree. A second run skips what is already there,
# and rebuilds a library whose build flags have changed since it was built.
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
  autoconf automake libtool minisign openssl
  wine wine64 xvfb xauth x11-apps imagemagick xdotool fonts-wqy-zenhei fonts-wqy-microhei locales
  tinyproxy squid
)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  log "installing: ${missing[*]}"
  apt-get update -q
  # The proxies are for the tests, which start their own on free ports: the
  # packages' services must not start (and hold 3128 and 8888) on installing.
  guard=
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d && chmod 755 /usr/sbin/policy-rc.d && guard=1
  fi
  status=0
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" || status=$?
  [ -z "$guard" ] || rm -f /usr/sbin/policy-rc.d
  [ "$status" -eq 0 ] || exit "$status"
fi
# A machine that started them anyway (an init system that ignores the policy):
# stopped and kept from starting at boot.
if command -v systemctl >/dev/null && [ -d /run/systemd/system ]; then
  for service in tinyproxy squid; do
    if systemctl is-active --quiet "$service" || systemctl is-enabled --quiet "$service" 2>/dev/null; then
      log "stopping the $service service (the tests start their own)"
      systemctl disable --now "$service" >/dev/null 2>&1 || true
    fi
  done
fi

# Wine takes its code page and its file-name encoding from the Unix locale. The
# tests run as a Chinese user's Windows would (code page 936), and without the
# locale Wine could not even create a file with a Chinese name.
if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
  log "generating the zh_CN.UTF-8 locale"
  localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
fi

# --- Debian source packages, through a private apt configuration -------------
# Source entries from the machine's own mirror, kept private so /etc/apt is untouched.
APTDIR=$DEPS/apt
APTOPTS=(-o Dir::Etc::SourceParts=/nonexistent -o "Dir::Etc::SourceList=$APTDIR/sources.sources"
         -o "Dir::State::Lists=$APTDIR/lists" -o "Dir::Cache=$APTDIR/cache")
APT_UPDATED=
# fetch_source PACKAGE DIR: Debian's source of PACKAGE, unpacked (with Debian's
# patches applied) into DIR, which is made anew.
fetch_source() {
  local pkg=$1 dir=$2 dsc
  mkdir -p "$APTDIR/lists/partial" "$APTDIR/cache/archives/partial" "$DEPS/src"
  if [ -z "$APT_UPDATED" ]; then
    # Source entries for exactly the archives this machine's apt already uses
    # (its mirror, suites and keys), kept private so /etc/apt is untouched. No
    # archive is named here: without sources of its own the machine cannot
    # build, and the script says so.
    python3 "$ROOT/scripts/deb-src-entries.py" > "$APTDIR/sources.sources"
    # An archive of the machine's that offers no source packages (a vendor's
    # binary-only one) fails its part of the update; the Debian ones still
    # count, and a missing source package stops the next step by itself.
    apt-get "${APTOPTS[@]}" update -q || log "some apt sources offer no source packages; going on with the others"
    APT_UPDATED=1
  fi
  log "fetching Debian's $pkg source package"
  rm -rf "$DEPS/src/$pkg"_* "$dir"
  (cd "$DEPS/src" && apt-get "${APTOPTS[@]}" source --download-only "$pkg")
  dsc=$(ls "$DEPS/src/$pkg"_*.dsc | sort -V | tail -n 1)
  (cd "$DEPS/src" && dpkg-source -x "$dsc" "$dir")
}

# --- libcurl for the target -------------------------------------------------
# HTTP and HTTPS only (no other protocol compiled in), Schannel for TLS with the
# system's trust store: no CA bundle or CA path of the build machine compiled in.
# The flags are kept beside the library: a tree built with other flags (an older
# checkout, a CI cache) is rebuilt.
CURL_PREFIX=$DEPS/curl
CURL_FLAGS="-DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=ON -DCURL_USE_SCHANNEL=ON -DHTTP_ONLY=ON \
-DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none -DCURL_ZLIB=OFF -DCURL_DISABLE_LDAP=ON -DCURL_USE_LIBPSL=OFF \
-DCURL_USE_LIBSSH2=OFF -DUSE_LIBIDN2=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF \
-DENABLE_MANUAL=OFF -DBUILD_TESTING=OFF -DCMAKE_EXE_LINKER_FLAGS=-static"
if [ ! -f "$CURL_PREFIX/lib/libcurl.a" ] || [ ! -f "$CURL_PREFIX/bin/curl.exe" ] ||
   [ "$(cat "$CURL_PREFIX/.ov-flags" 2>/dev/null)" != "$CURL_FLAGS" ]; then
  [ -f "$DEPS/src/curl-src/CMakeLists.txt" ] || fetch_source curl "$DEPS/src/curl-src"
  log "cross-building libcurl (static, Schannel, HTTP only)"
  rm -rf "$DEPS/curl-build" "$CURL_PREFIX"
  # shellcheck disable=SC2086  # the flags are words on purpose
  cmake -S "$DEPS/src/curl-src" -B "$DEPS/curl-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$CURL_PREFIX" $CURL_FLAGS
  cmake --build "$DEPS/curl-build" -j "$JOBS"
  cmake --install "$DEPS/curl-build"
  printf '%s' "$CURL_FLAGS" > "$CURL_PREFIX/.ov-flags"
fi

# --- libsodium for the target ------------------------------------------------
# Signature checks only: the minimal build keeps Ed25519 signatures and BLAKE2b.
SODIUM_PREFIX=$DEPS/sodium
SODIUM_FLAGS="--host=x86_64-w64-mingw32 --disable-shared --enable-static --enable-minimal \
CC=x86_64-w64-mingw32-gcc-posix CFLAGS=-O2"
if [ ! -f "$SODIUM_PREFIX/lib/libsodium.a" ] ||
   [ "$(cat "$SODIUM_PREFIX/.ov-flags" 2>/dev/null)" != "$SODIUM_FLAGS" ]; then
  [ -f "$DEPS/src/sodium-src/configure.ac" ] || fetch_source libsodium "$DEPS/src/sodium-src"
  log "cross-building libsodium (static, minimal)"
  rm -rf "$SODIUM_PREFIX" "$DEPS/sodium-build"
  mkdir -p "$DEPS/sodium-build"
  (cd "$DEPS/src/sodium-src" && ./autogen.sh -s >/dev/null)
  # shellcheck disable=SC2086
  (cd "$DEPS/sodium-build" && "$DEPS/src/sodium-src/configure" --prefix="$SODIUM_PREFIX" $SODIUM_FLAGS >/dev/null &&
     make -j "$JOBS" >/dev/null && make install >/dev/null)
  printf '%s' "$SODIUM_FLAGS" > "$SODIUM_PREFIX/.ov-flags"
fi

# --- test keys and certificates (never committed: they live under build/) ----
# A publisher key pair the dev tree's installers verify against and the tests
# and the demo sign with, and a second ("another publisher", an attacker) pair.
KEYS=$BUILD/keys
mkdir -p "$KEYS"
for k in test other; do
  if [ ! -f "$KEYS/$k.key" ] || [ ! -f "$KEYS/$k.pub" ]; then
    log "making the $k signing key pair"
    rm -f "$KEYS/$k.key" "$KEYS/$k.pub"
    minisign -G -W -p "$KEYS/$k.pub" -s "$KEYS/$k.key" >/dev/null
  fi
done
TEST_PUBLIC_KEY=$(sed -n 2p "$KEYS/test.pub")
# A test CA and server certificates for the HTTPS tests: one for "localhost" by
# the CA, one for another host name by the CA, one for "localhost" by a CA
# nobody trusts. The tests make the test prefix (never this machine) trust the CA.
TLS=$BUILD/tls
if [ ! -f "$TLS/.ov-ready" ]; then
  log "making the test TLS certificates"
  rm -rf "$TLS"
  mkdir -p "$TLS"
  make_ca() {
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$TLS/$1.key" -out "$TLS/$1.pem" -days 3650 \
      -subj "/CN=$2" -addext "basicConstraints=critical,CA:TRUE" \
      -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
  }
  make_server() {  # name CA host
    openssl req -newkey rsa:2048 -nodes -keyout "$TLS/$1.key" -out "$TLS/$1.csr" -subj "/CN=$3" 2>/dev/null
    printf 'subjectAltName=DNS:%s\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\nkeyUsage=digitalSignature,keyEncipherment\n' \
      "$3" > "$TLS/$1.ext"
    openssl x509 -req -in "$TLS/$1.csr" -CA "$TLS/$2.pem" -CAkey "$TLS/$2.key" -CAcreateserial \
      -out "$TLS/$1.pem" -days 3650 -extfile "$TLS/$1.ext" 2>/dev/null
  }
  make_ca ca "OvSetup Test CA"
  make_ca rogue-ca "OvSetup Untrusted CA"
  make_server localhost ca localhost
  make_server otherhost ca other.example
  make_server untrusted rogue-ca localhost
  openssl x509 -in "$TLS/ca.pem" -outform der -out "$TLS/ca.der"
  touch "$TLS/.ov-ready"
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
# The dev tree's installers verify against the test key and accept releases
# from version 1.0 on (the end-to-end tests serve one below it); a tree
# configured otherwise is pointed at them again, keeping its other settings.
TEST_FLOOR=1.0
if [ ! -f "$BUILD/out/build.ninja" ]; then
  log "configuring the build tree"
  cmake -S "$ROOT" -B "$BUILD/out" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOV_DEPS_DIR="$DEPS" -DOV_PUBLISHER_KEYS="$TEST_PUBLIC_KEY" \
    -DOV_MIN_PACKAGE_VERSION="$TEST_FLOOR"
elif ! grep -qx "OV_PUBLISHER_KEYS:STRING=$TEST_PUBLIC_KEY" "$BUILD/out/CMakeCache.txt" ||
     ! grep -qx "OV_MIN_PACKAGE_VERSION:STRING=$TEST_FLOOR" "$BUILD/out/CMakeCache.txt"; then
  log "pointing the build tree at the test signing key and version floor"
  cmake -S "$ROOT" -B "$BUILD/out" -DOV_PUBLISHER_KEYS="$TEST_PUBLIC_KEY" -DOV_MIN_PACKAGE_VERSION="$TEST_FLOOR" >/dev/null
fi
log "ready"
