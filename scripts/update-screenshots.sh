#!/usr/bin/env bash
# Makes the README's screenshots afresh: runs the end-to-end test of the shell with the reference
# service under Xvfb, which saves them in the test artifacts, and copies them to docs/screenshots/
# (scaled to 1200 pixels wide, so each stays small).
set -euo pipefail
cd "$(dirname "$0")/.."

artifacts=build/debug/test-artifacts/service
shots=(service-main-window service-reminder service-overlay service-failure)

scripts/install-deps.sh test
cmake --preset debug >/dev/null
cmake --build build/debug --target lumory lumory-cal lumory-audio service_xvfb_tests
for shot in "${shots[@]}"; do rm -f "$artifacts/$shot.png"; done
ctest --test-dir build/debug -R '^service_xvfb_tests$|^ServiceOnDisplayTest\.' --output-on-failure

mkdir -p docs/screenshots
for shot in "${shots[@]}"; do
  [[ -f "$artifacts/$shot.png" ]] || { echo "$shot.png was not made" >&2; exit 1; }
  convert "$artifacts/$shot.png" -resize 1200x -strip "docs/screenshots/$shot.png"
done
ls -l docs/screenshots
