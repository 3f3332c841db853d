// Today's events and reminders from the calendar helper (`lumory-cal`), a long-running child that
// answers one JSON line per request and announces itself and every change of the calendars.
'use strict';

const { EventEmitter } = require('node:events');
const childProcess = require('node:child_process');

const kRequestTimeoutMs = 15000;
const kChangeDelayMs = 250;
const kFirstRestartMs = 1000;
const kLastRestartMs = 30000;
const kStableRunMs = 60000;

function startOfDay(date) {
  return new Date(date.getFullYear(), date.getMonth(), date.getDate());
}

function dayWindow(now) {
  const from = startOfDay(now);
  const to = new Date(from.getFullYear(), from.getMonth(), from.getDate() + 1);
  return { from: from.toISOString().replace(/\.\d{3}Z$/, 'Z'), to: to.toISOString().replace(/\.\d{3}Z$/, 'Z') };
}

function accessMessage(status) {
  if (status === 'restricted') {
    return 'Lumory cannot reach your calendars. They are read from Evolution Data Server: ' +
      'install it (or GNOME Calendar) and sign in to the desktop session.';
  }
  if (status === 'denied') return 'Access to your calendars was refused.';
  if (status === 'notDetermined') return 'Lumory has not been given access to your calendars yet.';
  return `Lumory has no full access to your calendars (${status}).`;
}

class CalendarClient extends EventEmitter {
  constructor({ helperPath, env = process.env, spawn = childProcess.spawn, now = () => new Date() }) {
    super();
    this.helperPath = helperPath;
    this.env = env;
    this.spawn = spawn;
    this.now = now;
    this.child = null;
    this.nextId = 1;
    this.waiting = new Map();
    this.restartDelay = kFirstRestartMs;
    this.restartTimer = null;
    this.changeTimer = null;
    this.stopped = false;
    this.state = helperPath
      ? { state: 'starting', message: 'Connecting to your calendars…' }
      : { state: 'unavailable', message: 'Open Lumory from the desktop to see your calendars here.' };
    this.data = { events: [], reminders: [], lists: [] };
  }

  snapshot() {
    return { ...this.state, ...this.data };
  }

  setState(state) {
    this.state = state;
    this.emit('update', this.snapshot());
  }

  start() {
    if (!this.helperPath || this.stopped || this.child) return;
    let child;
    try {
      child = this.spawn(this.helperPath, [], { env: this.env, stdio: ['pipe', 'pipe', 'ignore'] });
    } catch (error) {
      this.helperEnded(`The calendar helper could not start: ${error.message}`);
      return;
    }
    this.child = child;
    this.startedAt = Date.now();
    let buffer = '';
    child.stdout.setEncoding('utf8');
    child.stdout.on('data', (text) => {
      buffer += text;
      let lineFeed;
      while ((lineFeed = buffer.indexOf('\n')) >= 0) {
        const line = buffer.slice(0, lineFeed);
        buffer = buffer.slice(lineFeed + 1);
        this.consumeLine(line);
      }
      if (buffer.length > 64 * 1024 * 1024) buffer = '';
    });
    child.stdin.on('error', () => {});
    child.on('error', (error) => {
      if (this.child !== child) return;
      this.helperEnded(error.code === 'ENOENT' || error.code === 'EACCES'
        ? 'Lumory\'s calendar helper is missing.' : `The calendar helper could not start: ${error.message}`);
    });
    child.on('exit', (code, signal) => {
      if (this.child === child) {
        this.helperEnded(`The calendar helper stopped (${signal || `status ${code}`}).`);
      }
    });
  }

  stop() {
    this.stopped = true;
    clearTimeout(this.restartTimer);
    clearTimeout(this.changeTimer);
    if (this.child) {
      const child = this.child;
      this.child = null;
      child.stdin.end();
      child.kill('SIGTERM');
    }
    this.failWaiting('stopped');
  }

  failWaiting(reason) {
    for (const { reject, timer } of this.waiting.values()) {
      clearTimeout(timer);
      reject(new Error(reason));
    }
    this.waiting.clear();
  }

  // A helper that dies is started again, later each time while it keeps dying quickly.
  helperEnded(message) {
    this.child = null;
    this.failWaiting(message);
    if (this.stopped) return;
    if (this.startedAt && Date.now() - this.startedAt > kStableRunMs) this.restartDelay = kFirstRestartMs;
    this.setState({ state: 'restarting', message: `${message} Trying again…` });
    clearTimeout(this.restartTimer);
    this.restartTimer = setTimeout(() => this.start(), this.restartDelay);
    this.restartDelay = Math.min(this.restartDelay * 2, kLastRestartMs);
  }

  consumeLine(line) {
    let message;
    try {
      message = JSON.parse(line);
    } catch {
      return;
    }
    if (!message || typeof message !== 'object' || Array.isArray(message)) return;
    if (typeof message.id === 'number' && this.waiting.has(message.id)) {
      const { resolve, timer } = this.waiting.get(message.id);
      this.waiting.delete(message.id);
      clearTimeout(timer);
      resolve(message);
      return;
    }
    if (message.event === 'ready') {
      this.onReady(message.status);
    } else if (message.event === 'changed') {
      clearTimeout(this.changeTimer);
      this.changeTimer = setTimeout(() => this.refresh(), kChangeDelayMs);
    }
  }

  request(cmd, fields = {}) {
    return new Promise((resolve, reject) => {
      if (!this.child) {
        reject(new Error('The calendar helper is not running.'));
        return;
      }
      const id = this.nextId;
      this.nextId += 1;
      const timer = setTimeout(() => {
        this.waiting.delete(id);
        reject(new Error('The calendar helper did not answer.'));
      }, kRequestTimeoutMs);
      this.waiting.set(id, { resolve, reject, timer });
      this.child.stdin.write(`${JSON.stringify({ ...fields, id, cmd })}\n`);
    });
  }

  async onReady(status) {
    if (status === 'fullAccess') {
      await this.refresh();
      return;
    }
    // Asking is what makes a helper try again; the answer carries the status after asking.
    await this.requestAccess();
  }

  async requestAccess() {
    try {
      const answer = await this.request('auth');
      const reminders = await this.request('reminders-auth').catch(() => ({}));
      if (answer.status === 'fullAccess') {
        await this.refresh();
      } else {
        this.data = { events: [], reminders: [], lists: [] };
        this.setState({ state: 'noAccess', status: answer.status || 'unknown',
          message: answer.error || accessMessage(answer.status || 'unknown'),
          remindersStatus: reminders.status });
      }
    } catch (error) {
      if (this.child) this.setState({ state: 'error', message: error.message });
    }
  }

  async refresh() {
    if (!this.child) return;
    const { from, to } = dayWindow(this.now());
    try {
      const [events, reminders, lists] = await Promise.all([
        this.request('events', { from, to }),
        this.request('reminders', { from, to, overdue: true }),
        this.request('reminder-lists'),
      ]);
      if (events.error && /^no calendar access: /.test(events.error)) {
        const status = events.error.slice('no calendar access: '.length);
        this.setState({ state: 'noAccess', status, message: accessMessage(status) });
        return;
      }
      this.data = {
        events: Array.isArray(events.events) ? events.events : [],
        reminders: Array.isArray(reminders.reminders)
          ? reminders.reminders.filter((reminder) => !reminder.isCompleted)
            .sort((a, b) => String(a.dueDate || '').localeCompare(String(b.dueDate || '')))
          : [],
        lists: Array.isArray(lists.lists) ? lists.lists : [],
      };
      const problems = [events.error, reminders.error, lists.error].filter(Boolean);
      this.setState({ state: 'ready', status: 'fullAccess', day: from,
        message: problems.length ? problems.join(' ') : '' });
    } catch (error) {
      if (this.child) this.setState({ state: 'error', message: error.message });
    }
  }

  async completeReminder(reminderId, completed) {
    const answer = await this.request('reminder-complete', { reminderId, completed });
    if (answer.error) throw new Error(answer.error);
    await this.refresh();
    return answer.reminder;
  }
}

module.exports = { CalendarClient, dayWindow, accessMessage };
