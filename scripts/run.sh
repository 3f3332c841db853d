#!/usr/bin/env bash
# Builds Lumory in release mode, installs it into build/release/stage and starts it with the
# reference service. Extra arguments go to the shell.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh run
cmake --preset release >/dev/null
cmake --build --preset release
cmake --install build/release --prefix build/release/stage >/dev/null
exec build/release/stage/bin/lumory "$@"
