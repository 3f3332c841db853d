#!/usr/bin/env node
// A stand-in service for the live overlay's end-to-end tests: a main page whose button asks for
// the overlay and which reports every click in its title, and an overlay page (?live=overlay)
// with a .live-head bar. It announces its address with a query of its own, which the overlay's
// address must drop.
'use strict';

const http = require('http');

const mainPage = `<!doctype html>
<html><head><meta charset="utf-8"><title>main ready</title>
<style>
  html, body { margin: 0; height: 100%; background: #eef1f5; font: 16px sans-serif; }
  #open { position: fixed; left: 40px; top: 40px; width: 200px; height: 60px; }
</style></head>
<body>
<button id="open">Open overlay</button>
<script>
  window.addEventListener('lumory-desktop-flush', () =>
    window.webkit.messageHandlers.lumoryDesktopFlush.postMessage({ok: true}));
  let clicks = 0;
  document.getElementById('open').addEventListener('click', () => {
    window.webkit.messageHandlers.lumoryDesktopOverlay.postMessage({action: 'open'});
  });
  document.addEventListener('mousedown', (event) => {
    if (event.target.id === 'open') return;
    document.title = 'main clicked ' + (++clicks);
  });
</script>
</body></html>`;

const overlayPage = `<!doctype html>
<html><head><meta charset="utf-8"><title>overlay ready</title>
<style>
  html, body { margin: 0; height: 100%; background: transparent; font: 15px sans-serif; }
  .panel { box-sizing: border-box; height: 100%; display: flex; flex-direction: column;
           background: rgba(8, 27, 66, 0.78); color: #f4f6fb; border-radius: 14px; }
  .live-head { height: 48px; display: flex; align-items: center; gap: 10px; padding: 0 14px;
               background: rgba(254, 91, 2, 0.92); border-radius: 14px 14px 0 0;
               user-select: none; }
  .live-head span { flex: 1; font-weight: 600; }
  /* Fixed widths: the tests click them by position (right end of the bar: close, then through). */
  #through { width: 110px; height: 30px; }
  #close { width: 70px; height: 30px; }
  main { flex: 1; padding: 18px; }
</style></head>
<body>
<div class="panel">
  <div class="live-head"><span>Live</span><button id="through">Click through</button>
    <button id="close">Close</button></div>
  <main>Live overlay</main>
</div>
<script>
  let clicks = 0;
  const post = (body) => window.webkit.messageHandlers.lumoryDesktopOverlay.postMessage(body);
  document.getElementById('through').addEventListener('click', () => {
    post({action: 'clickThrough', value: true});
  });
  document.getElementById('close').addEventListener('click', () => post({action: 'close'}));
  document.addEventListener('mousedown', (event) => {
    if (event.target.closest('.live-head')) return;
    document.title = 'overlay clicked ' + (++clicks);
  });
</script>
</body></html>`;

const server = http.createServer((request, response) => {
  const url = new URL(request.url, 'http://127.0.0.1');
  const page = url.searchParams.get('live') === 'overlay' ? overlayPage : mainPage;
  response.writeHead(200, {'Content-Type': 'text/html; charset=utf-8'});
  response.end(page);
});

server.listen(0, '127.0.0.1', () => {
  const {port} = server.address();
  process.stdout.write(JSON.stringify({event: 'ready',
                                       url: `http://127.0.0.1:${port}/?session=abc`}) + '\n');
});

for (const signal of ['SIGTERM', 'SIGINT']) process.on(signal, () => process.exit(0));
