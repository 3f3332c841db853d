#!/bin/sh
# Announces a small page whose title is its own size ("WIDTHxHEIGHT"), kept up to date; it
# answers the quit-time save at once.
printf '%s\n' '{"event":"ready","url":"data:text/html,%3Cp%3EThe%20page%20reports%20its%20size.%3C/p%3E%3Cscript%3Efunction%20r()%7Bdocument.title=innerWidth+%22x%22+innerHeight%7Donresize=r;r();addEventListener(%27lumory-desktop-flush%27,function(){webkit.messageHandlers.lumoryDesktopFlush.postMessage({ok:true})})%3C/script%3E"}'
exec sleep 120
