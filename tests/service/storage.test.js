// Notes and tasks on disk: names that stay inside the workspace, writes that never leave half a
// file, the reminder list the desktop schedules, and Snooze and Done from notifications.
'use strict';

const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const { root, temporaryFolder } = require('./support');

const { writeFileAtomic } = require(path.join(root, 'service', 'lib', 'files'));
const { NoteStore, checkNotePath } = require(path.join(root, 'service', 'lib', 'notes'));
const { TaskStore, scheduleList } = require(path.join(root, 'service', 'lib', 'tasks'));

test('a note name never leaves the workspace', () => {
  for (const name of ['../x.md', 'a/b.md', '.hidden.md', 'x.txt', '.md', 'a\\b.md', 'x\0.md', 7, null,
    `${'n'.repeat(300)}.md`]) {
    assert.throws(() => checkNotePath(name), { status: 400 }, String(name));
  }
  assert.strictEqual(checkNotePath('Groceries 2.md'), 'Groceries 2.md');
  assert.strictEqual(checkNotePath('Über Ideen.md'), 'Über Ideen.md');
});

test('notes are listed with their titles, created under free names and written whole', async (t) => {
  const folder = path.join(temporaryFolder(t), 'Lumory');
  const notes = new NoteStore(folder);
  await notes.prepare();
  assert.deepStrictEqual((await notes.list()).map((note) => note.title), ['Welcome to Lumory']);
  // A second start does not bring back a welcome note the user deleted.
  await notes.remove('Welcome.md');
  await notes.prepare();
  assert.deepStrictEqual(await notes.list(), []);

  const first = await notes.create('Plans: 2026/Q1');
  const second = await notes.create('Plans: 2026/Q1');
  assert.strictEqual(first.path, 'Plans 2026 Q1.md');
  assert.strictEqual(second.path, 'Plans 2026 Q1 2.md');
  assert.strictEqual(first.title, 'Plans: 2026/Q1');
  await notes.write(first.path, 'no heading here\n');
  fs.writeFileSync(path.join(folder, 'notes.txt'), 'not a note');
  fs.mkdirSync(path.join(folder, 'folder.md'));
  const listed = await notes.list();
  assert.deepStrictEqual(listed.map((note) => note.path).sort(), ['Plans 2026 Q1 2.md', 'Plans 2026 Q1.md']);
  assert.strictEqual(listed.find((note) => note.path === first.path).title, 'Plans 2026 Q1');
  await assert.rejects(notes.read('Missing.md'), { status: 404 });
  await assert.rejects(notes.write('../escape.md', 'x'), { status: 400 });
  assert.ok(!fs.existsSync(path.join(folder, '..', 'escape.md')));
});

test('an atomic write that fails leaves the old note and no stray file', async (t) => {
  const folder = temporaryFolder(t);
  const target = path.join(folder, 'Note.md');
  fs.writeFileSync(target, 'old text');
  fs.chmodSync(target, 0o640);
  await writeFileAtomic(target, 'new text');
  assert.strictEqual(fs.readFileSync(target, 'utf8'), 'new text');
  assert.strictEqual(fs.statSync(target).mode & 0o777, 0o640);

  // A write through a link replaces the linked file and keeps the link.
  const real = path.join(folder, 'real.md');
  fs.writeFileSync(real, 'real');
  fs.symlinkSync(real, path.join(folder, 'link.md'));
  await writeFileAtomic(path.join(folder, 'link.md'), 'through the link');
  assert.ok(fs.lstatSync(path.join(folder, 'link.md')).isSymbolicLink());
  assert.strictEqual(fs.readFileSync(real, 'utf8'), 'through the link');

  // Data that cannot be written (not a string or buffer) fails before the old file is touched.
  await assert.rejects(writeFileAtomic(target, { not: 'text' }));
  assert.strictEqual(fs.readFileSync(target, 'utf8'), 'new text');
  if (process.getuid && process.getuid() !== 0) {
    fs.chmodSync(folder, 0o500);
    await assert.rejects(writeFileAtomic(target, 'cannot'));
    fs.chmodSync(folder, 0o700);
    assert.strictEqual(fs.readFileSync(target, 'utf8'), 'new text');
  }
  assert.deepStrictEqual(fs.readdirSync(folder).filter((name) => name.endsWith('.tmp')), []);
});

test('the reminder list holds every open timed task, with ids the desktop can withdraw', () => {
  const tasks = [
    { id: 'a', title: 'Later', due: 2000, done: false, note: null },
    { id: 'b', title: 'Sooner', due: 1000, done: false, note: 'Trip.md' },
    { id: 'c', title: 'No time', due: null, done: false, note: null },
    { id: 'd', title: 'Done', due: 500, done: true, note: null },
  ];
  const list = scheduleList(tasks, new Map([['Trip.md', 'Trip to Lyon']]));
  assert.deepStrictEqual(list.map((entry) => entry.deliveryId), ['lumory.reminder.b.1000', 'lumory.reminder.a.2000']);
  assert.deepStrictEqual(Object.keys(list[0]).sort(), ['at', 'body', 'deliveryId', 'id', 'path', 'title']);
  assert.strictEqual(list[0].at, 1000);
  assert.strictEqual(list[0].title, 'Sooner');
  assert.strictEqual(list[0].path, 'Trip.md');
  assert.match(list[0].body, /^Trip to Lyon · due \d\d:\d\d$/);
  assert.strictEqual(list[1].path, undefined);
  // A snoozed copy is named id + ".native." + time: it keeps the prefix the desktop withdraws by.
  assert.ok(list.every((entry) => entry.id.startsWith('lumory.reminder.')));
});

test('tasks persist, refuse bad fields, and snooze or complete from a notification', async (t) => {
  const folder = temporaryFolder(t);
  let now = 1_000_000;
  const store = new TaskStore(folder, { now: () => now });
  await store.load();
  const task = await store.add({ title: '  Call Ana  ', due: 5_000_000, note: 'Ana.md' });
  assert.strictEqual(task.title, 'Call Ana');
  await assert.rejects(store.add({ title: ' ' }), { status: 400 });
  await assert.rejects(store.add({ title: 'x', due: 'tomorrow' }), { status: 400 });
  await assert.rejects(store.add({ title: 'x', note: '../etc.md' }), { status: 400 });
  await assert.rejects(store.update(task.id, { done: 'yes' }), { status: 400 });
  await assert.rejects(store.update('nope', { done: true }), { status: 404 });

  now = 2_000_000;
  const snoozed = await store.applyReminderAction({ id: `lumory.reminder.${task.id}`, action: 'snooze',
    deliveryId: `lumory.reminder.${task.id}.5000000`, snoozeMinutes: 10 });
  assert.deepStrictEqual([snoozed.ok, snoozed.changed, snoozed.task.due], [true, true, 2_000_000 + 600_000]);
  // A snooze length that makes no sense falls back to ten minutes.
  await store.applyReminderAction({ id: task.id, action: 'snooze', snoozeMinutes: -5 });
  assert.strictEqual(store.find(task.id).due, 2_600_000);

  const reloaded = new TaskStore(folder);
  await reloaded.load();
  assert.strictEqual(reloaded.find(task.id).due, 2_600_000);

  const completed = await store.applyReminderAction({ id: task.id, action: 'complete' });
  assert.strictEqual(completed.task.done, true);
  assert.deepStrictEqual(scheduleList(store.list()), []);
  // Gone or finished tasks need nothing more; the answer says so without failing.
  assert.deepStrictEqual(await store.applyReminderAction({ id: task.id, action: 'snooze' }), { ok: true, changed: false });
  assert.deepStrictEqual(await store.applyReminderAction({ id: 'lumory.reminder.gone', action: 'complete' }),
    { ok: true, changed: false });
  for (const bad of [null, [], 'text', {}, { id: 5, action: 'complete' }, { id: 'x', action: 'Complete' }]) {
    await assert.rejects(store.applyReminderAction(bad), { status: 400 }, JSON.stringify(bad));
  }
});

test('a failed task write changes nothing, and an unreadable task file is kept aside', async (t) => {
  const folder = temporaryFolder(t);
  const store = new TaskStore(folder);
  await store.load();
  await store.add({ title: 'Keep me' });
  // Make the save fail: its folder becomes a file.
  fs.rmSync(path.join(folder, '.lumory'), { recursive: true });
  fs.writeFileSync(path.join(folder, '.lumory'), '');
  await assert.rejects(store.add({ title: 'Lost' }));
  assert.deepStrictEqual(store.list().map((task) => task.title), ['Keep me']);

  const other = temporaryFolder(t);
  fs.mkdirSync(path.join(other, '.lumory'));
  fs.writeFileSync(path.join(other, '.lumory', 'tasks.json'), '{"tasks": [ broken');
  const damaged = new TaskStore(other, { now: () => 42 });
  await damaged.load();
  assert.deepStrictEqual(damaged.list(), []);
  assert.match(damaged.problem, /kept as .*tasks\.json\.unreadable-42/);
  assert.strictEqual(fs.readFileSync(path.join(other, '.lumory', 'tasks.json.unreadable-42'), 'utf8'), '{"tasks": [ broken');
});

// Runs `before` (once) as the service is about to call fs.promises[name] on a path that matches.
function hookOnce(t, name, matches, before) {
  const original = fs.promises[name];
  t.after(() => { fs.promises[name] = original; });
  fs.promises[name] = async (...args) => {
    if (matches(...args)) {
      fs.promises[name] = original;
      await before(...args);
    }
    return original(...args);
  };
}

test('a failed task write drops only the changes it carried, not those made meanwhile', async (t) => {
  const folder = temporaryFolder(t);
  const store = new TaskStore(folder);
  await store.load();
  await store.add({ title: 'Before' });
  let reached;
  const blocked = new Promise((resolve) => { reached = resolve; });
  hookOnce(t, 'rename', (from, to) => to.endsWith('tasks.json'), async () => {
    reached();
    await new Promise((resolve) => setTimeout(resolve, 200));
    throw Object.assign(new Error('no space left'), { code: 'ENOSPC' });
  });
  const failing = store.add({ title: 'Lost' });
  await blocked;
  const others = [store.add({ title: 'Second', due: 1000 }), store.add({ title: 'Third' })];
  await assert.rejects(failing, /no space left/);
  await Promise.all(others);
  const reloaded = new TaskStore(folder);
  await reloaded.load();
  for (const tasks of [store.list(), reloaded.list()]) {
    assert.deepStrictEqual(tasks.map((task) => task.title), ['Before', 'Second', 'Third']);
  }
  assert.deepStrictEqual(fs.readdirSync(path.join(folder, '.lumory')), ['tasks.json']);
});

test('saves of a note land in the order asked, and a racing delete or rename brings nothing back', async (t) => {
  const folder = temporaryFolder(t);
  const notes = new NoteStore(folder);
  const file = (name) => path.join(folder, name);
  // Older texts are longer, so their writes take longer than the newest one.
  for (let round = 0; round < 4; round += 1) {
    const texts = [4, 1, 0].map((size, index) => `${round}.${index}\n${'x'.repeat(size * 1024 * 1024)}`);
    await Promise.all(texts.map((text) => notes.write('Race.md', text)));
    assert.strictEqual(fs.readFileSync(file('Race.md'), 'utf8'), texts[2], `round ${round}`);
  }

  // A save asked for before a delete is undone by it; one asked for after it finds no note.
  for (let round = 0; round < 10; round += 1) {
    fs.writeFileSync(file('Gone.md'), 'first');
    const [saved, removed] = await Promise.allSettled([notes.write('Gone.md', 'second'), notes.remove('Gone.md')]);
    assert.deepStrictEqual([saved.status, removed.status, fs.existsSync(file('Gone.md'))],
      ['fulfilled', 'fulfilled', false], `round ${round}`);
  }
  await assert.rejects(notes.write('Gone.md', 'too late'), { status: 404 });
  assert.ok(!fs.existsSync(file('Gone.md')));
  const again = await notes.create('Gone');
  assert.strictEqual(again.path, 'Gone.md');
  await notes.write('Gone.md', 'back');
  assert.strictEqual(fs.readFileSync(file('Gone.md'), 'utf8'), 'back');

  // Another program renames the note while Lumory writes it: the old name does not come back.
  await notes.write('Moving.md', 'old');
  hookOnce(t, 'open', (name) => String(name).includes('.Moving.md.'),
    () => fs.promises.rename(file('Moving.md'), file('Moved.md')));
  await assert.rejects(notes.write('Moving.md', 'new'), { status: 409 });
  assert.deepStrictEqual(fs.readdirSync(folder).sort(), ['Gone.md', 'Moved.md', 'Race.md']);
  assert.strictEqual(fs.readFileSync(file('Moved.md'), 'utf8'), 'old');
});

test('Snooze and Done count only from the banner of the task as it is now', async (t) => {
  let now = 1_000_000;
  const store = new TaskStore(temporaryFolder(t), { now: () => now });
  await store.load();
  const task = await store.add({ title: 'Call', due: 5_000_000 });
  const id = `lumory.reminder.${task.id}`;
  const act = (action, deliveryId) => store.applyReminderAction({ id, action, deliveryId, snoozeMinutes: 10 });
  await store.update(task.id, { due: 6_000_000 });
  for (const deliveryId of [`${id}.5000000`, `${id}.native.1600000`, 'lumory.reminder.other.6000000', `${id}.6000000x`]) {
    for (const action of ['snooze', 'complete']) {
      assert.deepStrictEqual(await act(action, deliveryId), { ok: true, changed: false }, deliveryId);
    }
  }
  assert.deepStrictEqual([store.find(task.id).due, store.find(task.id).done], [6_000_000, false]);
  await assert.rejects(act('complete', 7), { status: 400 });

  // The desktop's own snoozed copy stands for the snooze it made, until the page moves the task.
  assert.strictEqual((await act('snooze', `${id}.6000000`)).task.due, 1_600_000);
  now = 1_600_000;
  assert.strictEqual((await act('snooze', `${id}.native.1599990`)).task.due, 2_200_000);
  await store.update(task.id, { due: 9_000_000 });
  assert.strictEqual((await act('complete', `${id}.native.2199990`)).changed, false);
  assert.strictEqual((await act('complete', `${id}.9000000`)).task.done, true);
});
