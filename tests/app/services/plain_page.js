#!/usr/bin/env node
// A stand-in service: serves one plain page, announces it, and answers the shell's save request.
'use strict';

const http = require('http');

const page = `<!doctype html>
<html>
<head><meta charset="utf-8"><title>Lumory</title>
<style>body { margin: 0; padding: 48px; font: 15px sans-serif; background: #f7f8fa;
              color: #081b42; }</style></head>
<body>
<h1>Plain test page</h1>
<p>Served by a stand-in service.</p>
<script>
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
