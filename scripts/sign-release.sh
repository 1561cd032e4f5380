#!/usr/bin/env bash
# Signs a release for the installer: the manifest and the package, each with a
# detached minisign signature beside it, after checking that the manifest
# describes this package and a release that installers accept. Prints what to
# upload where.
#
#   scripts/sign-release.sh [--expires DAYS] MANIFEST PACKAGE SECRET_KEY
#   scripts/sign-release.sh --check MANIFEST PACKAGE
#
# MANIFEST is the "ovinstall.txt" to publish (section [Install], keys Url,
# Size, Md5, Version, Expires, and optionally mirrors Url2 to Url9, which
# installers try in that order after Url, up to the first one missing);
# PACKAGE the "ovinstaller.exe" its Url (and every mirror) serves;
# SECRET_KEY the publisher's minisign secret key (minisign asks for its
# password, if it has one). --expires DAYS first writes Expires= (DAYS days
# from now, UTC) into the manifest; installers refuse a manifest once its
# Expires has passed, so sign and upload it again before then. --check reads
# and checks the manifest as the installer would, prints the values, and
# changes and signs nothing. Nothing is uploaded.
set -euo pipefail

usage() { sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
EXPIRES_DAYS= CHECK_ONLY=0
while [ $# -gt 0 ]; do
  case "$1" in
    --expires) [ $# -ge 2 ] || usage; EXPIRES_DAYS=$2; shift 2 ;;
    --check) CHECK_ONLY=1; shift ;;
    --) shift; break ;;
    -*) usage ;;
    *) break ;;
  esac
done
if [ "$CHECK_ONLY" = 1 ]; then
  [ $# -eq 2 ] && [ -z "$EXPIRES_DAYS" ] || usage
  MANIFEST=$1 PACKAGE=$2 KEY=
else
  [ $# -eq 3 ] || usage
  MANIFEST=$1 PACKAGE=$2 KEY=$3
fi
for f in "$MANIFEST" "$PACKAGE" ${KEY:+"$KEY"}; do
  [ -f "$f" ] || { echo "sign-release: no such file: $f" >&2; exit 2; }
done
if [ -n "$EXPIRES_DAYS" ] && ! [[ "$EXPIRES_DAYS" =~ ^[1-9][0-9]{0,3}$ ]]; then
  echo "sign-release: --expires takes a number of days (1 to 9999): $EXPIRES_DAYS" >&2
  exit 2
fi
[ "$CHECK_ONLY" = 1 ] || command -v minisign >/dev/null ||
  { echo "sign-release: minisign is not installed (apt-get install minisign)" >&2; exit 2; }

# The manifest's lines as the installer reads them (Updater/UpdateManifest.h):
# a line ends at CR or LF, and a byte-order mark at the start is skipped.
manifest_lines() {
  tr '\r' '\n' < "$MANIFEST" | sed '1s/^\xEF\xBB\xBF//'
}

# The installer's rules for one line, shared by reading and rewriting: blanks
# (space, tab, VT, FF, ^Z, no-break and ideographic space) around names and
# values, and inside a section's brackets, are dropped; names match without
# regard to case; the first section [Install] counts (state 1 inside it, 2
# after it); a line without "=" is the key with an empty value.
AWK_RULES='
  function trim(s) {
    gsub(/^([ \t\v\f\032]|\302\240|\343\200\200)+/, "", s)
    gsub(/([ \t\v\f\032]|\302\240|\343\200\200)+$/, "", s)
    return s
  }
  # 1 when the line was a section header (and updates state).
  function section(line,    i, name) {
    if (substr(line, 1, 1) != "[") return 0
    for (i = length(line); i > 1; i--)
      if (substr(line, i, 1) == "]") {
        name = tolower(trim(substr(line, 2, i - 2)))
        if (state == 1) state = 2; else if (state == 0 && name == "install") state = 1
        return 1
      }
    return 0
  }
  function key(line,    eq) { eq = index(line, "="); return tolower(trim(eq ? substr(line, 1, eq - 1) : line)) }
'

# The value of key $1 in the first [Install] section, its first occurrence; a
# value wholly in single or double quotes loses them.
manifest_value() {
  manifest_lines | awk -v want="$(printf '%s' "$1" | tr 'A-Z' 'a-z')" "$AWK_RULES"'
    { line = trim($0) }
    line == "" || section(line) || state != 1 { next }
    key(line) == want && !found {
      eq = index(line, "="); v = eq ? trim(substr(line, eq + 1)) : ""; q = substr(v, 1, 1)
      if (length(v) >= 2 && (q == "\"" || q == "\047") && substr(v, length(v)) == q) v = substr(v, 2, length(v) - 2)
      print v; found = 1
    }'
}

# Writes Expires=$1 as the first key of the first [Install] section, in place
# of any there; lines end in CR LF afterwards, and empty lines are dropped.
write_expires() {
  local bom= tmp
  [ "$(head -c 3 "$MANIFEST" | od -An -tx1 | tr -d ' ')" = efbbbf ] && bom=$'\xEF\xBB\xBF'
  tmp=$(mktemp "$MANIFEST.XXXXXX")
  { printf '%s' "$bom"; manifest_lines | awk -v expires="$1" "$AWK_RULES"'
      { line = trim($0) }
      line == "" { next }
      section(line) { printf "%s\r\n", $0; if (state == 1 && !done) { printf "Expires=%s\r\n", expires; done = 1 }; next }
      state == 1 && key(line) == "expires" { next }
      { printf "%s\r\n", $0 }
      END { if (!done) exit 1 }'; } > "$tmp" || { rm -f "$tmp"; echo "sign-release: the manifest has no [Install] section" >&2; exit 1; }
  mv "$tmp" "$MANIFEST"
}

if [ -n "$EXPIRES_DAYS" ]; then
  write_expires "$(date -u -d "+$EXPIRES_DAYS days" +%Y-%m-%dT%H:%M:%SZ)"
fi

URL=$(manifest_value Url)
# The mirrors as installers read them: Url2, Url3, ... up to the first missing.
MIRRORS=() gap=
for n in 2 3 4 5 6 7 8 9; do
  value=$(manifest_value "Url$n")
  if [ -z "$value" ]; then
    [ -n "$gap" ] || gap=$n
  elif [ -n "$gap" ]; then
    echo "sign-release: Url$n follows a missing Url$gap: installers stop at the first gap and never ask it" >&2
    MIRROR_GAP=1
  else
    MIRRORS+=("$value")
  fi
done
SIZE=$(manifest_value Size)
MD5=$(manifest_value Md5)
VERSION=$(manifest_value Version)
EXPIRES=$(manifest_value Expires)
ACTUAL_SIZE=$(stat -c %s "$PACKAGE")
ACTUAL_MD5=$(md5sum "$PACKAGE" | cut -d' ' -f1)
if [ "$CHECK_ONLY" = 1 ]; then
  printf 'Url=%s\n' "$URL"
  for i in "${!MIRRORS[@]}"; do printf 'Url%d=%s\n' $((i + 2)) "${MIRRORS[$i]}"; done
  printf 'Size=%s\nMd5=%s\nVersion=%s\nExpires=%s\n' "$SIZE" "$MD5" "$VERSION" "$EXPIRES"
fi

fail=${MIRROR_GAP:-0}
[ -n "$URL" ] || { echo "sign-release: the manifest names no Url" >&2; fail=1; }
# Every address of the package passes the same rules.
check_url() {
  case "$2" in
    http://*|https://*) ;;
    *) [ -z "$2" ] || { echo "sign-release: $1 must be http:// or https://: $2" >&2; fail=1; } ;;
  esac
}
check_url Url "$URL"
for i in "${!MIRRORS[@]}"; do check_url "Url$((i + 2))" "${MIRRORS[$i]}"; done
if [ "$SIZE" != "$ACTUAL_SIZE" ]; then
  echo "sign-release: the manifest says Size=$SIZE, the package has $ACTUAL_SIZE bytes" >&2
  fail=1
fi
if [ -z "$MD5" ]; then
  echo "sign-release: the manifest gives no Md5 (the package has $ACTUAL_MD5)" >&2
  fail=1
elif [ "$(printf '%s' "$MD5" | tr 'A-F' 'a-f')" != "$ACTUAL_MD5" ]; then
  echo "sign-release: the manifest says Md5=$MD5, the package has $ACTUAL_MD5" >&2
  fail=1
fi
# Installers compare versions part by part as numbers, against the lowest
# version they were built to accept.
if ! [[ "$VERSION" =~ ^[0-9]+(\.[0-9]+)*$ ]] || [ ${#VERSION} -gt 64 ]; then
  echo "sign-release: Version must be a dotted decimal such as 3.2.0 (installers refuse others): '$VERSION'" >&2
  fail=1
fi
if [ -z "$EXPIRES" ]; then
  echo "sign-release: the manifest has no Expires (installers refuse it): pass --expires DAYS" >&2
  fail=1
elif ! [[ "$EXPIRES" =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z$ ]] ||
     [ "$(date -u -d "${EXPIRES%Z} UTC" +%Y-%m-%dT%H:%M:%SZ 2>/dev/null)" != "$EXPIRES" ]; then
  echo "sign-release: Expires must be a UTC time written YYYY-MM-DDTHH:MM:SSZ: '$EXPIRES'" >&2
  fail=1
elif [ "$(date -u -d "${EXPIRES%Z} UTC" +%s)" -le "$(date -u +%s)" ]; then
  echo "sign-release: the manifest expired at $EXPIRES: pass --expires DAYS" >&2
  fail=1
fi
[ "$fail" = 0 ] || exit 1
[ "$CHECK_ONLY" = 0 ] || exit 0

# The trusted comments are signed too. The package's names the release's
# version, which installers require to be the manifest's (see
# Updater/ReleasePolicy.h for the format); the manifest's records the same.
minisign -S -s "$KEY" -m "$MANIFEST" -x "$MANIFEST.minisig" -t "version=$VERSION expires=$EXPIRES"
minisign -S -s "$KEY" -m "$PACKAGE" -x "$PACKAGE.minisig" -t "version=$VERSION size=$ACTUAL_SIZE md5=$ACTUAL_MD5"

signature_url() { printf '%s' "$1" | sed -E 's/^([^?#]*)/\1.minisig/'; }
cat <<OUT

Signed release $VERSION; its manifest expires at $EXPIRES (sign and upload it
again before then: installers refuse it afterwards). Upload, each signature
beside its file:
  $MANIFEST            -> <each manifest endpoint>/ovinstall.txt
  $MANIFEST.minisig    -> <each manifest endpoint>/ovinstall.txt.minisig
OUT
# Each mirror serves the same package and signature: installers fetch the
# signature from the address that served the bytes.
for address in "$URL" "${MIRRORS[@]}"; do
  printf '  %s    -> %s\n  %s.minisig    -> %s\n' "$PACKAGE" "$address" "$PACKAGE" "$(signature_url "$address")"
done
echo "Upload the package and its signature first, the manifest and its signature last."
