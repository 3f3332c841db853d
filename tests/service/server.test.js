// The reference service against the shell's contract, on a loopback port of its choosing: the
// ready line, the secret path, the Host check, bounded bodies, the port fallback and stopping.
'use strict';

const test = require('node:test');
const assert = require('node:assert');
const net = require('node:net');
const fs = require('node:fs');
const path = require('node:path');
const { spawn } = require('node:child_process');
const { startProcess, request, json, withTimeout, serverFile, temporaryFolder } = require('./support');

test('announces an address under a secret path and serves the page only there', async (t) => {
  const service = startProcess(t);
  const ready = await service.ready;
  assert.strictEqual(ready.event, 'ready');
  assert.match(ready.url, /^http:\/\/127\.0\.0\.1:\d+\/[A-Za-z0-9_-]{20,}\/$/);

  const page = await request(ready.url);
  assert.strictEqual(page.status, 200);
  for (const part of ['id="sidebar"', 'id="topbar"', 'class="workspace-brand"', 'Lumory workspace']) {
    assert.ok(page.text.includes(part), part);
  }
  assert.match(page.headers['content-security-policy'], /script-src 'self'/);
  assert.strictEqual(page.headers['referrer-policy'], 'no-referrer');
  const overlay = await request(`${ready.url}?live=overlay`);
  assert.ok(overlay.text.includes('class="live-head"'));
  assert.strictEqual((await request(`${ready.url}static/app.js`)).status, 200);

  // Without the secret, or with a guess of it, nothing is there.
  const origin = new URL(ready.url).origin;
  for (const guess of ['/', '/api/state', '/static/app.js', `/${'A'.repeat(24)}/api/state`]) {
    assert.strictEqual((await request(origin + guess)).status, 404, guess);
  }
  assert.strictEqual((await request(`${ready.url}static/../server.js`)).status, 404);
  assert.strictEqual((await request(`${ready.url}static/%2e%2e%2fserver.js`)).status, 404);
  // A second launch picks a new secret.
  const other = startProcess(t);
  assert.notStrictEqual(new URL((await other.ready).url).pathname, new URL(ready.url).pathname);
});

test('refuses a Host it did not announce and a foreign Origin', async (t) => {
  const service = startProcess(t);
  const { url } = await service.ready;
  const port = new URL(url).port;
  for (const host of ['localhost:' + port, 'evil.example:' + port, '127.0.0.1', '127.0.0.1:1', null]) {
    const answer = await request(`${url}api/state`, { headers: { host } });
    // Node itself answers 400 to a request without any Host.
    assert.strictEqual(answer.status, host === null ? 400 : 421, `Host: ${host}`);
  }
  assert.strictEqual((await request(`${url}api/state`, { headers: { host: `127.0.0.1:${port}` } })).status, 200);
  const foreign = await request(`${url}api/tasks`, { method: 'POST', body: '{"title":"x"}',
    headers: { 'content-type': 'application/json', origin: 'http://evil.example' } });
  assert.strictEqual(foreign.status, 403);
  const form = await request(`${url}api/tasks`, { method: 'POST', body: 'title=x',
    headers: { 'content-type': 'application/x-www-form-urlencoded' } });
  assert.strictEqual(form.status, 415);
});

test('takes reminder actions and bounds request bodies', async (t) => {
  const service = startProcess(t);
  const { url } = await service.ready;
  const task = (await json(`${url}api/tasks`, 'POST', { title: 'Call the bank', due: Date.now() + 3600000 })).json;
  // A banner from before the task was moved is answered, so that the shell stops sending it, and
  // changes nothing.
  const done = (deliveryId) => json(`${url}api/reminders/action`, 'POST',
    { id: `lumory.reminder.${task.id}`, action: 'complete', deliveryId });
  const stale = await done(`lumory.reminder.${task.id}.1`);
  assert.deepStrictEqual([stale.status, stale.json], [200, { ok: true, changed: false }]);
  assert.strictEqual((await json(`${url}api/tasks`, 'GET')).json[0].done, false);
  assert.strictEqual((await done(`lumory.reminder.${task.id}.${task.due}`)).json.changed, true);
  assert.strictEqual((await json(`${url}api/tasks`, 'GET')).json[0].done, true);
  // The shell posts without an Origin; a retry after success changes nothing and still succeeds.
  assert.strictEqual((await json(`${url}api/reminders/action`, 'POST', { id: task.id, action: 'complete' })).status, 200);
  assert.strictEqual((await json(`${url}api/reminders/action`, 'POST', { id: task.id, action: 'done' })).status, 400);
  assert.strictEqual((await request(`${url}api/reminders/action`, { method: 'POST', body: '{not json',
    headers: { 'content-type': 'application/json' } })).status, 400);

  const tooLarge = await request(`${url}api/reminders/action`, { method: 'POST', body: 'x'.repeat(100 * 1024),
    headers: { 'content-type': 'application/json' } });
  assert.strictEqual(tooLarge.status, 413);
  // A large note is fine up to its own, larger bound.
  const big = await json(`${url}api/note?path=Big.md`, 'PUT', { text: 'y'.repeat(2 * 1024 * 1024) });
  assert.strictEqual(big.status, 200);
  const huge = await json(`${url}api/note?path=Big.md`, 'PUT', { text: 'y'.repeat(9 * 1024 * 1024) });
  assert.strictEqual(huge.status, 413);
  assert.strictEqual(fs.statSync(path.join(service.home, 'Lumory', 'Big.md')).size, 2 * 1024 * 1024);
  // A body far past any limit is not read to its end; the service goes on serving.
  const endless = await request(`${url}api/tasks`, { method: 'POST', body: 'z'.repeat(40 * 1024 * 1024),
    headers: { 'content-type': 'application/json' } }).then((answer) => answer.status, () => 'closed');
  assert.ok(endless === 413 || endless === 'closed', String(endless));
  assert.strictEqual((await request(`${url}api/state`)).status, 200);
  assert.strictEqual((await request(`${url}missing`)).status, 404);
});

test('stops on SIGTERM', async (t) => {
  const service = startProcess(t);
  await service.ready;
  service.child.kill('SIGTERM');
  const ended = await withTimeout(service.exited, 5000, 'still running after SIGTERM');
  assert.strictEqual(ended.code, 0);
});

test('stops once the shell that started it is gone', async (t) => {
  const parent = spawn('sleep', ['60'], { stdio: 'ignore' });
  t.after(() => parent.kill('SIGKILL'));
  const service = startProcess(t, { LUMORY_PARENT_PID: String(parent.pid) });
  await service.ready;
  parent.kill('SIGKILL');
  await withTimeout(service.exited, 5000, 'still running without its parent');
});

test('a parent holding its standard input is seen going by the pipe, and only by it', async (t) => {
  const service = startProcess(t, { LUMORY_PARENT_PID: String(process.pid) }, undefined, 'pipe');
  await service.ready;
  // Still its parent, so still running while the pipe is open.
  const early = await Promise.race([service.exited, new Promise((resolve) => setTimeout(resolve, 1500, 'running'))]);
  assert.strictEqual(early, 'running');
  service.child.stdin.end();
  const ended = await withTimeout(service.exited, 5000, 'still running after its parent\'s pipe closed');
  assert.strictEqual(ended.code, 0);
});

test('listens on a free port when its port is taken, an empty PORT meaning the default', async (t) => {
  const first = startProcess(t);
  const taken = new URL((await first.ready).url).port;
  const second = startProcess(t, { PORT: taken });
  const moved = new URL((await second.ready).url);
  assert.notStrictEqual(moved.port, taken);
  assert.strictEqual((await request(`${moved.href}api/state`)).status, 200);

  // Hold the default port (unless someone else already does) so that the fallback is certain.
  const holder = net.createServer();
  await new Promise((resolve) => {
    holder.once('error', resolve);
    holder.listen(43981, '127.0.0.1', resolve);
  });
  t.after(() => holder.close());
  const third = startProcess(t, { PORT: '' });
  const fallback = new URL((await third.ready).url);
  assert.notStrictEqual(fallback.port, '43981');
  assert.ok(Number(fallback.port) > 0);
});

test('refuses a port that is not a number, and a workspace it cannot make', async (t) => {
  for (const port of ['abc', '70000', '80x', '-1']) {
    const child = spawn(process.execPath, [serverFile], {
      env: { PATH: '/usr/bin:/bin', HOST: '127.0.0.1', PORT: port }, stdio: ['ignore', 'pipe', 'pipe'],
    });
    let errors = '';
    child.stderr.on('data', (chunk) => { errors += chunk; });
    const code = await withTimeout(new Promise((resolve) => child.on('exit', resolve)), 5000,
      `still running with PORT=${port}`);
    assert.strictEqual(code, 1, port);
    assert.match(errors, /PORT must be a number from 0 to 65535/);
  }
  const folder = temporaryFolder(t);
  fs.writeFileSync(path.join(folder, 'file'), '');
  const blocked = startProcess(t, { LUMORY_WORKSPACE: path.join(folder, 'file', 'notes') });
  const ended = await withTimeout(blocked.exited, 5000, 'still running without a workspace');
  assert.strictEqual(ended.code, 1);
  assert.match(blocked.errors(), /lumory-server: .*workspace/);
});
