#!/bin/sh
# Once the test creates $HOME/flood: 128 MB on standard output without a line feed, then a
# ready line for a small page. The shell must drop the long line, not keep it.
tries=0
while [ ! -e "$HOME/flood" ] && [ $tries -lt 600 ]; do
  sleep 0.05
  tries=$((tries + 1))
done
head -c 134217728 /dev/zero | tr '\0' x
printf '\n{"event":"ready","url":"data:text/html,%%3Ctitle%%3Eflood%%3C/title%%3EStill%%20here"}\n'
exec sleep 120
