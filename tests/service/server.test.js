// The reference service against the shell's contract, on a loopback port of its choosing.
'use strict';

const test = require('node:test');
const assert = require('node:assert');
const { spawn } = require('node:child_process');
const http = require('node:http');

const server = process.env.LUMORY_SERVER;

function start(env) {
  const child = spawn(process.execPath, [server], {
    env: { PATH: '/usr/bin:/bin', HOST: '127.0.0.1', PORT: '0', ...env },
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  const ready = new Promise((resolve, reject) => {
    let buffer = '';
    const timer = setTimeout(() => reject(new Error('no ready line')), 10000);
    child.stdout.on('data', (chunk) => {
      buffer += chunk;
      const line = buffer.split('\n').find((text) => text.includes('"ready"'));
      if (line) {
        clearTimeout(timer);
        resolve(JSON.parse(line));
      }
    });
  });
  const exited = new Promise((resolve) => child.on('exit', (code, signal) => resolve({ code, signal })));
  return { child, ready, exited };
}

function request(url, method, body) {
  return new Promise((resolve, reject) => {
    const req = http.request(url, { method, timeout: 5000 }, (response) => {
      let text = '';
      response.on('data', (chunk) => { text += chunk; });
      response.on('end', () => resolve({ status: response.statusCode, text }));
    });
    req.on('error', reject);
    req.on('timeout', () => req.destroy(new Error('timed out')));
    req.end(body);
  });
}

function withTimeout(promise, ms, what) {
  let timer;
  return Promise.race([
    promise,
    new Promise((_, reject) => { timer = setTimeout(() => reject(new Error(what)), ms); }),
  ]).finally(() => clearTimeout(timer));
}

test('announces its address, serves the page and takes reminder actions', async () => {
  const service = start({});
  try {
    const ready = await service.ready;
    assert.strictEqual(ready.event, 'ready');
    assert.match(ready.url, /^http:\/\/127\.0\.0\.1:\d+\/$/);

    const page = await request(ready.url, 'GET');
    assert.strictEqual(page.status, 200);
    for (const part of ['id="sidebar"', 'id="topbar"', 'class="workspace-brand"']) {
      assert.ok(page.text.includes(part), part);
    }

    const action = await request(new URL('api/reminders/action', ready.url), 'POST',
      JSON.stringify({ action: 'done', id: 'r1' }));
    assert.strictEqual(action.status, 200);
    const tooLarge = await request(new URL('api/reminders/action', ready.url), 'POST',
      'x'.repeat(100 * 1024));
    assert.strictEqual(tooLarge.status, 413);
    assert.strictEqual((await request(new URL('missing', ready.url), 'GET')).status, 404);
  } finally {
    service.child.kill('SIGKILL');
  }
});

test('stops on SIGTERM', async () => {
  const service = start({});
  await service.ready;
  service.child.kill('SIGTERM');
  const ended = await withTimeout(service.exited, 5000, 'still running after SIGTERM');
  assert.strictEqual(ended.code, 0);
});

test('stops once the shell that started it is gone', async () => {
  const parent = spawn('sleep', ['60'], { stdio: 'ignore' });
  const service = start({ LUMORY_PARENT_PID: String(parent.pid) });
  try {
    await service.ready;
    parent.kill('SIGKILL');
    await withTimeout(service.exited, 5000, 'still running without its parent');
  } finally {
    parent.kill('SIGKILL');
    service.child.kill('SIGKILL');
  }
});

test('reports a port it cannot use on standard error and exits', async () => {
  const first = start({});
  try {
    const ready = await first.ready;
    const port = new URL(ready.url).port;
    const second = spawn(process.execPath, [server], {
      env: { PATH: '/usr/bin:/bin', HOST: '127.0.0.1', PORT: port },
      stdio: ['ignore', 'pipe', 'pipe'],
    });
    let errors = '';
    second.stderr.on('data', (chunk) => { errors += chunk; });
    const ended = await withTimeout(new Promise((resolve) => second.on('exit', resolve)), 5000,
      'second service did not exit');
    assert.strictEqual(ended, 1);
    assert.match(errors, /EADDRINUSE/);
  } finally {
    first.child.kill('SIGKILL');
  }
});

test('refuses a port that is not a number', async () => {
  for (const port of ['abc', '', '70000', '80x']) {
    const child = spawn(process.execPath, [server], {
      env: { PATH: '/usr/bin:/bin', HOST: '127.0.0.1', PORT: port },
      stdio: ['ignore', 'pipe', 'pipe'],
    });
    let errors = '';
    child.stderr.on('data', (chunk) => { errors += chunk; });
    const code = await withTimeout(new Promise((resolve) => child.on('exit', resolve)), 5000,
      `still running with PORT=${port}`);
    assert.strictEqual(code, 1, port);
    assert.match(errors, /PORT must be a number from 0 to 65535/);
  }
});
