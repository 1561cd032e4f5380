#!/usr/bin/env bash
# Real signature files for the signature tests, made with Debian's minisign
# and the test keys of scripts/setup.sh: KEYS_DIR OUT_DIR.
set -euo pipefail
keys=$1 out=$2
mkdir -p "$out"
# 300 kB of varied bytes, so the hash runs over several read chunks' worth of
# data in small tests too.
python3 -c "import sys; sys.stdout.buffer.write(bytes((i * 7919 + i // 251) & 0xFF for i in range(300000)))" > "$out/data.bin"
sign() {  # key output trusted-comment [extra minisign options]
  local key=$1 sig=$2 comment=$3
  shift 3
  rm -f "$sig"
  minisign -S -s "$keys/$key.key" -m "$out/data.bin" -x "$sig" -t "$comment" "$@" </dev/null >/dev/null
}
# minisign's own kind of trusted comment, which names no release.
sign test "$out/data.bin.minisig" "timestamp:1 file:data.bin hashed"
sign other "$out/data.bin.other.minisig" "timestamp:1 file:data.bin hashed"
sign test "$out/data.bin.legacy.minisig" "timestamp:1 file:data.bin hashed" -l
# Releases, named the way scripts/sign-release.sh names them.
for version in 1.9 2.0 10.1; do
  sign test "$out/data.bin.v$version.minisig" "version=$version size=300000"
done
