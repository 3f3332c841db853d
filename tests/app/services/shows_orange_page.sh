#!/bin/sh
# Announces a page that is orange all over, easy to find on a screenshot; it answers the
# quit-time save at once.
printf '%s\n' '{"event":"ready","url":"data:text/html,%3Cbody%20style=%22background:%23fe5b02%22%3E%3Cp%3EOrange%3C/p%3E%3Cscript%3EaddEventListener(%27lumory-desktop-flush%27,function(){webkit.messageHandlers.lumoryDesktopFlush.postMessage({ok:true})})%3C/script%3E"}'
exec sleep 120
