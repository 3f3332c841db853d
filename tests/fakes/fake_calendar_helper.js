#!/usr/bin/env node
// A stand-in for `lumory-cal` in the service tests: the same line protocol, canned answers.
//   FAKE_CAL_STATUS       status in the ready notice (default fullAccess)
//   FAKE_CAL_AUTH_STATUS  status after "auth" (default: FAKE_CAL_STATUS)
//   FAKE_CAL_CRASH_ONCE   a file: when missing, create it and exit 2 right after the ready notice
//   FAKE_CAL_LOG          a file that gets every request line
'use strict';

const fs = require('node:fs');

const env = process.env;
let status = env.FAKE_CAL_STATUS || 'fullAccess';
let eventRequests = 0;
const write = (value) => process.stdout.write(`${JSON.stringify(value)}\n`);

write({ event: 'ready', status });
if (env.FAKE_CAL_CRASH_ONCE && !fs.existsSync(env.FAKE_CAL_CRASH_ONCE)) {
  fs.writeFileSync(env.FAKE_CAL_CRASH_ONCE, '');
  process.exit(2);
}

let buffer = '';
process.stdin.setEncoding('utf8');
process.stdin.on('data', (text) => {
  buffer += text;
  let lineFeed;
  while ((lineFeed = buffer.indexOf('\n')) >= 0) {
    const line = buffer.slice(0, lineFeed);
    buffer = buffer.slice(lineFeed + 1);
    if (env.FAKE_CAL_LOG) fs.appendFileSync(env.FAKE_CAL_LOG, `${line}\n`);
    const request = JSON.parse(line);
    const reply = (payload) => write({ ...payload, id: request.id });
    if (request.cmd === 'auth' || request.cmd === 'reminders-auth') {
      status = env.FAKE_CAL_AUTH_STATUS || status;
      reply({ status, granted: status === 'fullAccess' });
    } else if (status !== 'fullAccess') {
      reply({ error: `no calendar access: ${status}` });
    } else if (request.cmd === 'events') {
      eventRequests += 1;
      reply({ events: [{ id: 'e1', title: eventRequests === 1 ? 'Standup' : 'Standup (moved)',
        start: request.from, end: request.to, isAllDay: false, calendar: 'Work', calendarId: 'c1',
        color: '#3584E4', isRecurring: false, writable: true, availability: 0 }] });
      // The first listing is followed by a change, as when another program edits the calendar.
      if (eventRequests === 1) setTimeout(() => write({ event: 'changed' }), 100);
    } else if (request.cmd === 'reminders') {
      reply({ reminders: [
        { id: 'r2', title: 'Later', listId: 'l1', list: 'Tasks', isCompleted: false, priority: 0,
          hasDueTime: true, writable: true, dueDate: '2030-01-01T12:00:00Z' },
        { id: 'r1', title: 'Water plants', listId: 'l1', list: 'Tasks', isCompleted: false, priority: 0,
          hasDueTime: true, writable: true, dueDate: '2020-01-01T09:00:00Z' },
        { id: 'r3', title: 'Finished', listId: 'l1', list: 'Tasks', isCompleted: true, priority: 0,
          hasDueTime: false, writable: true },
      ] });
    } else if (request.cmd === 'reminder-lists') {
      reply({ lists: [{ id: 'l1', title: 'Tasks', source: 'On This Computer', sourceType: 'local', writable: true }] });
    } else if (request.cmd === 'reminder-complete') {
      reply(request.reminderId === 'r1' ? { reminder: { id: 'r1', isCompleted: request.completed } }
        : { error: `reminder not found: ${request.reminderId}` });
    } else {
      reply({ error: `unknown command: ${request.cmd}` });
    }
  }
});
process.stdin.on('end', () => process.exit(0));
