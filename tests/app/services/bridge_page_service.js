#!/usr/bin/env node
// A stand-in service for the page-bridge tests: a page with a sidebar, a top bar with a button
// in it, links that leave or stay, and buttons that open alert, confirm and prompt. Every
// result lands in the page's title, which the shell's test probe reports. Element positions
// are fixed so tests can click them.
'use strict';

const http = require('http');

const page = (title) => `<!doctype html>
<html>
<head>
<meta charset="utf-8">
<title>${title}</title>
<style>
  body { margin: 0; font: 14px sans-serif; background: #ffffff; }
  #sidebar { position: fixed; left: 0; top: 0; width: 240px; bottom: 0; background: #e8ecf2; }
  #topbar { position: fixed; left: 240px; right: 0; top: 0; height: 48px; background: #f6f7f9;
            border-bottom: 1px solid #d0d4da; }
  #topbar-button { position: absolute; left: 300px; top: 8px; width: 120px; height: 32px; }
  .action { position: absolute; left: 300px; width: 240px; height: 30px; display: block;
            box-sizing: border-box; border: 1px solid #99a; background: #eef; }
</style>
</head>
<body>
<aside id="sidebar"></aside>
<header id="topbar"><button id="topbar-button">Top bar button</button></header>
<a class="action" style="top: 100px" href="https://outside.invalid/elsewhere">outside</a>
<a class="action" style="top: 140px" href="/second" target="_blank">second in a new window</a>
<a class="action" style="top: 180px" href="https://outside.invalid/blank" target="_blank">outside in a new window</a>
<a class="action" style="top: 220px" href="mailto:someone@outside.invalid">mail</a>
<a class="action" style="top: 260px" href="file:///etc/hostname">file</a>
<button class="action" style="top: 300px" id="alert">alert</button>
<button class="action" style="top: 340px" id="confirm">confirm</button>
<button class="action" style="top: 380px" id="prompt">prompt</button>
<button class="action" style="top: 420px" id="prompt-default">prompt with default</button>
<button class="action" style="top: 460px" id="open-blob">open a blob window</button>
<script>
  window.addEventListener('lumory-desktop-flush', () =>
    window.webkit.messageHandlers.lumoryDesktopFlush.postMessage({ok: true}));
  const show = (text) => { document.title = text; };
  document.getElementById('alert').onclick = () => { alert('Saved.'); show('alert:done'); };
  document.getElementById('confirm').onclick = () => show('confirm:' + confirm('Delete it?'));
  document.getElementById('prompt').onclick = () =>
    show('prompt:' + JSON.stringify(prompt('Name?')));
  document.getElementById('prompt-default').onclick = () =>
    show('prompt:' + JSON.stringify(prompt('Name?', 'draft')));
  document.getElementById('open-blob').onclick = () => {
    const url = URL.createObjectURL(new Blob(['x'], {type: 'text/plain'}));
    show('blob-window:' + (window.open(url) === null ? 'none' : 'opened'));
  };
  document.getElementById('topbar-button').onclick = () => show('topbar-button:clicked');
</script>
</body>
</html>
`;

const server = http.createServer((request, response) => {
  const path = new URL(request.url, 'http://localhost').pathname;
  const title = path === '/second' ? 'Second page' : 'Bridge page';
  response.writeHead(200, {'Content-Type': 'text/html; charset=utf-8', 'Cache-Control': 'no-store'});
  response.end(page(title));
});

server.listen(Number(process.env.PORT || 0), '127.0.0.1', () => {
  const url = `http://127.0.0.1:${server.address().port}/`;
  process.stdout.write(JSON.stringify({event: 'ready', url}) + '\n');
});

const stop = () => process.exit(0);
process.on('SIGTERM', stop);
process.on('SIGINT', stop);
const parent = Number.parseInt(process.env.LUMORY_PARENT_PID || '', 10);
if (parent > 0) {
  setInterval(() => {
    try {
      process.kill(parent, 0);
    } catch (error) {
      stop();
    }
  }, 1000).unref();
}
