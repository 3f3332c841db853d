#!/usr/bin/env bash
# Builds Lumory with its tests and runs them all: unit tests, integration tests against private
# services (display, session bus, calendar database, sound server), and the short fuzz runs.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test
cmake --preset debug >/dev/null
cmake --build --preset debug
cmake --install build/debug --prefix build/debug/stage >/dev/null
ctest --preset debug "$@"
