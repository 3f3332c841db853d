// Hundreds of task changes at once against a running service, as the page and the desktop's
// Snooze and Done send them, then a hard stop and a restart: every change answered as done is on
// disk, and nothing else is.
'use strict';

const test = require('node:test');
const assert = require('node:assert');
const { isDeepStrictEqual } = require('node:util');
const { startProcess, json, temporaryFolder } = require('./support');

const kRounds = 3;
const kAddsPerRound = 40;

function shuffled(list) {
  for (let index = list.length - 1; index > 0; index -= 1) {
    const other = Math.floor(Math.random() * (index + 1));
    [list[index], list[other]] = [list[other], list[index]];
  }
  return list;
}

async function answered(promise, wanted) {
  const answer = await promise;
  assert.strictEqual(answer.status, wanted, answer.text);
  return answer.json;
}

function differences(expected, listed) {
  const found = new Map(listed.map((task) => [task.id, { title: task.title, due: task.due, done: task.done }]));
  return [...new Set([...expected.keys(), ...found.keys()])]
    .filter((id) => !isDeepStrictEqual(expected.get(id), found.get(id)))
    .map((id) => ({ id, expected: expected.get(id), found: found.get(id) }));
}

test('every task change answered during a burst survives a restart, and nothing else does', async (t) => {
  const home = temporaryFolder(t);
  let service = startProcess(t, {}, home);
  let { url } = await service.ready;
  const expected = new Map();
  const keep = (task) => expected.set(task.id, { title: task.title, due: task.due, done: task.done });
  const later = Date.now() + 86400000;
  const action = (id, kind, due) => json(`${url}api/reminders/action`, 'POST',
    { id: `lumory.reminder.${id}`, action: kind, deliveryId: `lumory.reminder.${id}.${due}`, snoozeMinutes: 30 });
  const patch = (id, fields) => answered(json(`${url}api/task?id=${id}`, 'PATCH', fields), 200);
  let sent = 0;

  for (let round = 0; round <= kRounds; round += 1) {
    const work = [];
    const adds = round === 0 ? 150 : kAddsPerRound;
    for (let index = 0; index < adds; index += 1) {
      work.push(answered(json(`${url}api/tasks`, 'POST', { title: `Task ${round}.${index}`,
        due: later + (round * 1000 + index) * 60000 }), 201).then(keep));
    }
    const open = shuffled([...expected].filter(([, task]) => !task.done));
    open.forEach(([id, task], index) => {
      const title = `${task.title} (${round})`;
      const kind = index % 6;
      if (kind === 0) {
        work.push(answered(json(`${url}api/task?id=${id}`, 'DELETE'), 200).then(() => expected.delete(id)));
      } else if (kind === 1) {
        // The page renames while the desktop snoozes the same task.
        work.push(patch(id, { title }).then((saved) => { expected.get(id).title = saved.title; }));
        work.push(answered(action(id, 'snooze', task.due), 200).then((result) => {
          assert.ok(result.changed);
          expected.get(id).due = result.task.due;
        }));
      } else if (kind === 2) {
        // The page moves the task while Done comes from the banner of its old time: Done counts
        // only when it came first.
        work.push(patch(id, { due: task.due + 3600000 }).then((saved) => { expected.get(id).due = saved.due; }));
        work.push(answered(action(id, 'complete', task.due), 200).then((result) => {
          if (result.changed) expected.get(id).done = true;
        }));
      } else if (kind === 3) {
        work.push(patch(id, { title }).then((saved) => { expected.get(id).title = saved.title; }));
        work.push(answered(action(id, 'complete', task.due), 200).then((result) => {
          assert.ok(result.changed);
          expected.get(id).done = true;
        }));
      } else if (kind === 4) {
        work.push(patch(id, { done: true }).then(() => { expected.get(id).done = true; }));
      }
    });
    sent += work.length;
    await Promise.all(work);
    const live = differences(expected, (await json(`${url}api/tasks`, 'GET')).json);
    assert.deepStrictEqual(live.slice(0, 3), [], `${live.length} tasks differ in round ${round}`);

    service.child.kill('SIGKILL');
    await service.exited;
    service = startProcess(t, {}, home);
    ({ url } = await service.ready);
    const stored = differences(expected, (await json(`${url}api/tasks`, 'GET')).json);
    assert.deepStrictEqual(stored.slice(0, 3), [], `${stored.length} tasks differ after round ${round}`);
  }
  t.diagnostic(`${sent} requests, ${expected.size} tasks kept`);
});
