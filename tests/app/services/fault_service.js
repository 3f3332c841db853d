#!/usr/bin/env node
// A stand-in service that misbehaves as the fault suite's plan file ($HOME/fault-plan) says:
// dies at a chosen moment, writes its ready line slowly, floods or corrupts its streams, never
// answers for its page, or will not stop.
'use strict';

const fs = require('fs');
const http = require('http');

const [mode, ...args] = fs.readFileSync(`${process.env.HOME}/fault-plan`, 'utf8').trim().split(' ');

// Answers the shell's save request before quitting, as the real page does.
const page = '<!doctype html><html><head><meta charset="utf-8"><title>Lumory</title></head>' +
  '<body><h1>Fault test page</h1><script>window.addEventListener("lumory-desktop-flush", () => ' +
  'window.webkit.messageHandlers.lumoryDesktopFlush.postMessage({ ok: true }));</script>' +
  '</body></html>';

function serve(announce) {
  const server = http.createServer((request, response) => {
    response.writeHead(200, { 'content-type': 'text/html; charset=utf-8' });
    response.end(page);
  });
  server.listen(Number(process.env.PORT || 0), '127.0.0.1', () => {
    announce(JSON.stringify({ event: 'ready', url: `http://127.0.0.1:${server.address().port}/` }) + '\n');
  });
}

const write = (text) => process.stdout.write(text);

// Ignores every signal but SIGKILL, as a service stuck in a busy loop would look to the shell.
function ignoreSignals() {
  for (const signal of ['SIGINT', 'SIGHUP', 'SIGTERM']) process.on(signal, () => {});
}

function die(how) {
  if (how === 'throws') throw new Error('fault: thrown on purpose');
  if (how === 'says-why') process.stderr.write('fault: about to be killed\n');
  process.kill(process.pid, 'SIGKILL');
}

switch (mode) {
  case 'plain':
    serve(write);
    break;
  case 'crash': {
    const [when, how, seconds] = args;
    const later = () => setTimeout(() => die(how), Number(seconds) * 1000);
    if (when === 'before-ready') later();
    else serve((line) => { write(line); later(); });
    break;
  }
  case 'byte-by-byte': {
    const pause = Number(args[0]);
    serve((line) => {
      let next = 0;
      const step = () => {
        write(line[next++]);
        if (next < line.length) setTimeout(step, pause);
      };
      step();
    });
    break;
  }
  case 'flood': {
    const block = Buffer.alloc(1024 * 1024, 'x');
    for (let count = 0; count < Number(args[0]); ++count) write(block);
    serve((line) => write('\n' + line));
    break;
  }
  case 'bad-stderr-then-ready': {
    process.stderr.write('fault: before the bad byte\n');
    setTimeout(() => {
      process.stderr.write(Buffer.from([0x63, 0x61, 0x66, 0xe9, 0x0a]));
      process.stderr.write(Buffer.alloc(Number(args[0]) * 1024, 'y'));
      serve(write);
    }, 200);
    break;
  }
  case 'page-never-answers': {
    // Takes every connection and request, and answers none of them.
    const server = http.createServer(() => {});
    server.listen(0, '127.0.0.1', () => {
      write(JSON.stringify({ event: 'ready', url: `http://127.0.0.1:${server.address().port}/` }) + '\n');
    });
    break;
  }
  case 'nul-stderr-flood': {
    // A NUL first: a length count that stops there would never bound what follows.
    process.stderr.write(Buffer.from('ok\0'));
    const block = ('log line '.repeat(100) + '\n').repeat(1024);
    for (let count = 0; count < Number(args[0]); ++count) process.stderr.write(block);
    serve(write);
    break;
  }
  case 'stubborn': {
    ignoreSignals();
    // A helper of its own that ignores them too; its command line names the home folder, so
    // the test can look for it afterwards.
    require('child_process').spawn(
      process.execPath, ['-e', `(${ignoreSignals})(); setInterval(() => {}, 1000);`,
        `${process.env.HOME}/stubborn-helper`], { stdio: 'ignore' });
    serve(write);
    break;
  }
  case 'ready-then-exit':
    serve((line) => {
      write(line);
      setTimeout(() => process.exit(0), Number(args[0]) * 1000);
    });
    break;
  default:
    process.stderr.write(`fault: unknown plan ${mode}\n`);
    process.exit(2);
}
