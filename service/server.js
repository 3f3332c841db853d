// Lumory's reference local service: a small notes-and-tasks app for the desktop shell (or any
// browser). It serves the page under a secret path, keeps notes and tasks in the workspace
// folder, and reads the calendar and the sound level through the helpers. Node built-ins only.
'use strict';

const http = require('node:http');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { NoteStore, NoteError } = require('./lib/notes');
const { TaskStore, TaskError, scheduleList } = require('./lib/tasks');
const { CalendarClient } = require('./lib/calendar');
const { LiveLevels } = require('./lib/audio');
const guard = require('./lib/guard');

const kDefaultPort = 43981;
const kSmallBody = 64 * 1024;
const kNoteBody = 8 * 1024 * 1024;
const kMaxStreams = 32;
const kKeepAliveMs = 20000;
const kParentCheckMs = 1000;
const kPublic = path.join(__dirname, 'public');
const kTypes = { '.html': 'text/html; charset=utf-8', '.css': 'text/css; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8', '.mjs': 'text/javascript; charset=utf-8',
  '.svg': 'image/svg+xml' };

class ConfigError extends Error {}

function configFromEnv(env) {
  const portText = env.PORT === undefined || env.PORT === '' ? String(kDefaultPort) : env.PORT;
  const port = /^\d{1,5}$/.test(portText) ? Number(portText) : NaN;
  if (!(port >= 0 && port <= 65535)) {
    throw new ConfigError(`PORT must be a number from 0 to 65535, not "${portText}"`);
  }
  const home = env.HOME || os.homedir();
  return {
    host: env.HOST || '127.0.0.1',
    port,
    workspace: env.LUMORY_WORKSPACE ? path.resolve(home, env.LUMORY_WORKSPACE) : path.join(home, 'Lumory'),
    calendarHelper: env.LUMORY_CALENDAR_HELPER || '',
    audioHelper: env.LUMORY_AUDIO_HELPER || '',
    desktop: env.LUMORY_DESKTOP === '1',
    env,
  };
}

function send(response, status, type, body, extra = {}) {
  response.writeHead(status, {
    'Content-Type': type,
    'Cache-Control': 'no-store',
    'X-Content-Type-Options': 'nosniff',
    // The secret is in every address: no page we link to may learn it.
    'Referrer-Policy': 'no-referrer',
    ...extra,
  });
  response.end(body);
}

function sendJson(response, status, value) {
  send(response, status, 'application/json', JSON.stringify(value));
}

const kPagePolicy = "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' data:; " +
  "connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'none'";

// Server-sent events: one open response per listener, each message one JSON line.
class EventStreams {
  constructor() {
    this.streams = new Set();
  }

  open(request, response, onClose) {
    if (this.streams.size >= kMaxStreams) {
      sendJson(response, 503, { error: 'Too many open pages' });
      return null;
    }
    response.writeHead(200, { 'Content-Type': 'text/event-stream', 'Cache-Control': 'no-store',
      'X-Content-Type-Options': 'nosniff' });
    response.write('retry: 2000\n\n');
    const stream = { response };
    const keepAlive = setInterval(() => response.write(': still here\n\n'), kKeepAliveMs);
    this.streams.add(stream);
    request.on('close', () => {
      clearInterval(keepAlive);
      this.streams.delete(stream);
      if (onClose) onClose();
    });
    return stream;
  }

  static write(stream, name, value) {
    stream.response.write(`event: ${name}\ndata: ${JSON.stringify(value)}\n\n`);
  }

  broadcast(name, value, only) {
    for (const stream of this.streams) if (!only || only(stream)) EventStreams.write(stream, name, value);
  }

  closeAll() {
    for (const stream of this.streams) stream.response.end();
    this.streams.clear();
  }
}

// A pipe, or the socket pair Node's own child processes get.
function standardInputIsPipe() {
  try {
    const input = fs.fstatSync(0);
    return input.isFIFO() || input.isSocket();
  } catch (error) {
    return false;
  }
}

async function startService(config, { log = () => {} } = {}) {
  const notes = new NoteStore(config.workspace);
  await notes.prepare();
  const tasks = new TaskStore(config.workspace);
  await tasks.load();
  if (tasks.problem) log(tasks.problem);
  const calendar = new CalendarClient({ helperPath: config.calendarHelper, env: config.env });
  const live = new LiveLevels({ helperPath: config.audioHelper, env: config.env });
  const streams = new EventStreams();
  const secret = guard.newSecret();
  const publicFiles = new Set(fs.readdirSync(kPublic));
  let announcedHost = '';
  let origin = '';

  calendar.on('update', (snapshot) => streams.broadcast('calendar', snapshot, (s) => s.kind === 'app'));
  live.on('status', (status) => streams.broadcast('live-status', status, (s) => s.kind === 'live'));
  live.on('level', (level) => streams.broadcast('level', level, (s) => s.kind === 'live'));

  async function schedule() {
    const titles = new Map((await notes.list()).map((note) => [note.path, note.title]));
    return scheduleList(tasks.list(), titles);
  }
  const tasksChanged = () => streams.broadcast('tasks', tasks.list(), (s) => s.kind === 'app');

  // Edits made outside Lumory (another editor, a sync tool) reach the open pages.
  let notesTimer = null;
  let watcher = null;
  try {
    watcher = fs.watch(config.workspace, (kind, name) => {
      if (name && (!String(name).endsWith('.md') || String(name).startsWith('.'))) return;
      clearTimeout(notesTimer);
      notesTimer = setTimeout(() => streams.broadcast('notes', { changed: name ? String(name) : null },
        (s) => s.kind === 'app'), 150);
    });
    watcher.on('error', () => {});
  } catch {
    // Without a watch the page still sees its own changes.
  }

  async function api(request, response, route, query) {
    const method = request.method;
    if (route === 'api/state' && method === 'GET') {
      return sendJson(response, 200, { workspace: config.workspace, desktop: config.desktop,
        notes: await notes.list(), tasks: tasks.list(), calendar: calendar.snapshot(),
        problem: tasks.problem });
    }
    if (route === 'api/notes' && method === 'GET') return sendJson(response, 200, await notes.list());
    if (route === 'api/notes' && method === 'POST') {
      const body = await guard.readJson(request, kSmallBody);
      const note = await notes.create(body && body.title);
      return sendJson(response, 201, note);
    }
    if (route === 'api/note') {
      const name = query.get('path');
      if (method === 'GET') return sendJson(response, 200, await notes.read(name));
      if (method === 'PUT') {
        const body = await guard.readJson(request, kNoteBody);
        return sendJson(response, 200, await notes.write(name, body && body.text));
      }
      if (method === 'DELETE') {
        await notes.remove(name);
        return sendJson(response, 200, { ok: true });
      }
    }
    if (route === 'api/tasks' && method === 'GET') return sendJson(response, 200, tasks.list());
    if (route === 'api/tasks' && method === 'POST') {
      const task = await tasks.add((await guard.readJson(request, kSmallBody)) || {});
      tasksChanged();
      return sendJson(response, 201, task);
    }
    if (route === 'api/task') {
      const id = query.get('id');
      if (method === 'PATCH') {
        const task = await tasks.update(id, (await guard.readJson(request, kSmallBody)) || {});
        tasksChanged();
        return sendJson(response, 200, task);
      }
      if (method === 'DELETE') {
        await tasks.remove(id);
        tasksChanged();
        return sendJson(response, 200, { ok: true });
      }
    }
    if (route === 'api/schedule' && method === 'GET') return sendJson(response, 200, await schedule());
    if (route === 'api/reminders/action' && method === 'POST') {
      const result = await tasks.applyReminderAction(await guard.readJson(request, kSmallBody));
      if (result.changed) tasksChanged();
      return sendJson(response, 200, result);
    }
    if (route === 'api/calendar' && method === 'GET') return sendJson(response, 200, calendar.snapshot());
    if (route === 'api/calendar/access' && method === 'POST') {
      await guard.readJson(request, kSmallBody);
      if (!calendar.child) calendar.start();
      else calendar.requestAccess();
      return sendJson(response, 202, { ok: true });
    }
    if (route === 'api/calendar/reminder' && method === 'PATCH') {
      const body = (await guard.readJson(request, kSmallBody)) || {};
      if (typeof body.id !== 'string' || typeof body.completed !== 'boolean') {
        throw new guard.RequestError(400, 'Say which reminder and whether it is completed');
      }
      try {
        return sendJson(response, 200, await calendar.completeReminder(body.id, body.completed));
      } catch (error) {
        throw new guard.RequestError(502, error.message);
      }
    }
    if (route === 'api/events' && method === 'GET') {
      const stream = streams.open(request, response);
      if (stream) {
        stream.kind = 'app';
        EventStreams.write(stream, 'calendar', calendar.snapshot());
      }
      return undefined;
    }
    if (route === 'api/live' && method === 'GET') {
      let stopListening = () => {};
      const stream = streams.open(request, response, () => stopListening());
      if (stream) {
        stream.kind = 'live';
        EventStreams.write(stream, 'live-status', live.status);
        stopListening = live.listen();
      }
      return undefined;
    }
    return sendJson(response, 404, { error: 'Not found' });
  }

  async function handle(request, response) {
    let url;
    try {
      url = new URL(request.url, 'http://service.invalid');
    } catch {
      return send(response, 400, 'text/plain; charset=utf-8', 'Bad request\n');
    }
    if (!guard.hostAllowed(request.headers.host, announcedHost)) {
      return send(response, 421, 'text/plain; charset=utf-8', 'Wrong host\n');
    }
    const route = guard.pathInside(url.pathname, secret);
    if (route === null) return send(response, 404, 'text/plain; charset=utf-8', 'Not found\n');
    if (request.method !== 'GET' && request.method !== 'HEAD' &&
        !guard.originAllowed(request.headers.origin, origin)) {
      return send(response, 403, 'text/plain; charset=utf-8', 'Wrong origin\n');
    }
    if (route === '' && request.method === 'GET') {
      const page = url.searchParams.get('live') === 'overlay' ? 'overlay.html' : 'index.html';
      return send(response, 200, kTypes['.html'], await fs.promises.readFile(path.join(kPublic, page)),
        { 'Content-Security-Policy': kPagePolicy });
    }
    if (route.startsWith('static/') && request.method === 'GET') {
      const name = route.slice('static/'.length);
      if (publicFiles.has(name) && kTypes[path.extname(name)]) {
        return send(response, 200, kTypes[path.extname(name)],
          await fs.promises.readFile(path.join(kPublic, name)));
      }
      return send(response, 404, 'text/plain; charset=utf-8', 'Not found\n');
    }
    if (route.startsWith('api/')) return api(request, response, route, url.searchParams);
    return send(response, 404, 'text/plain; charset=utf-8', 'Not found\n');
  }

  const server = http.createServer((request, response) => {
    handle(request, response).catch((error) => {
      const status = error instanceof guard.RequestError || error instanceof NoteError ||
        error instanceof TaskError ? error.status : 500;
      if (status === 500) log(error.stack || String(error));
      if (!response.headersSent) {
        sendJson(response, status, { error: status === 500 ? `Lumory could not do that: ${error.message}`
          : error.message });
      } else {
        response.end();
      }
    });
  });
  server.headersTimeout = 20000;
  server.requestTimeout = 60000;

  // The chosen port may belong to someone else (another user's Lumory): any free port will do,
  // since the address is announced.
  const port = await new Promise((resolve, reject) => {
    const listen = (candidate) => {
      const onError = (error) => {
        server.off('listening', onListening);
        if (error.code === 'EADDRINUSE' && candidate !== 0) listen(0);
        else reject(error);
      };
      const onListening = () => {
        server.off('error', onError);
        resolve(server.address().port);
      };
      server.once('error', onError);
      server.once('listening', onListening);
      server.listen(candidate, config.host);
    };
    listen(config.port);
  });
  announcedHost = `${guard.hostForUrl(config.host)}:${port}`;
  origin = `http://${announcedHost}`;
  calendar.start();

  return {
    url: `${origin}/${secret}/`,
    close() {
      clearTimeout(notesTimer);
      if (watcher) watcher.close();
      calendar.stop();
      live.stopCapture();
      streams.closeAll();
      server.close();
      server.closeAllConnections();
    },
  };
}

function main() {
  const log = (text) => process.stderr.write(`lumory-server: ${text}\n`);
  let config;
  try {
    config = configFromEnv(process.env);
  } catch (error) {
    log(error.message);
    process.exit(1);
  }
  let service = null;
  const stop = () => {
    if (service) service.close();
    process.exit(0);
  };
  process.on('SIGTERM', stop);
  process.on('SIGINT', stop);
  process.on('SIGPIPE', () => {});
  startService(config, { log }).then((started) => {
    service = started;
    process.stdout.write(`${JSON.stringify({ event: 'ready', url: started.url })}\n`);
  }, (error) => {
    log(error.code === 'EACCES' || error.code === 'ENOTDIR' || error.code === 'EROFS'
      ? `cannot use the workspace ${config.workspace}: ${error.message}` : error.message);
    process.exit(1);
  });

  // The shell normally stops the service itself; this covers a shell that vanished. A parent
  // holding the other end of a pipe on standard input is seen going by the pipe's end, with no
  // timer waking the service while nothing happens; any other parent is checked every second.
  const parentPid = Number.parseInt(process.env.LUMORY_PARENT_PID || '', 10);
  if (Number.isInteger(parentPid) && parentPid > 0) {
    if (parentPid === process.ppid && standardInputIsPipe()) {
      process.stdin.on('end', stop);
      process.stdin.on('error', stop);
      process.stdin.resume();
    } else {
      setInterval(() => {
        try {
          process.kill(parentPid, 0);
        } catch (error) {
          if (error.code === 'ESRCH') stop();
        }
      }, kParentCheckMs).unref();
    }
  }
}

module.exports = { main, startService, configFromEnv };

if (require.main === module) main();
