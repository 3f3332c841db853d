#!/usr/bin/env node
// A stand-in service for the scale and screen-reader tests: a notes page with a sidebar (where
// the window buttons go), readable text, a text field, stripes half a CSS pixel wide (sharp only
// when the page is drawn at device resolution) and a button that opens the overlay. Both pages
// put their device pixel ratio and size in their titles, kept up to date.
'use strict';

const http = require('http');

const stripes = Array.from({length: 16}, (_, i) =>
  `<i style="background: ${i % 2 ? '#ffffff' : '#000000'}"></i>`).join('');

const mainPage = `<!doctype html>
<html lang="en"><head><meta charset="utf-8"><title>main</title>
<style>
  html, body { margin: 0; height: 100%; background: #ffffff; font: 16px sans-serif; }
  #sidebar { position: fixed; left: 0; top: 0; width: 240px; bottom: 0; background: #e8ecf2; }
  #stripes { position: absolute; left: 300px; top: 100px; height: 40px; display: flex; }
  #stripes i { display: block; width: 0.5px; height: 40px; }
  #notes { position: absolute; left: 300px; top: 160px; width: 500px; margin: 0; }
  #note { position: absolute; left: 300px; top: 230px; width: 300px; height: 30px; }
  #open { position: absolute; left: 300px; top: 300px; width: 500px; height: 240px;
          font-size: 24px; }
</style></head>
<body>
<nav id="sidebar"><a href="#today">Today</a></nav>
<div id="stripes">${stripes}</div>
<p id="notes">Buy oat milk before the meeting with Ada.</p>
<input id="note" aria-label="New note" value="">
<button id="open">Open overlay</button>
<script>
  window.addEventListener('lumory-desktop-flush', () =>
    window.webkit.messageHandlers.lumoryDesktopFlush.postMessage({ok: true}));
  const report = () => {
    document.title = 'main dpr=' + window.devicePixelRatio + ' ' + innerWidth + 'x' + innerHeight +
        ' font=' + getComputedStyle(document.getElementById('notes')).fontSize;
  };
  window.addEventListener('resize', report);
  report();
  document.getElementById('open').addEventListener('click', () =>
    window.webkit.messageHandlers.lumoryDesktopOverlay.postMessage({action: 'open'}));
</script>
</body></html>`;

const overlayPage = `<!doctype html>
<html lang="en"><head><meta charset="utf-8"><title>overlay</title>
<style>
  html, body { margin: 0; height: 100%; background: #081b42; color: #f4f6fb; font: 15px sans-serif; }
</style></head>
<body>
<main>Live captions</main>
<script>
  const report = () => {
    document.title = 'overlay dpr=' + window.devicePixelRatio + ' ' + innerWidth + 'x' +
        innerHeight;
  };
  window.addEventListener('resize', report);
  report();
</script>
</body></html>`;

const server = http.createServer((request, response) => {
  const url = new URL(request.url, 'http://127.0.0.1');
  const page = url.searchParams.get('live') === 'overlay' ? overlayPage : mainPage;
  response.writeHead(200, {'Content-Type': 'text/html; charset=utf-8', 'Cache-Control': 'no-store'});
  response.end(page);
});

server.listen(0, '127.0.0.1', () => {
  const {port} = server.address();
  process.stdout.write(JSON.stringify({event: 'ready', url: `http://127.0.0.1:${port}/`}) + '\n');
});

for (const signal of ['SIGTERM', 'SIGINT']) process.on(signal, () => process.exit(0));
const parent = Number.parseInt(process.env.LUMORY_PARENT_PID || '', 10);
if (parent > 0) {
  setInterval(() => {
    try {
      process.kill(parent, 0);
    } catch (error) {
      process.exit(0);
    }
  }, 1000).unref();
}
