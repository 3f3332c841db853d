// Due times as typed into the page: every form it accepts, and texts it must refuse.
'use strict';

const test = require('node:test');
const assert = require('node:assert');
const path = require('node:path');
const { root } = require('./support');

const load = import(path.join(root, 'service', 'public', 'due.mjs'));

// Wednesday 9 December 2026, 15:20 local time.
const now = new Date(2026, 11, 9, 15, 20);
const at = (day, hour, minute = 0) => new Date(2026, 11, day, hour, minute).getTime();

test('reads times, days and both together', async () => {
  const { parseDue } = await load;
  const cases = {
    '18:45': at(9, 18, 45),
    '18.45': at(9, 18, 45),
    '  6pm ': at(9, 18),
    '6:30 PM': at(9, 18, 30),
    '12am': at(10, 0),
    '12pm': at(10, 12),
    // A time that has passed today means tomorrow.
    '9:00': at(10, 9),
    'today 16:00': at(9, 16),
    'today': at(9, 9),
    'tomorrow': at(10, 9),
    'Tomorrow at 7am': at(10, 7),
    'fri 10am': at(11, 10),
    'friday 10:15': at(11, 10, 15),
    // The same weekday means next week.
    'wed': at(16, 9),
    '2026-12-24 18:00': at(24, 18),
    '2026-12-24': at(24, 9),
    '2026-12-24T07:05': at(24, 7, 5),
    'in 20 min': now.getTime() + 20 * 60000,
    'in 2 hours': now.getTime() + 2 * 3600000,
  };
  for (const [text, expected] of Object.entries(cases)) {
    assert.strictEqual(parseDue(text, now), expected, text);
  }
  assert.strictEqual(parseDue('', now), null);
  assert.strictEqual(parseDue('   ', now), null);
});

test('refuses what is not a due time, and writes one back readably', async () => {
  const { parseDue, dueInputText } = await load;
  for (const text of ['soon', '25:00', '12:60', '13pm', '0am', '9', 'month 9:00', '2026-02-30',
    'tomorrow 26:00', 'fr 10am', 'in 5 days', '2026-12-24 noon']) {
    assert.strictEqual(parseDue(text, now), undefined, text);
  }
  const due = at(24, 18, 5);
  assert.strictEqual(dueInputText(due), '2026-12-24 18:05');
  assert.strictEqual(parseDue(dueInputText(due), now), due);
});
