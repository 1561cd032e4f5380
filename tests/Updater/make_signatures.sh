#!/usr/bin/env bash
# Real signature files for the signature tests, made with Debian's minisign
# and the test keys of scripts/setup.sh: KEYS_DIR OUT_DIR.
set -euo pipefail
keys=$1 out=$2
mkdir -p "$out"
# 300 kB of varied bytes, so the hash runs over several read chunks' worth of
# data in small tests too.
python3 -c "import sys; sys.stdout.buffer.write(bytes((i * 7919 + i // 251) & 0xFF for i in range(300000)))" > "$out/data.bin"
sign() {  # key output [extra minisign options]
  local key=$1 sig=$2
  shift 2
  rm -f "$sig"
  minisign -S -s "$keys/$key.key" -m "$out/data.bin" -x "$sig" -t "timestamp:1 file:data.bin hashed" "$@" </dev/null >/dev/null
}
sign test "$out/data.bin.minisig"
sign other "$out/data.bin.other.minisig"
sign test "$out/data.bin.legacy.minisig" -l
