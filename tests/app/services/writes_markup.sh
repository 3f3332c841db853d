#!/bin/sh
# Fails with markup on standard error, which the failure page must show as text.
printf '  <b>bold</b> & <i>slanted</i> &amp;\n\n' >&2
exit 1
