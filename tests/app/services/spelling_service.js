#!/usr/bin/env node
// A stand-in service for the spelling tests: one big-lettered text field at a fixed place, whose
// value lands in the page's title (as JSON) on every change, for the shell's test probe.
'use strict';

const http = require('http');

const page = `<!doctype html>
<html>
<head><meta charset="utf-8"><title>Spelling page</title>
<style>
  body { margin: 0; background: #ffffff; }
  #notes { position: absolute; left: 40px; top: 40px; width: 900px; height: 400px; margin: 0;
           padding: 0; border: none; outline: none; resize: none; background: #ffffff;
           color: #000000; caret-color: transparent; font: 48px/80px "DejaVu Sans", sans-serif; }
</style></head>
<body>
<textarea id="notes" autofocus></textarea>
<script>
  const notes = document.getElementById('notes');
  notes.addEventListener('input', () => { document.title = 'value:' + JSON.stringify(notes.value); });
  window.addEventListener('lumory-desktop-flush', () => {
    window.webkit.messageHandlers.lumoryDesktopFlush.postMessage({ ok: true });
  });
</script>
</body>
</html>
`;

const server = http.createServer((request, response) => {
  response.writeHead(200, { 'content-type': 'text/html; charset=utf-8' });
  response.end(page);
});
server.listen(Number(process.env.PORT || 0), '127.0.0.1', () => {
  const url = `http://127.0.0.1:${server.address().port}/`;
  process.stdout.write(JSON.stringify({ event: 'ready', url }) + '\n');
});
for (const signal of ['SIGTERM', 'SIGINT']) process.on(signal, () => process.exit(0));
