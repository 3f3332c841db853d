#!/usr/bin/env bash
# Runs a command inside a private session bus with its own Evolution Data Server, in fresh XDG
# folders that are removed afterwards. The bus activates the source registry and the calendar
# factory on first use; when the command ends, dbus-run-session ends the bus and every service
# it started.
#   tests/support/eds/eds_session.sh [--limit SECONDS] COMMAND [ARGS...]
# The command's exit status is returned; 124 when it ran past the limit (default 240 s).
set -euo pipefail

limit=240
if [[ "${1:-}" == "--limit" ]]; then
  limit=$2
  shift 2
fi
[[ $# -gt 0 ]] || { echo "usage: $0 [--limit SECONDS] COMMAND [ARGS...]" >&2; exit 2; }

root=$(mktemp -d "${TMPDIR:-/tmp}/lumory-eds.XXXXXX")
# Processes of this session: they, and only they, carry its private folders in their environment.
session_pids() {
  local environ pid
  for environ in /proc/[0-9]*/environ; do
    pid=${environ#/proc/}
    pid=${pid%/environ}
    if grep -qzx -- "XDG_RUNTIME_DIR=$root/run" "$environ" 2>/dev/null; then echo "$pid"; fi
  done
  return 0
}
cleanup() {
  # EDS services leave when the bus goes; any that linger a moment later are ended.
  set +e
  local pids
  sleep 0.2
  pids=$(session_pids)
  if [[ -n "$pids" ]]; then
    kill $pids 2>/dev/null || true
    sleep 0.5
    pids=$(session_pids)
    [[ -n "$pids" ]] && kill -9 $pids 2>/dev/null
  fi
  rm -rf "$root"
}
trap cleanup EXIT
mkdir -p "$root/config" "$root/data" "$root/cache" "$root/run"
chmod 700 "$root/run"

# The sanitizer build's report settings reach the tests and the helpers they start. EDS's
# libraries have no frame pointers, so the quick unwinder stops inside GLib and their lasting
# allocations would look like anyone's: here stacks are unwound in full, so the suppressions
# can tell the library's from ours.
sanitizer_env=()
for name in ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS; do
  if [[ -n ${!name:-} ]]; then sanitizer_env+=("$name=${!name}"); fi
done
if [[ -n ${ASAN_OPTIONS:-} ]]; then
  sanitizer_env+=("ASAN_OPTIONS=$ASAN_OPTIONS:fast_unwind_on_malloc=0")
fi

set +e
env -i PATH=/usr/bin:/bin HOME="$root" USER="${USER:-lumory}" \
  XDG_CONFIG_HOME="$root/config" XDG_DATA_HOME="$root/data" XDG_CACHE_HOME="$root/cache" \
  XDG_RUNTIME_DIR="$root/run" GSETTINGS_BACKEND=memory LANG=C.UTF-8 TZ="${TZ:-UTC}" \
  "${sanitizer_env[@]}" ${LUMORY_EDS_EXTRA_ENV:-} \
  timeout --kill-after=5 "$limit" dbus-run-session -- "$@"
status=$?
set -e
exit $status
