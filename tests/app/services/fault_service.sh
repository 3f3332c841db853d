#!/bin/sh
# A stand-in service that misbehaves as the fault suite's plan file ($HOME/fault-plan) says:
# hangs, corrupts or closes its streams, or announces an address and leaves.
read -r mode first second < "$HOME/fault-plan"

# $1 kilobytes of text without a line feed.
filler() { head -c "$(($1 * 1024))" /dev/zero | tr '\0' x; }

case "$mode" in
hang)
    [ "$first" = says-why ] && echo 'fault: stuck on start-up' >&2
    exec sleep 60
    ;;
bad-stdout)
    # Exits only once everything is written: a shell that stopped reading leaves it blocked.
    printf 'caf\351\n'
    filler "$first"
    printf '\n{"event":"ready","url":"http://127.0.0.1:9/"}\n'
    exit 4
    ;;
bad-stderr)
    echo 'fault: before the bad byte' >&2
    sleep 0.2
    printf '\351\n' >&2
    filler "$first" >&2
    exit 4
    ;;
close-pipes)
    case "$first" in
    both-exit) exec >&- 2>&-; sleep "$second"; exit 5 ;;
    stdout-only) exec >&-; sleep "$second"; echo 'fault: no standard output' >&2; exit 5 ;;
    both-live) exec >&- 2>&-; exec sleep 60 ;;
    esac
    ;;
ready-unserved)
    # Nothing listens on the discard port.
    printf '{"event":"ready","url":"http://127.0.0.1:9/"}\n'
    sleep "$first"
    exit 0
    ;;
esac
echo "fault: unknown plan $mode" >&2
exit 2
