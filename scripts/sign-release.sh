#!/usr/bin/env bash
# Signs a release for the installer: the manifest and the package, each with a
# detached minisign signature beside it, after checking that the manifest's
# Size and Md5 describe this package. Prints what to upload where.
#
#   scripts/sign-release.sh MANIFEST PACKAGE SECRET_KEY
#
# MANIFEST is the "ovinstall.txt" to publish (section [Install], keys Url,
# Size, Md5, Version); PACKAGE the "ovinstaller.exe" its Url names;
# SECRET_KEY the publisher's minisign secret key (minisign asks for its
# password, if it has one). Nothing is uploaded.
set -euo pipefail

if [ $# -ne 3 ]; then
  sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
fi
MANIFEST=$1 PACKAGE=$2 KEY=$3
for f in "$MANIFEST" "$PACKAGE" "$KEY"; do
  [ -f "$f" ] || { echo "sign-release: no such file: $f" >&2; exit 2; }
done
command -v minisign >/dev/null || { echo "sign-release: minisign is not installed (apt-get install minisign)" >&2; exit 2; }

# The value of KEY in section [Install], read the way the installer reads it
# (names without regard to case, blanks and surrounding quotes dropped, the
# first occurrence in the first such section).
manifest_value() {
  sed 's/^\xEF\xBB\xBF//; s/\r$//' "$MANIFEST" | awk -v want="$1" '
    function trim(s) { gsub(/^[ \t]+|[ \t]+$/, "", s); return s }
    /^[ \t]*\[/ { name = trim($0); sub(/^\[/, "", name); sub(/\][^\]]*$/, "", name)
                  if (state == 1) state = 2; else if (state == 0 && tolower(trim(name)) == "install") state = 1; next }
    state == 1 { eq = index($0, "="); key = trim(eq ? substr($0, 1, eq - 1) : $0)
                 if (tolower(key) == tolower(want)) { v = eq ? trim(substr($0, eq + 1)) : ""
                   if (length(v) >= 2 && (substr(v, 1, 1) == "\"" || substr(v, 1, 1) == "'\''") && substr(v, length(v)) == substr(v, 1, 1))
                     v = substr(v, 2, length(v) - 2)
                   print v; exit } }'
}

URL=$(manifest_value Url)
SIZE=$(manifest_value Size)
MD5=$(manifest_value Md5)
VERSION=$(manifest_value Version)
ACTUAL_SIZE=$(stat -c %s "$PACKAGE")
ACTUAL_MD5=$(md5sum "$PACKAGE" | cut -d' ' -f1)

fail=0
[ -n "$URL" ] || { echo "sign-release: the manifest names no Url" >&2; fail=1; }
case "$URL" in
  http://*|https://*) ;;
  *) [ -z "$URL" ] || { echo "sign-release: Url must be http:// or https://: $URL" >&2; fail=1; } ;;
esac
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
[ "$fail" = 0 ] || exit 1

# The trusted comment is signed too; it records what was released.
COMMENT="release ${VERSION:-?} $(basename "$PACKAGE") size=$ACTUAL_SIZE md5=$ACTUAL_MD5"
minisign -S -s "$KEY" -m "$MANIFEST" -x "$MANIFEST.minisig" -t "$COMMENT manifest"
minisign -S -s "$KEY" -m "$PACKAGE" -x "$PACKAGE.minisig" -t "$COMMENT"

PACKAGE_SIG_URL=$(printf '%s' "$URL" | sed -E 's/^([^?#]*)/\1.minisig/')
cat <<OUT

Signed. Upload, each signature beside its file:
  $MANIFEST            -> <each manifest endpoint>/ovinstall.txt
  $MANIFEST.minisig    -> <each manifest endpoint>/ovinstall.txt.minisig
  $PACKAGE    -> $URL
  $PACKAGE.minisig    -> $PACKAGE_SIG_URL
Upload the package and its signature first, the manifest and its signature last.
OUT
