// The notes-and-tasks page: notes in the sidebar, an editor that saves as you type, tasks with due
// times that become desktop reminders, today's calendar, and the settings for notifications.
import * as desktop from './bridge.js';
import { parseDue, dueInputText } from './due.mjs';

const $ = (id) => document.getElementById(id);
const kSaveDelayMs = 700;

const state = {
  notes: [],
  tasks: [],
  note: null,          // { path, title, modified } of the open note
  dirty: false,
  saving: null,        // the write in progress
  saveError: '',
  view: 'tasks',
  filter: 'today',
  linkNote: null,      // the note a new task will point to
  highlight: null,
  workspace: '',
  navigated: false,    // the user (or a menu command) chose a view before the page was ready
};
let saveTimer = null;
const taskWrites = new Set();

// ---- Small helpers ---------------------------------------------------------------------------

function element(tag, props = {}, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(props)) {
    if (key === 'class') node.className = value;
    else if (key === 'dataset') Object.assign(node.dataset, value);
    else if (key.startsWith('on')) node.addEventListener(key.slice(2), value);
    else if (value !== undefined && value !== null && value !== false) node.setAttribute(key, value === true ? '' : value);
  }
  for (const child of children.flat()) {
    if (child !== null && child !== undefined && child !== false) node.append(child);
  }
  return node;
}

function startOfDay(date, offsetDays = 0) {
  return new Date(date.getFullYear(), date.getMonth(), date.getDate() + offsetDays).getTime();
}

function timeText(ms) {
  return new Date(ms).toLocaleTimeString([], { hour: '2-digit', minute: '2-digit' });
}

function dueText(ms) {
  const now = new Date();
  if (ms >= startOfDay(now) && ms < startOfDay(now, 1)) return `Today ${timeText(ms)}`;
  if (ms >= startOfDay(now, 1) && ms < startOfDay(now, 2)) return `Tomorrow ${timeText(ms)}`;
  if (ms >= startOfDay(now, -1) && ms < startOfDay(now)) return `Yesterday ${timeText(ms)}`;
  return new Date(ms).toLocaleString([], { weekday: 'short', day: 'numeric', month: 'short',
    hour: '2-digit', minute: '2-digit' });
}

const kDueHelp = 'Try 14:30, 2pm, tomorrow 9:00, fri 10am, 2026-12-24 18:00 or in 20 min.';

function showBanner(text, kind = 'error') {
  const banner = $('banner');
  banner.hidden = !text;
  banner.className = `banner ${kind}`;
  banner.textContent = text || '';
}

function toast(title, body, actions = [], timeoutMs = 8000) {
  const card = element('div', { class: 'toast', role: 'status' },
    element('div', { class: 'toast-text' }, element('b', {}, title), body ? element('span', {}, body) : null));
  const close = () => card.remove();
  const buttons = element('div', { class: 'toast-actions' });
  for (const action of actions) {
    buttons.append(element('button', { type: 'button', onclick: () => { close(); action.run(); } }, action.label));
  }
  buttons.append(element('button', { type: 'button', class: 'toast-close', 'aria-label': 'Dismiss', onclick: close }, '×'));
  card.append(buttons);
  $('toasts').append(card);
  if (timeoutMs) setTimeout(close, timeoutMs);
}

// ---- Views ------------------------------------------------------------------------------------

const kViewTitles = { today: 'Today', tomorrow: 'Tomorrow', upcoming: 'Upcoming', undated: 'No date',
  all: 'All tasks', done: 'Done' };

function showView(view) {
  state.view = view;
  for (const name of ['note', 'tasks', 'settings']) $(`view-${name}`).hidden = name !== view;
  for (const item of document.querySelectorAll('.nav-item')) {
    const selected = item.dataset.view === view && (view !== 'tasks' || item.dataset.filter === state.filter);
    item.classList.toggle('selected', selected);
  }
  for (const item of document.querySelectorAll('#note-list li')) {
    item.classList.toggle('selected', view === 'note' && state.note && item.dataset.path === state.note.path);
  }
  $('view-title').textContent = view === 'note' ? (state.note ? state.note.title : '')
    : view === 'settings' ? 'Settings' : kViewTitles[state.filter];
  // The view's name, as a browser tab shows it (menu commands name themselves instead).
  document.title = `${$('view-title').textContent || 'Lumory'} – Lumory`;
  if (view === 'settings') refreshSettings();
}

function showTasks(filter) {
  state.filter = filter;
  renderTasks();
  showView('tasks');
}

// ---- Notes ------------------------------------------------------------------------------------

function renderNotes() {
  const list = $('note-list');
  list.replaceChildren(...state.notes.map((note) => element('li', {
    dataset: { path: note.path },
    class: state.view === 'note' && state.note && state.note.path === note.path ? 'selected' : '',
  }, element('button', { type: 'button', onclick: () => { state.navigated = true; openNote(note.path); } },
    element('span', { class: 'note-title' }, note.title),
    element('span', { class: 'note-date' }, new Date(note.modified).toLocaleDateString([], { day: 'numeric', month: 'short' }))))));
}

async function refreshNotes() {
  state.notes = await desktop.api('api/notes');
  renderNotes();
}

function setSaveState(text, kind = '') {
  const label = $('save-state');
  label.textContent = text;
  label.className = `save-state ${kind}`;
}

async function openNote(path) {
  if (state.note && state.note.path === path && state.view === 'note') return;
  try {
    await saveNow();
  } catch {
    // The failed note stays dirty and keeps its banner; opening another one is still allowed.
  }
  try {
    const note = await desktop.api(`api/note?path=${encodeURIComponent(path)}`);
    state.note = { path: note.path, title: note.title, modified: note.modified };
    state.dirty = false;
    $('editor').value = note.text;
    $('note-file').textContent = note.path;
    setSaveState('');
    showView('note');
  } catch (error) {
    toast('The note could not be opened', error.message);
  }
}

function noteEdited() {
  state.dirty = true;
  setSaveState('Edited');
  clearTimeout(saveTimer);
  saveTimer = setTimeout(() => saveNow().catch(() => {}), kSaveDelayMs);
}

// Writes the open note if it has unsaved edits; one write at a time, the newest text last.
async function saveNow() {
  clearTimeout(saveTimer);
  while (state.saving) await state.saving.catch(() => {});
  if (!state.note || !state.dirty) return;
  const path = state.note.path;
  const text = $('editor').value;
  state.dirty = false;
  setSaveState('Saving…');
  state.saving = desktop.api(`api/note?path=${encodeURIComponent(path)}`, { method: 'PUT', body: { text } });
  try {
    const saved = await state.saving;
    if (state.note && state.note.path === path) {
      state.note.title = saved.title;
      state.note.modified = saved.modified;
      if (state.view === 'note') $('view-title').textContent = saved.title;
    }
    state.saveError = '';
    showBanner('');
    setSaveState(state.dirty ? 'Edited' : 'Saved', state.dirty ? '' : 'ok');
  } catch (error) {
    state.dirty = true;
    state.saveError = error.message;
    setSaveState('Not saved', 'error');
    showBanner(`“${path}” could not be saved: ${error.message}`);
    throw error;
  } finally {
    state.saving = null;
  }
  await refreshNotes().catch(() => {});
}

async function newNote() {
  try {
    await saveNow();
  } catch {
    return;
  }
  try {
    const note = await desktop.api('api/notes', { method: 'POST', body: { title: 'Untitled' } });
    await refreshNotes();
    await openNote(note.path);
    const editor = $('editor');
    editor.focus();
    editor.setSelectionRange(2, editor.value.indexOf('\n') >= 0 ? editor.value.indexOf('\n') : editor.value.length);
  } catch (error) {
    toast('A new note could not be made', error.message);
  }
}

async function deleteNote() {
  if (!state.note || !window.confirm(`Delete “${state.note.title}”? The file ${state.note.path} is removed.`)) return;
  try {
    clearTimeout(saveTimer);
    state.dirty = false;
    await desktop.api(`api/note?path=${encodeURIComponent(state.note.path)}`, { method: 'DELETE' });
    state.note = null;
    await refreshNotes();
    if (state.notes.length) await openNote(state.notes[0].path);
    else showTasks('today');
  } catch (error) {
    toast('The note could not be deleted', error.message);
  }
}

// Makes the selected lines (or the line at the cursor) a bullet list, or plain lines again.
function toggleBullet() {
  const editor = $('editor');
  if (state.view !== 'note') {
    if (!state.note) return;
    showView('note');
  }
  const text = editor.value;
  const start = text.lastIndexOf('\n', editor.selectionStart - 1) + 1;
  let end = text.indexOf('\n', Math.max(editor.selectionEnd - (editor.selectionEnd > editor.selectionStart ? 1 : 0), start));
  if (end < 0) end = text.length;
  const lines = text.slice(start, end).split('\n');
  const bulleted = lines.every((line) => /^\s*[-*] /.test(line) || !line.trim());
  const changed = lines.map((line) => {
    if (!line.trim()) return line;
    return bulleted ? line.replace(/^(\s*)[-*] /, '$1') : `- ${line}`;
  }).join('\n');
  editor.focus();
  editor.setSelectionRange(start, end);
  // execCommand keeps the browser's undo history; setRangeText is the fallback.
  if (!document.execCommand || !document.execCommand('insertText', false, changed)) {
    editor.setRangeText(changed, start, end, 'end');
  }
  editor.setSelectionRange(start, start + changed.length);
  noteEdited();
}

// ---- Tasks ------------------------------------------------------------------------------------

function taskMatches(task, filter, now = new Date()) {
  const today = startOfDay(now);
  const tomorrow = startOfDay(now, 1);
  const dayAfter = startOfDay(now, 2);
  if (filter === 'done') return task.done;
  if (task.done) return false;
  if (filter === 'today') return task.due !== null && task.due < tomorrow;
  if (filter === 'tomorrow') return task.due !== null && task.due >= tomorrow && task.due < dayAfter;
  if (filter === 'upcoming') return task.due !== null && task.due >= tomorrow;
  if (filter === 'undated') return task.due === null;
  return true;
}

function sortTasks(tasks) {
  return [...tasks].sort((a, b) => (a.due ?? Infinity) - (b.due ?? Infinity) || a.created - b.created);
}

async function changeTask(id, fields) {
  const write = desktop.api(`api/task?id=${encodeURIComponent(id)}`, { method: 'PATCH', body: fields });
  taskWrites.add(write);
  try {
    const task = await write;
    state.tasks = state.tasks.map((existing) => (existing.id === id ? task : existing));
    renderTasks();
    sendSchedule();
  } catch (error) {
    toast('The task could not be changed', error.message);
    renderTasks();
  } finally {
    taskWrites.delete(write);
  }
}

async function removeTask(id) {
  try {
    await desktop.api(`api/task?id=${encodeURIComponent(id)}`, { method: 'DELETE' });
    state.tasks = state.tasks.filter((task) => task.id !== id);
    renderTasks();
    sendSchedule();
  } catch (error) {
    toast('The task could not be removed', error.message);
  }
}

function renderTasks() {
  const now = new Date();
  const shown = sortTasks(state.tasks.filter((task) => taskMatches(task, state.filter, now)));
  const titles = new Map(state.notes.map((note) => [note.path, note.title]));
  $('task-list').replaceChildren(...shown.map((task) => {
    const overdue = !task.done && task.due !== null && task.due < now.getTime();
    // The due time is a chip; a click turns it into a text field (Enter keeps, Escape drops).
    const due = element('button', { type: 'button', class: `chip${overdue ? ' overdue' : ''}${task.due === null ? ' add-due' : ''}`,
      title: 'Change the due time', onclick: () => editDue(task, due) }, task.due !== null ? dueText(task.due) : 'Add due time');
    return element('li', { class: `task${task.done ? ' done' : ''}${state.highlight === task.id ? ' highlight' : ''}`,
      dataset: { id: task.id } },
    element('input', { type: 'checkbox', class: 'check', checked: task.done, 'aria-label': 'Done',
      onchange: (event) => changeTask(task.id, { done: event.target.checked }) }),
    element('div', { class: 'task-main' },
      element('span', { class: 'task-title' }, task.title),
      element('span', { class: 'task-meta' },
        due,
        task.note ? element('a', { href: '#', class: 'note-link',
          onclick: (event) => { event.preventDefault(); openNote(task.note); } }, `→ ${titles.get(task.note) || task.note}`) : null)),
    element('button', { type: 'button', class: 'icon-button subtle', title: 'Remove task', 'aria-label': 'Remove task',
      onclick: () => removeTask(task.id) }, '×'));
  }));
  $('task-empty').hidden = shown.length > 0;
  for (const button of document.querySelectorAll('#filters button')) {
    button.setAttribute('aria-selected', String(button.dataset.filter === state.filter));
  }
  for (const filter of ['today', 'tomorrow', 'all']) {
    const count = state.tasks.filter((task) => taskMatches(task, filter, now)).length;
    $(`count-${filter}`).textContent = count ? String(count) : '';
  }
  if (state.view === 'tasks') $('view-title').textContent = kViewTitles[state.filter];
  const link = $('task-link');
  link.hidden = !state.linkNote;
  if (state.linkNote) {
    link.replaceChildren(`New tasks link to “${titles.get(state.linkNote) || state.linkNote}” `,
      element('button', { type: 'button', class: 'flat', onclick: () => { state.linkNote = null; renderTasks(); } }, 'Unlink'));
  }
}

function editDue(task, chip) {
  const field = element('input', { type: 'text', class: 'due-field inline', 'aria-label': 'Due time',
    value: task.due !== null ? dueInputText(task.due) : '', placeholder: 'Due time', maxlength: '40' });
  let done = false;
  const finish = (keep) => {
    if (done) return;
    done = true;
    if (!keep) {
      renderTasks();
      return;
    }
    const due = parseDue(field.value);
    if (due === undefined) {
      toast('Lumory does not understand that due time', kDueHelp);
      renderTasks();
      return;
    }
    changeTask(task.id, { due });
  };
  field.addEventListener('keydown', (event) => {
    if (event.key === 'Enter') finish(true);
    else if (event.key === 'Escape') finish(false);
  });
  field.addEventListener('blur', () => finish(true));
  chip.replaceWith(field);
  field.focus();
  field.select();
}

async function addTask(event) {
  event.preventDefault();
  const title = $('task-title').value.trim();
  if (!title) return;
  const due = parseDue($('task-due').value);
  if (due === undefined) {
    toast('Lumory does not understand that due time', kDueHelp);
    $('task-due').focus();
    return;
  }
  try {
    const task = await desktop.api('api/tasks', { method: 'POST', body: { title, due, note: state.linkNote } });
    state.tasks = state.tasks.filter((existing) => existing.id !== task.id).concat(task);
    $('task-title').value = '';
    $('task-due').value = '';
    if (!taskMatches(task, state.filter)) state.filter = task.due === null ? 'undated' : taskMatches(task, 'today') ? 'today' : 'upcoming';
    renderTasks();
    showView('tasks');
    sendSchedule();
  } catch (error) {
    toast('The task could not be added', error.message);
  }
}

// The complete list of timed reminders goes to the desktop after every change.
async function sendSchedule() {
  if (!desktop.hasDesktop()) return;
  try {
    desktop.schedule(await desktop.api('api/schedule'));
  } catch {
    // The next change sends the list again.
  }
}

async function reminderAction(id, action) {
  try {
    await desktop.api('api/reminders/action', { method: 'POST', body: { id, action, snoozeMinutes: 10 } });
    state.tasks = await desktop.api('api/tasks');
    renderTasks();
    sendSchedule();
  } catch (error) {
    toast('The reminder could not be changed', error.message);
  }
}

function taskOfReminder(reminder) {
  const id = String(reminder && reminder.id || '').replace(/^lumory\.reminder\./, '');
  return state.tasks.find((task) => task.id === id);
}

function revealTask(task) {
  state.highlight = task ? task.id : null;
  showTasks(task && task.done ? 'done' : task && task.due !== null && !taskMatches(task, 'today') ? 'upcoming' : 'today');
  const row = task && document.querySelector(`.task[data-id="${CSS.escape(task.id)}"]`);
  if (row) row.scrollIntoView({ block: 'center' });
}

// ---- Calendar ---------------------------------------------------------------------------------

function renderCalendar(snapshot) {
  const message = $('calendar-message');
  const ready = snapshot.state === 'ready';
  message.hidden = !snapshot.message;
  message.textContent = snapshot.message || '';
  message.className = `calendar-message ${ready ? 'note' : 'warning'}`;
  $('calendar-day').textContent = new Date().toLocaleDateString([], { weekday: 'long', day: 'numeric', month: 'long' });
  const events = ready ? snapshot.events : [];
  $('event-list').replaceChildren(...(events.length ? events.map((event) => element('li', { class: 'event' },
    element('span', { class: 'dot', dataset: { color: event.color || '' } }),
    element('div', {},
      element('span', { class: 'event-time' }, event.isAllDay ? 'All day'
        : `${timeText(Date.parse(event.start))} – ${timeText(Date.parse(event.end))}`),
      element('span', { class: 'event-title' }, event.title || 'Untitled event'),
      event.location ? element('span', { class: 'event-place' }, event.location) : null)))
    : [element('li', { class: 'empty' }, ready ? 'No events today' : '—')]));
  const reminders = ready ? snapshot.reminders : [];
  $('reminder-list').replaceChildren(...(reminders.length ? reminders.map((reminder) => element('li', { class: 'reminder' },
    element('input', { type: 'checkbox', class: 'check', 'aria-label': 'Completed', disabled: !reminder.writable,
      onchange: async (event) => {
        try {
          await desktop.api('api/calendar/reminder', { method: 'PATCH', body: { id: reminder.id, completed: event.target.checked } });
        } catch (error) {
          event.target.checked = !event.target.checked;
          toast('The reminder could not be changed', error.message);
        }
      } }),
    element('div', {},
      element('span', { class: 'event-title' }, reminder.title || 'Untitled reminder'),
      element('span', { class: 'event-time' }, [reminder.list,
        reminder.dueDate && reminder.hasDueTime ? dueText(Date.parse(reminder.dueDate)) : ''].filter(Boolean).join(' · ')))))
    : [element('li', { class: 'empty' }, ready ? 'No reminders due' : '—')]));
  // Colours come from the calendars; set through the style object, which the page policy allows.
  for (const dot of document.querySelectorAll('.dot[data-color]')) {
    if (/^#[0-9A-F]{6}$/i.test(dot.dataset.color)) dot.style.background = dot.dataset.color;
  }
  $('settings-calendar').textContent = ready ? 'Connected to your calendars.' : snapshot.message;
}

// ---- Settings ---------------------------------------------------------------------------------

const kPermissionTexts = {
  granted: 'Lumory may show notifications.',
  denied: 'Notifications are turned off for Lumory.',
  notDetermined: 'Lumory has not asked yet.',
  unsupported: 'This desktop reports an unknown notification setting.',
};

async function refreshSettings() {
  $('settings-workspace').textContent = state.workspace;
  const inDesktop = desktop.hasDesktop();
  $('settings-mode').textContent = inDesktop ? ''
    : 'Running in a browser: reminders, the live overlay and saving before quitting need the Lumory app.';
  $('open-settings').disabled = !inDesktop;
  if (!inDesktop) {
    const permission = 'Notification' in window ? Notification.permission : 'unsupported';
    $('permission-text').textContent = permission === 'default' ? 'The browser has not asked yet.'
      : kPermissionTexts[permission] || kPermissionTexts.unsupported;
    return;
  }
  try {
    const answer = await desktop.askReminders('permission');
    $('permission-text').textContent = answer.error || kPermissionTexts[answer.status] || answer.status;
  } catch (error) {
    $('permission-text').textContent = error.message;
  }
}

async function askPermission() {
  if (!desktop.hasDesktop()) {
    if ('Notification' in window) await Notification.requestPermission();
    refreshSettings();
    return;
  }
  try {
    const answer = await desktop.askReminders('requestPermission');
    $('permission-text').textContent = answer.error || kPermissionTexts[answer.status] || answer.status;
  } catch (error) {
    $('permission-text').textContent = error.message;
  }
}

async function testNotification() {
  const sound = $('test-sound').checked;
  if (!desktop.hasDesktop()) {
    if ('Notification' in window && Notification.permission === 'granted') {
      setTimeout(() => new Notification('Test reminder', { body: 'Lumory notifications are ready', silent: !sound }), 1000);
    } else {
      toast('Notifications need the Lumory app', 'Or allow notifications for this page first.');
    }
    return;
  }
  try {
    await desktop.askReminders('test', { sound });
    toast('Test notification sent', 'It appears in a second.', [], 4000);
  } catch (error) {
    toast('The test notification failed', error.message);
  }
}

// ---- Desktop events ---------------------------------------------------------------------------

function listenToDesktop() {
  window.addEventListener('lumory-desktop-command', (event) => {
    const word = String(event.detail);
    state.navigated = true;
    if (word === 'today' || word === 'tomorrow') showTasks(word);
    else if (word === 'filters') {
      if (state.view !== 'tasks') showTasks(state.filter);
      const filters = $('filters');
      filters.classList.remove('flash');
      void filters.offsetWidth;
      filters.classList.add('flash');
      (filters.querySelector('[aria-selected="true"]') || filters.querySelector('button')).focus();
    } else if (word === 'bullet') toggleBullet();
    document.title = `Lumory (${word})`;
  });

  window.addEventListener('lumory-desktop-flush', async () => {
    try {
      await saveNow();
      await Promise.allSettled([...taskWrites]);
      desktop.answerFlush(true);
    } catch (error) {
      desktop.answerFlush(false, `“${state.note ? state.note.title : 'The note'}” could not be saved: ${error.message}`);
    }
  });

  // Shown while Lumory is in front, where the desktop shows no banner of its own.
  window.addEventListener('lumory-reminder-delivered', (event) => {
    const reminder = event.detail || {};
    toast(reminder.title || 'Task reminder', reminder.body || '', [
      { label: 'Snooze 10m', run: () => reminderAction(reminder.id, 'snooze') },
      { label: 'Done', run: () => reminderAction(reminder.id, 'complete') },
      { label: 'Open', run: () => openReminder(reminder) },
    ], 0);
  });

  window.addEventListener('lumory-reminder-action', (event) => {
    const detail = event.detail || {};
    if (detail.action === 'open') openReminder(detail.reminder || {});
  });

  window.addEventListener('lumory-open-note', (event) => {
    const path = event.detail && event.detail.path;
    if (typeof path === 'string') openNote(path);
  });

  window.addEventListener('beforeunload', (event) => {
    if (!state.dirty || !state.note) return;
    desktop.api(`api/note?path=${encodeURIComponent(state.note.path)}`,
      { method: 'PUT', body: { text: $('editor').value }, keepalive: true }).catch(() => {});
    // A browser asks before leaving; the desktop saves through its own flush instead.
    if (!desktop.hasDesktop('lumoryDesktopFlush')) event.preventDefault();
  });
}

async function openReminder(reminder) {
  state.tasks = await desktop.api('api/tasks').catch(() => state.tasks);
  const task = taskOfReminder(reminder);
  if (typeof reminder.path === 'string') await openNote(reminder.path);
  else revealTask(task);
}

function listenToService() {
  const events = new EventSource('api/events');
  events.addEventListener('tasks', (event) => {
    state.tasks = JSON.parse(event.data);
    renderTasks();
    sendSchedule();
  });
  events.addEventListener('notes', async (event) => {
    const { changed } = JSON.parse(event.data);
    await refreshNotes().catch(() => {});
    if (state.note && !state.dirty && !state.saving && (!changed || changed === state.note.path)) {
      try {
        const note = await desktop.api(`api/note?path=${encodeURIComponent(state.note.path)}`);
        if (note.modified !== state.note.modified && !state.dirty) {
          const editor = $('editor');
          const caret = editor.selectionStart;
          editor.value = note.text;
          editor.setSelectionRange(caret, caret);
          state.note.modified = note.modified;
        }
      } catch {
        // Removed outside Lumory: the editor keeps the text so that nothing is lost.
      }
    }
  });
  events.addEventListener('calendar', (event) => renderCalendar(JSON.parse(event.data)));
}

// ---- Start ------------------------------------------------------------------------------------

async function start() {
  listenToDesktop();
  for (const item of document.querySelectorAll('.nav-item')) {
    item.addEventListener('click', () => {
      state.navigated = true;
      if (item.dataset.view === 'tasks') showTasks(item.dataset.filter);
      else showView(item.dataset.view);
    });
  }
  for (const button of document.querySelectorAll('#filters button')) {
    button.addEventListener('click', () => showTasks(button.dataset.filter));
  }
  $('editor').addEventListener('input', noteEdited);
  $('new-note').addEventListener('click', newNote);
  $('note-delete').addEventListener('click', deleteNote);
  $('note-bullet').addEventListener('click', toggleBullet);
  $('note-task').addEventListener('click', () => {
    state.linkNote = state.note && state.note.path;
    showTasks(state.filter === 'done' ? 'today' : state.filter);
    $('task-title').focus();
  });
  $('task-form').addEventListener('submit', addTask);
  $('permission-ask').addEventListener('click', askPermission);
  $('test-notification').addEventListener('click', testNotification);
  $('open-settings').addEventListener('click', () => desktop.askReminders('openSettings').catch(() => {}));
  $('calendar-retry').addEventListener('click', () => desktop.api('api/calendar/access', { method: 'POST', body: {} }).catch(() => {}));
  $('toggle-calendar').addEventListener('click', () => document.body.classList.toggle('no-calendar'));
  $('open-overlay').addEventListener('click', () => {
    if (!desktop.overlay('open')) window.open('./?live=overlay', 'lumory-live', 'width=520,height=460');
  });
  document.addEventListener('keydown', (event) => {
    if ((event.ctrlKey || event.metaKey) && !event.shiftKey && event.key.toLowerCase() === 'n') {
      event.preventDefault();
      newNote();
    } else if ((event.ctrlKey || event.metaKey) && event.key.toLowerCase() === 's') {
      event.preventDefault();
      saveNow().catch(() => {});
    }
  });

  try {
    const initial = await desktop.api('api/state');
    state.workspace = initial.workspace;
    state.notes = initial.notes;
    state.tasks = initial.tasks;
    $('workspace-path').textContent = initial.workspace;
    if (initial.problem) showBanner(initial.problem, 'warning');
    renderNotes();
    renderTasks();
    renderCalendar(initial.calendar);
    // The day's tasks first; an address like …/#tomorrow, …/#settings or …/#Note.md opens that
    // view instead (bookmarks in a browser).
    const wanted = decodeURIComponent(location.hash.slice(1));
    if (state.navigated) renderTasks();
    else if (kViewTitles[wanted]) showTasks(wanted);
    else if (wanted === 'settings') showView('settings');
    else if (state.notes.some((note) => note.path === wanted)) await openNote(wanted);
    else showTasks('today');
    listenToService();
    sendSchedule();
  } catch (error) {
    showBanner(error.message);
  }
}

start();
