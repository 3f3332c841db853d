#!/usr/bin/env node
// A service whose page keeps one note and saves it to disk when the shell asks it to flush.
// LUMORY_WORKSPACE: the folder for note.txt and stopped.txt (the signal that ended the service).
// LUMORY_CONFIG: how the page answers the flush: "save" (default), "silent" (never answers) or
// "error" (answers that the note could not be saved); "+helper" after it also starts a helper
// that ignores every signal but SIGKILL, as a helper stuck in its work would, and writes its
// process id to helper.pid.
'use strict';
const fs = require('fs');
const http = require('http');
const path = require('path');

const workspace = process.env.LUMORY_WORKSPACE || process.env.HOME;
const [mode, withHelper] = (process.env.LUMORY_CONFIG || 'save').split('+');

const page = `<!doctype html>
<meta charset="utf-8">
<title>Note</title>
<style>body{margin:0;font:16px sans-serif}textarea{box-sizing:border-box;width:100vw;height:100vh;border:0;padding:24px;font:inherit}</style>
<textarea id="note" autofocus placeholder="Type a note"></textarea>
<script>
const mode = ${JSON.stringify(mode)};
const note = document.getElementById('note');
note.addEventListener('input', () => { document.title = 'typed:' + note.value; });
const answer = (body) => window.webkit.messageHandlers.lumoryDesktopFlush.postMessage(body);
window.addEventListener('lumory-desktop-flush', async () => {
  document.title = 'flushing';
  if (mode === 'silent') return;
  if (mode === 'error') {
    answer({ok: false, error: 'The workspace is read-only.'});
    return;
  }
  const response = await fetch('/save', {method: 'POST', body: note.value});
  answer(response.ok ? {ok: true} : {ok: false, error: 'The service answered ' + response.status});
});
</script>`;

const server = http.createServer((request, response) => {
  if (request.method === 'POST' && request.url === '/save') {
    const chunks = [];
    request.on('data', (chunk) => chunks.push(chunk));
    request.on('end', () => {
      fs.writeFileSync(path.join(workspace, 'note.txt'), Buffer.concat(chunks));
      response.writeHead(204);
      response.end();
    });
    return;
  }
  response.writeHead(200, {'Content-Type': 'text/html; charset=utf-8'});
  response.end(page);
});

if (withHelper === 'helper') {
  const ignoring = "for (const s of ['SIGINT', 'SIGHUP', 'SIGTERM']) process.on(s, () => {});" +
    'setInterval(() => {}, 1000);';
  const helper = require('child_process').spawn(
    process.execPath, ['-e', ignoring, path.join(workspace, 'helper')], {stdio: 'ignore'});
  fs.writeFileSync(path.join(workspace, 'helper.pid'), String(helper.pid));
}

for (const signal of ['SIGTERM', 'SIGINT']) {
  process.on(signal, () => {
    fs.writeFileSync(path.join(workspace, 'stopped.txt'), signal);
    process.exit(0);
  });
}

server.listen(Number(process.env.PORT || 0), process.env.HOST || '127.0.0.1', () => {
  const address = server.address();
  process.stdout.write(JSON.stringify({event: 'ready', url: `http://127.0.0.1:${address.port}/`}) + '\n');
});
