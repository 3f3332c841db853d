#!/usr/bin/env node
// Lumory's reference local service: serves the page the desktop shell shows and answers the
// shell's reminder hand-over. Node 18 built-ins only.
'use strict';

const http = require('http');

const host = process.env.HOST || '127.0.0.1';
const portText = process.env.PORT === undefined ? '43981' : process.env.PORT;
const port = /^\d{1,5}$/.test(portText) ? Number(portText) : NaN;
const parentPid = Number.parseInt(process.env.LUMORY_PARENT_PID || '', 10);
const maxBodyBytes = 64 * 1024;
const parentCheckMs = 1000;

const page = `<!doctype html>
<html>
<head>
<meta charset="utf-8">
<meta name="color-scheme" content="light dark">
<title>Lumory</title>
<style>
  body { margin: 0; height: 100vh; display: grid; grid-template-columns: 240px 1fr;
         font: 14px system-ui, sans-serif; color: light-dark(#081b42, #f4f6fb);
         background: light-dark(#ffffff, #111827); }
  #sidebar { background: light-dark(#f2f4f7, #0b1220); padding: 44px 16px 16px; }
  #sidebar nav a { display: block; padding: 6px 8px; border-radius: 6px; color: inherit;
                   text-decoration: none; }
  #sidebar nav a:hover { background: light-dark(#e4e8ee, #1c2536); }
  section { display: grid; grid-template-rows: 48px 1fr; min-width: 0; }
  #topbar { display: flex; align-items: center; gap: 12px; padding: 0 20px;
            border-bottom: 1px solid light-dark(#e4e8ee, #1f2937); user-select: none; }
  .workspace-brand { font-weight: 600; }
  .workspace-brand::before { content: ""; display: inline-block; width: 9px; height: 9px;
                             margin-right: 8px; border-radius: 50%; background: #fe5b02; }
  main { padding: 24px; }
  #last-command { color: light-dark(#536179, #b8c0ce); }
</style>
</head>
<body>
<aside id="sidebar">
  <nav><a href="#today">Today</a><a href="#tomorrow">Tomorrow</a><a href="#notes">Notes</a></nav>
</aside>
<section>
  <header id="topbar"><span class="workspace-brand">Lumory workspace</span></header>
  <main>
    <h1>Today</h1>
    <p>The local service is running.</p>
    <p id="last-command">No desktop command yet.</p>
  </main>
</section>
<script>
  window.addEventListener('lumory-desktop-command', (event) => {
    document.getElementById('last-command').textContent = 'Desktop command: ' + event.detail;
    document.title = 'Lumory (' + event.detail + ')';
  });
</script>
</body>
</html>
`;

function send(response, status, type, body) {
  response.writeHead(status, { 'Content-Type': type, 'Cache-Control': 'no-store' });
  response.end(body);
}

function handleReminderAction(request, response) {
  let size = 0;
  let tooLarge = false;
  request.on('data', (chunk) => {
    size += chunk.length;
    if (size > maxBodyBytes) tooLarge = true;
  });
  request.on('end', () => {
    if (tooLarge) send(response, 413, 'application/json', '{"error":"too large"}');
    else send(response, 200, 'application/json', '{"ok":true}');
  });
}

const server = http.createServer((request, response) => {
  const path = new URL(request.url, 'http://localhost').pathname;
  if (request.method === 'POST' && path === '/api/reminders/action') {
    handleReminderAction(request, response);
  } else if (request.method === 'GET' && path === '/') {
    send(response, 200, 'text/html; charset=utf-8', page);
  } else {
    send(response, 404, 'text/plain; charset=utf-8', 'Not found\n');
  }
});

server.on('error', (error) => {
  process.stderr.write(`lumory-server: ${error.message}\n`);
  process.exit(1);
});

if (!(port >= 0 && port <= 65535)) {
  process.stderr.write(`lumory-server: PORT must be a number from 0 to 65535, not "${portText}"\n`);
  process.exit(1);
}

server.listen(port, host, () => {
  const address = server.address();
  const url = `http://${host}:${address.port}/`;
  process.stdout.write(JSON.stringify({ event: 'ready', url }) + '\n');
});

function stop() {
  server.close();
  process.exit(0);
}
process.on('SIGTERM', stop);
process.on('SIGINT', stop);

// The shell normally stops the service itself; this covers a shell that vanished.
if (Number.isInteger(parentPid) && parentPid > 0) {
  setInterval(() => {
    try {
      process.kill(parentPid, 0);
    } catch (error) {
      if (error.code === 'ESRCH') stop();
    }
  }, parentCheckMs).unref();
}
