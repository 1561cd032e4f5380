#!/usr/bin/env bash
# The installer's main job, end to end against a local server. The installer
# program itself is not built yet; until it is, this only prepares the machine.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$ROOT/scripts/setup.sh"
echo "The installer program is not part of the build yet; the demo arrives with it."
echo "Run ./scripts/test.sh to run the tests."
