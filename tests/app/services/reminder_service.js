#!/usr/bin/env node
// A stand-in local service for the reminder tests. Its page posts the reminder messages a test
// writes, one JSON object a line, to $HOME/page-commands.jsonl (an entry's `inMs` becomes
// `at` = now + inMs in the page), and records every reminder event it receives in
// $HOME/page-events.jsonl. POST api/reminders/action is recorded in $HOME/actions.jsonl and
// answered with the status in $HOME/action-status (200 when there is none).
'use strict';

const fs = require('fs');
const http = require('http');
const path = require('path');

const home = process.env.HOME;
const commandsFile = path.join(home, 'page-commands.jsonl');
const eventsFile = path.join(home, 'page-events.jsonl');
const actionsFile = path.join(home, 'actions.jsonl');
const statusFile = path.join(home, 'action-status');

const page = `<!doctype html>
<html><head><meta charset="utf-8"><title>Reminder test page</title></head>
<body><main><h1>Reminder test page</h1><p id="state">waiting</p></main>
<script>
window.addEventListener('lumory-desktop-flush', () =>
  window.webkit.messageHandlers.lumoryDesktopFlush.postMessage({ok: true}));
const names = ['lumory-reminder-native-result', 'lumory-reminder-delivered',
               'lumory-reminder-action', 'lumory-open-note'];
for (const name of names) {
  window.addEventListener(name, (event) => {
    document.getElementById('state').textContent = name;
    fetch('/test/events', {method: 'POST', body: JSON.stringify({name, detail: event.detail})});
  });
}
let done = 0;
async function poll() {
  try {
    const response = await fetch('/test/commands?after=' + done, {cache: 'no-store'});
    const commands = await response.json();
    for (const command of commands) {
      done += 1;
      if (Array.isArray(command.notifications)) {
        for (const entry of command.notifications) {
          if (typeof entry.inMs === 'number') {
            entry.at = Date.now() + entry.inMs;
            delete entry.inMs;
          }
        }
      }
      window.webkit.messageHandlers.lumoryDesktopReminders.postMessage(command);
    }
  } catch (error) {}
  setTimeout(poll, 100);
}
poll();
</script></body></html>`;

function readBody(request) {
  return new Promise((resolve) => {
    const chunks = [];
    request.on('data', (chunk) => chunks.push(chunk));
    request.on('end', () => resolve(Buffer.concat(chunks).toString('utf8')));
  });
}

function lines(file) {
  try {
    return fs.readFileSync(file, 'utf8').split('\n').filter((line) => line.trim() !== '');
  } catch (error) {
    return [];
  }
}

const server = http.createServer(async (request, response) => {
  const url = new URL(request.url, 'http://127.0.0.1');
  if (request.method === 'GET' && url.pathname === '/') {
    response.writeHead(200, {'content-type': 'text/html; charset=utf-8'});
    response.end(page);
  } else if (request.method === 'GET' && url.pathname === '/test/commands') {
    const after = Number(url.searchParams.get('after') || 0);
    const commands = lines(commandsFile).slice(after).map((line) => JSON.parse(line));
    response.writeHead(200, {'content-type': 'application/json', 'cache-control': 'no-store'});
    response.end(JSON.stringify(commands));
  } else if (request.method === 'POST' && url.pathname === '/test/events') {
    fs.appendFileSync(eventsFile, (await readBody(request)) + '\n');
    response.writeHead(204);
    response.end();
  } else if (request.method === 'POST' && url.pathname === '/api/reminders/action') {
    const body = await readBody(request);
    fs.appendFileSync(actionsFile, JSON.stringify({
      contentType: request.headers['content-type'] || '',
      body,
    }) + '\n');
    let status = 200;
    try {
      status = Number(fs.readFileSync(statusFile, 'utf8').trim()) || 200;
    } catch (error) {}
    response.writeHead(status, {'content-type': 'application/json'});
    response.end(status === 204 ? undefined : '{"ok":true}');
  } else {
    response.writeHead(404);
    response.end();
  }
});

server.listen(Number(process.env.PORT || 0), process.env.HOST || '127.0.0.1', () => {
  const {port} = server.address();
  process.stdout.write(JSON.stringify({event: 'ready', url: `http://127.0.0.1:${port}/`}) + '\n');
});
for (const signal of ['SIGTERM', 'SIGINT']) process.on(signal, () => process.exit(0));
