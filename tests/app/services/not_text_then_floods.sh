#!/bin/sh
# A few words, then bytes that are not UTF-8 on both streams, then far more than a pipe holds
# on each. A shell that stops draining a stream it no longer reads leaves this blocked for ever.
printf 'starting up\n' >&2
printf 'caf\351\n' >&2
head -c 300000 /dev/zero | tr '\0' e >&2
printf 'caf\351\n'
head -c 300000 /dev/zero | tr '\0' o
exit 4
