#!/usr/bin/env bash
# Builds Lumory with its tests and runs them all: unit tests, integration tests against private
# services (display, session bus, calendar database, sound server), and the short fuzz runs; then
# builds everything again under AddressSanitizer and UndefinedBehaviorSanitizer and runs the same
# suite, failing on any report.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test
cmake --preset debug >/dev/null
cmake --build --preset debug
cmake --install build/debug --prefix build/debug/stage >/dev/null
ctest --preset debug "$@"

# Every sanitized process the tests start, helpers and the shell included, writes its report to
# build/asan/sanitizer-report.<program>.<pid> (the preset's options), so a report from a process
# whose standard error nobody reads still fails the run. Freed memory held back to catch late
# uses is kept to 16 MB, so the tests that bound the shell's memory measure the shell.
cmake --preset asan >/dev/null
cmake --build --preset asan
cmake --install build/asan --prefix build/asan/stage >/dev/null
rm -f build/asan/sanitizer-report.*
status=0
ctest --preset asan "$@" || status=$?
shopt -s nullglob
reports=(build/asan/sanitizer-report.*)
if ((${#reports[@]} > 0)); then
    for report in "${reports[@]}"; do
        echo "=== $report"
        cat "$report"
    done
    echo "${#reports[@]} sanitizer report(s) under build/asan" >&2
    status=1
fi
exit "$status"
