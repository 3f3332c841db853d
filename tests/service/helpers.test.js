// The service as the helpers' peer: today's calendar through the calendar helper (access,
// changes, restarts) and the overlay's sound level through the audio helper.
'use strict';

const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const { root, fakes, temporaryFolder, withTimeout } = require('./support');

const { CalendarClient, dayWindow } = require(path.join(root, 'service', 'lib', 'calendar'));
const { LiveLevels, PcmBlocks, levelOf, kBlockSamples } = require(path.join(root, 'service', 'lib', 'audio'));

const calendarHelper = path.join(fakes, 'fake_calendar_helper.js');
const audioHelper = path.join(fakes, 'fake_audio_helper.js');

function nextUpdate(client, wanted, what) {
  return withTimeout(new Promise((resolve) => {
    const check = (snapshot) => {
      if (wanted(snapshot)) {
        client.off('update', check);
        resolve(snapshot);
      }
    };
    client.on('update', check);
  }), 8000, what);
}

test('the day window runs from local midnight to the next, in UTC without fractions', () => {
  const { from, to } = dayWindow(new Date(2026, 2, 29, 15, 30));
  assert.strictEqual(from, new Date(2026, 2, 29).toISOString().replace('.000Z', 'Z'));
  assert.strictEqual(to, new Date(2026, 2, 30).toISOString().replace('.000Z', 'Z'));
  assert.match(from, /^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$/);
});

test('lists today from the helper and lists again when the calendars change', async (t) => {
  const log = path.join(temporaryFolder(t), 'requests.log');
  const client = new CalendarClient({ helperPath: calendarHelper,
    env: { ...process.env, FAKE_CAL_LOG: log } });
  t.after(() => client.stop());
  const first = nextUpdate(client, (snapshot) => snapshot.state === 'ready', 'no calendar listing');
  client.start();
  const ready = await first;
  assert.strictEqual(ready.events[0].title, 'Standup');
  // Open reminders only, the overdue one first.
  assert.deepStrictEqual(ready.reminders.map((reminder) => reminder.id), ['r1', 'r2']);
  assert.strictEqual(ready.lists[0].title, 'Tasks');
  const changed = await nextUpdate(client, (snapshot) => snapshot.events[0] &&
    snapshot.events[0].title === 'Standup (moved)', 'no listing after the change');
  assert.strictEqual(changed.state, 'ready');

  const requests = fs.readFileSync(log, 'utf8').trim().split('\n').map((line) => JSON.parse(line));
  const reminders = requests.find((request) => request.cmd === 'reminders');
  assert.strictEqual(reminders.overdue, true);
  assert.deepStrictEqual([reminders.from, reminders.to], [dayWindow(new Date()).from, dayWindow(new Date()).to]);
  assert.ok(requests.every((request) => Number.isInteger(request.id)));

  await client.completeReminder('r1', true);
  await assert.rejects(client.completeReminder('zz', true), /reminder not found: zz/);
});

test('asks for access and says clearly when it is not there', async (t) => {
  const client = new CalendarClient({ helperPath: calendarHelper,
    env: { ...process.env, FAKE_CAL_STATUS: 'restricted', FAKE_CAL_AUTH_STATUS: 'restricted' } });
  t.after(() => client.stop());
  const refused = nextUpdate(client, (snapshot) => snapshot.state === 'noAccess', 'no access message');
  client.start();
  const snapshot = await refused;
  assert.strictEqual(snapshot.status, 'restricted');
  assert.match(snapshot.message, /cannot reach your calendars/);
  assert.deepStrictEqual(snapshot.events, []);

  const granted = new CalendarClient({ helperPath: calendarHelper,
    env: { ...process.env, FAKE_CAL_STATUS: 'notDetermined', FAKE_CAL_AUTH_STATUS: 'fullAccess' } });
  t.after(() => granted.stop());
  const listed = nextUpdate(granted, (update) => update.state === 'ready', 'no listing after access');
  granted.start();
  assert.strictEqual((await listed).events.length, 1);
});

test('starts the helper again when it dies, and has a message without one', async (t) => {
  const marker = path.join(temporaryFolder(t), 'crashed');
  const client = new CalendarClient({ helperPath: calendarHelper,
    env: { ...process.env, FAKE_CAL_CRASH_ONCE: marker } });
  t.after(() => client.stop());
  const restarting = nextUpdate(client, (snapshot) => snapshot.state === 'restarting', 'no restart');
  const ready = nextUpdate(client, (snapshot) => snapshot.state === 'ready', 'not ready after the restart');
  client.start();
  assert.match((await restarting).message, /stopped \(status 2\)/);
  await ready;
  assert.ok(fs.existsSync(marker));

  const missing = new CalendarClient({ helperPath: '' });
  assert.strictEqual(missing.snapshot().state, 'unavailable');
  assert.match(missing.snapshot().message, /Open Lumory from the desktop/);
  const broken = new CalendarClient({ helperPath: '/nonexistent/lumory-cal' });
  t.after(() => broken.stop());
  const failed = nextUpdate(broken, (snapshot) => snapshot.state === 'restarting', 'no report of a missing helper');
  broken.start();
  assert.match((await failed).message, /calendar helper is missing/);
});

test('sound levels come in 20 ms blocks, whole samples across chunk edges', () => {
  const blocks = [];
  const reader = new PcmBlocks((samples) => blocks.push(samples));
  const bytes = Buffer.alloc(kBlockSamples * 2 * 2 + 3);
  for (let index = 0; index < kBlockSamples * 2; index += 1) bytes.writeInt16LE(index % 2 ? -16384 : 16384, index * 2);
  bytes.writeInt16LE(-32768, kBlockSamples * 4);
  for (let start = 0; start < bytes.length; start += 333) reader.push(bytes.subarray(start, start + 333));
  assert.strictEqual(blocks.length, 2);
  assert.ok(blocks.every((block) => block.length === kBlockSamples && block[0] === 16384 && block[1] === -16384));
  const level = levelOf(blocks[0]);
  assert.strictEqual(level.rms, 0.5);
  assert.strictEqual(level.peak, 0.5);
  assert.strictEqual(level.db, -6);
  assert.deepStrictEqual(levelOf(new Int16Array(10)), { rms: 0, peak: 0, db: -90 });
  assert.strictEqual(levelOf(Int16Array.of(-32768)).peak, 1);
});

test('captures only while someone listens, and reports why it cannot', async (t) => {
  const pidFile = path.join(temporaryFolder(t), 'pid');
  const live = new LiveLevels({ helperPath: audioHelper, env: { ...process.env, FAKE_AUDIO_PIDFILE: pidFile } });
  const level = withTimeout(new Promise((resolve) => live.once('level', resolve)), 5000, 'no level');
  const stop = live.listen();
  const stopAgain = live.listen();
  const { rms } = await level;
  // A sine at half scale has an RMS of 0.5 / sqrt(2).
  assert.ok(Math.abs(rms - 0.3536) < 0.01, String(rms));
  assert.strictEqual(live.status.state, 'running');
  const pid = Number(fs.readFileSync(pidFile, 'utf8'));
  stop();
  assert.strictEqual(live.status.state, 'running');
  stopAgain();
  stopAgain();
  assert.strictEqual(live.status.state, 'off');
  await withTimeout((async () => {
    for (;;) {
      try {
        process.kill(pid, 0);
      } catch {
        return;
      }
      await new Promise((resolve) => setTimeout(resolve, 20));
    }
  })(), 3000, 'capture still running with nobody listening');

  const refused = new LiveLevels({ helperPath: audioHelper,
    env: { ...process.env, FAKE_AUDIO_FAIL: 'no display to capture audio from' } });
  const stopped = withTimeout(new Promise((resolve) => refused.on('status', (status) => {
    if (status.state === 'stopped') resolve(status);
  })), 5000, 'no report of the failure');
  const stopRefused = refused.listen();
  t.after(stopRefused);
  assert.strictEqual((await stopped).message, 'no display to capture audio from');
  assert.strictEqual(new LiveLevels({ helperPath: '' }).status.state, 'unavailable');
});
