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

function deliveryIdOf(task) {
  return `${reminderId(task)}.${task.due}`;
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
      deliveryId: deliveryIdOf(task),
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

// A banner speaks for its task while the task still has the due time the banner was shown for.
// The desktop's own snoozed copy (its id + ".native." + time) stands for a Snooze, so it speaks
// for the task until something other than a Snooze moves it. An action without a deliveryId comes
// from the page, which acts on the task as it is.
function bannerIsCurrent(task, deliveryId) {
  if (task.done) return false;
  if (deliveryId === undefined) return true;
  if (typeof task.due !== 'number') return false;
  if (deliveryId === deliveryIdOf(task)) return true;
  const copy = `${reminderId(task)}.native.`;
  return task.snoozed && deliveryId.startsWith(copy) && /^\d+$/.test(deliveryId.slice(copy.length));
}

class TaskStore {
  constructor(folder, { now = Date.now } = {}) {
    this.file = path.join(folder, '.lumory', 'tasks.json');
    this.now = now;
    this.tasks = [];
    this.problem = null;
    this.waiting = [];
    this.writing = false;
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
        created: typeof task.created === 'number' ? task.created : 0, snoozed: task.snoozed === true,
      }));
    } catch (error) {
      // Never overwrite a file that could not be read: keep it aside for the user.
      const aside = `${this.file}.unreadable-${this.now()}`;
      await fs.promises.rename(this.file, aside);
      this.problem = `The task list could not be read and was kept as ${aside}`;
    }
  }

  async save(tasks) {
    await writeFileAtomic(this.file, `${JSON.stringify({ version: 1, tasks }, null, 1)}\n`, { mode: 0o600 });
  }

  list() {
    return this.tasks.map((task) => ({ ...task }));
  }

  find(id, tasks = this.tasks) {
    const task = tasks.find((candidate) => candidate.id === id);
    if (!task) throw new TaskError(404, 'There is no such task');
    return task;
  }

  // `apply(tasks)` returns { tasks, result }: the new list (never the given one changed in place)
  // or none when nothing changes. Changes apply in the order they arrive, each to the list the
  // ones before it left, and only one write of the file runs at a time, carrying every change
  // that arrived while the one before it ran: the newest list always lands last. A change counts,
  // and its caller hears of it, once its write is on disk; a failed write drops the changes it
  // carried and no others.
  change(apply) {
    return new Promise((resolve, reject) => {
      this.waiting.push({ apply, resolve, reject });
      if (!this.writing) this.writeWaiting();
    });
  }

  async writeWaiting() {
    this.writing = true;
    while (this.waiting.length) {
      const carried = this.waiting.splice(0);
      let tasks = this.tasks;
      const outcomes = carried.map(({ apply }) => {
        try {
          const outcome = apply(tasks);
          if (outcome.tasks) tasks = outcome.tasks;
          return outcome;
        } catch (error) {
          return { error };
        }
      });
      let failure = null;
      if (tasks !== this.tasks) {
        try {
          await this.save(tasks);
          this.tasks = tasks;
        } catch (error) {
          failure = error;
        }
      }
      carried.forEach(({ resolve, reject }, index) => {
        const outcome = outcomes[index];
        if (failure || outcome.error) reject(failure || outcome.error);
        else resolve(outcome.result);
      });
    }
    this.writing = false;
  }

  async add({ title, due, note }) {
    const task = { id: crypto.randomBytes(8).toString('hex'), title: checkTitle(title),
      due: checkDue(due), done: false, doneAt: null, note: checkNote(note), created: this.now(),
      snoozed: false };
    return this.change((tasks) => {
      if (tasks.length >= kMaxTasks) throw new TaskError(409, 'There are too many tasks');
      return { tasks: [...tasks, task], result: { ...task } };
    });
  }

  // The task with `fields` changed, in a new list.
  static replaced(tasks, task, fields) {
    const changed = { ...task, ...fields };
    return { tasks: tasks.map((other) => (other === task ? changed : other)), result: { ...changed } };
  }

  async update(id, fields) {
    const changes = {};
    if ('title' in fields) changes.title = checkTitle(fields.title);
    if ('due' in fields) changes.due = checkDue(fields.due);
    if ('note' in fields) changes.note = checkNote(fields.note);
    if ('done' in fields) {
      if (typeof fields.done !== 'boolean') throw new TaskError(400, 'done is true or false');
      changes.done = fields.done;
      changes.doneAt = fields.done ? this.now() : null;
    }
    return this.change((tasks) => {
      const task = this.find(id, tasks);
      const moved = ('due' in changes && changes.due !== task.due) || 'done' in changes;
      return TaskStore.replaced(tasks, task, moved ? { ...changes, snoozed: false } : changes);
    });
  }

  async remove(id) {
    return this.change((tasks) => {
      this.find(id, tasks);
      return { tasks: tasks.filter((task) => task.id !== id) };
    });
  }

  // A Snooze or Done from a notification. A task that is gone or done, or that was moved since the
  // banner was shown, is left alone: the answer says so instead of failing, since asking again
  // could not change it.
  async applyReminderAction(action) {
    if (!action || typeof action !== 'object' || Array.isArray(action)) {
      throw new TaskError(400, 'A reminder action is a JSON object');
    }
    if (typeof action.id !== 'string' || !action.id) throw new TaskError(400, 'A reminder action needs an id');
    if (action.action !== 'snooze' && action.action !== 'complete') {
      throw new TaskError(400, 'A reminder action is "snooze" or "complete"');
    }
    if (action.deliveryId !== undefined && typeof action.deliveryId !== 'string') {
      throw new TaskError(400, 'A deliveryId is a string');
    }
    let minutes = action.snoozeMinutes;
    if (!Number.isInteger(minutes) || minutes < 1 || minutes > 24 * 60) minutes = kDefaultSnoozeMinutes;
    const id = taskIdOfReminder(action.id);
    return this.change((tasks) => {
      const task = tasks.find((candidate) => candidate.id === id);
      if (!task || !bannerIsCurrent(task, action.deliveryId)) return { result: { ok: true, changed: false } };
      const fields = action.action === 'complete' ? { done: true, doneAt: this.now(), snoozed: false }
        : { due: this.now() + minutes * 60000, snoozed: true };
      const { tasks: changed, result } = TaskStore.replaced(tasks, task, fields);
      return { tasks: changed, result: { ok: true, changed: true, task: result } };
    });
  }
}

module.exports = { TaskStore, TaskError, scheduleList, reminderId, kReminderPrefix };
