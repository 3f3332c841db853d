#!/bin/sh
# Announces a page that is orange all over, easy to find on a screenshot.
printf '%s\n' '{"event":"ready","url":"data:text/html,%3Cbody%20style=%22background:%23fe5b02%22%3E%3Cp%3EOrange%3C/p%3E"}'
exec sleep 120
