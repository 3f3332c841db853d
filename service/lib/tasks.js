// Tasks with optional due times, kept in the workspace as one JSON file, and what the desktop
// needs of them: the list of timed reminders and the answers to Snooze and Done.
'use strict';

const fs = require('node:fs');
const path = require('node:path');
const crypto = require('node:crypto');
const { writeFileAtomic } = require('./files');

const kReminderPrefix = 'lumory.reminder.';
const kMaxTitle = 500;
const kMaxTasks = 5000;
const kDefaultSnoozeMinutes = 10;

class TaskError extends Error {
  constructor(status, message) {
    super(message);
    this.status = status;
  }
}

function checkDue(due) {
  if (due === null || due === undefined) return null;
  if (typeof due !== 'number' || !Number.isFinite(due) || due < 0 || due > 8.64e15) {
    throw new TaskError(400, 'A due time is a number of milliseconds since 1970, or null');
  }
  return Math.round(due);
}

function checkTitle(title) {
  if (typeof title !== 'string' || !title.trim()) throw new TaskError(400, 'A task needs a title');
  return title.trim().slice(0, kMaxTitle);
}

function checkNote(note) {
  if (note === null || note === undefined || note === '') return null;
  if (typeof note !== 'string' || note.includes('/') || !note.endsWith('.md')) {
    throw new TaskError(400, 'A task links to a note by its file name');
  }
  return note;
}

// The reminder's own id carries the prefix too: the desktop names a snoozed copy after it, and
// only prefixed names are withdrawn when the list changes, so a completed or re-timed task can
// never leave a stray snoozed notification behind.
function reminderId(task) {
  return kReminderPrefix + task.id;
}

function taskIdOfReminder(id) {
  return id.startsWith(kReminderPrefix) ? id.slice(kReminderPrefix.length) : id;
}

function formatTime(ms) {
  const date = new Date(ms);
  return `${String(date.getHours()).padStart(2, '0')}:${String(date.getMinutes()).padStart(2, '0')}`;
}

// Every open task with a due time, as the desktop schedules it. A due time that changes gives a
// new deliveryId, so the desktop replaces the old notification.
function scheduleList(tasks, noteTitles = new Map()) {
  const list = [];
  for (const task of tasks) {
    if (task.done || typeof task.due !== 'number') continue;
    const reminder = {
      deliveryId: `${kReminderPrefix}${task.id}.${task.due}`,
      at: task.due,
      title: task.title,
      body: task.note ? `${noteTitles.get(task.note) || task.note.slice(0, -3)} · due ${formatTime(task.due)}`
        : `Due at ${formatTime(task.due)}`,
      id: reminderId(task),
    };
    if (task.note) reminder.path = task.note;
    list.push(reminder);
  }
  list.sort((a, b) => a.at - b.at);
  return list;
}

class TaskStore {
  constructor(folder, { now = Date.now } = {}) {
    this.file = path.join(folder, '.lumory', 'tasks.json');
    this.now = now;
    this.tasks = [];
    this.problem = null;
  }

  async load() {
    await fs.promises.mkdir(path.dirname(this.file), { recursive: true, mode: 0o700 });
    let text;
    try {
      text = await fs.promises.readFile(this.file, 'utf8');
    } catch (error) {
      if (error.code === 'ENOENT') return;
      throw error;
    }
    try {
      const data = JSON.parse(text);
      if (!data || !Array.isArray(data.tasks)) throw new Error('no task list');
      this.tasks = data.tasks.filter((task) => task && typeof task.id === 'string' &&
        typeof task.title === 'string').map((task) => ({
        id: task.id, title: task.title, due: typeof task.due === 'number' ? task.due : null,
        done: task.done === true, doneAt: typeof task.doneAt === 'number' ? task.doneAt : null,
        note: typeof task.note === 'string' ? task.note : null,
        created: typeof task.created === 'number' ? task.created : 0,
      }));
    } catch (error) {
      // Never overwrite a file that could not be read: keep it aside for the user.
      const aside = `${this.file}.unreadable-${this.now()}`;
      await fs.promises.rename(this.file, aside);
      this.problem = `The task list could not be read and was kept as ${aside}`;
    }
  }

  async save() {
    await writeFileAtomic(this.file, `${JSON.stringify({ version: 1, tasks: this.tasks }, null, 1)}\n`,
      { mode: 0o600 });
  }

  list() {
    return this.tasks.map((task) => ({ ...task }));
  }

  find(id) {
    const task = this.tasks.find((candidate) => candidate.id === id);
    if (!task) throw new TaskError(404, 'There is no such task');
    return task;
  }

  // Each change is saved before it counts: a failed write leaves the list as it was.
  async change(apply) {
    const before = this.tasks.map((task) => ({ ...task }));
    let result;
    try {
      result = apply();
      await this.save();
    } catch (error) {
      this.tasks = before;
      throw error;
    }
    return result;
  }

  async add({ title, due, note }) {
    if (this.tasks.length >= kMaxTasks) throw new TaskError(409, 'There are too many tasks');
    const task = { id: crypto.randomBytes(8).toString('hex'), title: checkTitle(title),
      due: checkDue(due), done: false, doneAt: null, note: checkNote(note), created: this.now() };
    return this.change(() => {
      this.tasks.push(task);
      return { ...task };
    });
  }

  async update(id, fields) {
    return this.change(() => {
      const task = this.find(id);
      if ('title' in fields) task.title = checkTitle(fields.title);
      if ('due' in fields) task.due = checkDue(fields.due);
      if ('note' in fields) task.note = checkNote(fields.note);
      if ('done' in fields) {
        if (typeof fields.done !== 'boolean') throw new TaskError(400, 'done is true or false');
        task.done = fields.done;
        task.doneAt = fields.done ? this.now() : null;
      }
      return { ...task };
    });
  }

  async remove(id) {
    return this.change(() => {
      this.find(id);
      this.tasks = this.tasks.filter((task) => task.id !== id);
    });
  }

  // A Snooze or Done from a notification. A task that is gone or already done needs nothing more:
  // the answer says so instead of failing, since asking again could not change it.
  async applyReminderAction(action) {
    if (!action || typeof action !== 'object' || Array.isArray(action)) {
      throw new TaskError(400, 'A reminder action is a JSON object');
    }
    if (typeof action.id !== 'string' || !action.id) throw new TaskError(400, 'A reminder action needs an id');
    if (action.action !== 'snooze' && action.action !== 'complete') {
      throw new TaskError(400, 'A reminder action is "snooze" or "complete"');
    }
    const id = taskIdOfReminder(action.id);
    const task = this.tasks.find((candidate) => candidate.id === id);
    if (!task || task.done) return { ok: true, changed: false };
    if (action.action === 'complete') {
      const updated = await this.update(id, { done: true });
      return { ok: true, changed: true, task: updated };
    }
    let minutes = action.snoozeMinutes;
    if (!Number.isInteger(minutes) || minutes < 1 || minutes > 24 * 60) minutes = kDefaultSnoozeMinutes;
    const updated = await this.update(id, { due: this.now() + minutes * 60000 });
    return { ok: true, changed: true, task: updated };
  }
}

module.exports = { TaskStore, TaskError, scheduleList, reminderId, kReminderPrefix };
