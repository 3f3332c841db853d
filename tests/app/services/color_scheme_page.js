#!/usr/bin/env node
// A stand-in service whose page says in its title which colour scheme the web view gives it
// ("Lumory dark" or "Lumory light"), again at every change, and draws its background by it.
'use strict';

const http = require('http');

const page = `<!doctype html>
<html>
<head><meta charset="utf-8"><meta name="color-scheme" content="light dark"><title>Lumory</title>
<style>body { margin: 0; padding: 48px; font: 15px sans-serif;
              background: light-dark(#f7f8fa, #111827); color: light-dark(#081b42, #f4f6fb); }
</style></head>
<body>
<h1>Colour scheme test page</h1>
<script>
  const dark = window.matchMedia('(prefers-color-scheme: dark)');
  const show = () => { document.title = dark.matches ? 'Lumory dark' : 'Lumory light'; };
  dark.addEventListener('change', show);
  show();
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
