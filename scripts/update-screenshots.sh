#!/usr/bin/env bash
# Makes the README's screenshots afresh: runs the end-to-end test of the shell with the reference
# service under Xvfb, and the GNOME Shell test whose reminder shows as GNOME's banner, which save
# them in the test artifacts, and copies them to docs/screenshots/ (scaled to 1200 pixels wide,
# so each stays small).
set -euo pipefail
cd "$(dirname "$0")/.."

artifacts=build/debug/test-artifacts/service
shots=(service-main-window service-reminder service-overlay service-failure service-dark)
gnome_artifacts=build/debug/test-artifacts/app
# GNOME Shell's banner with its buttons, as the reminder test leaves it.
gnome_shot=gnome-shell-banner-buttons
gnome_case=GnomeShellTest.RemindersShowAsGnomeBannersWhoseButtonsReachTheService

scripts/install-deps.sh test
cmake --preset debug >/dev/null
cmake --build build/debug --target lumory lumory-cal lumory-audio service_xvfb_tests \
  app_gnome_shell_tests
for shot in "${shots[@]}"; do rm -f "$artifacts/$shot.png"; done
rm -f "$gnome_artifacts/$gnome_shot.png"
ctest --test-dir build/debug -R '^service_xvfb_tests$|^ServiceOnDisplayTest\.' --output-on-failure
# GNOME Shell runs as its own test user, which needs root.
build/debug/tests/app/app_gnome_shell_tests --gtest_filter="$gnome_case"

mkdir -p docs/screenshots
for shot in "${shots[@]}"; do
  [[ -f "$artifacts/$shot.png" ]] || { echo "$shot.png was not made" >&2; exit 1; }
  convert "$artifacts/$shot.png" -resize 1200x -strip "docs/screenshots/$shot.png"
done
[[ -f "$gnome_artifacts/$gnome_shot.png" ]] || { echo "$gnome_shot.png was not made" >&2; exit 1; }
convert "$gnome_artifacts/$gnome_shot.png" -resize 1200x -strip docs/screenshots/gnome-shell-banner.png
ls -l docs/screenshots
