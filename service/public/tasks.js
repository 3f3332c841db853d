// Tasks: the filtered list, due times typed in words, and tasks linked to a note.
import * as desktop from './bridge.js';
import { parseDue, dueInputText } from './due.mjs';
import { state } from './state.js';
import { $, element, toast } from './page.js';
import { startOfDay, dueText } from './times.js';
import { kViewTitles, drawnBy, showView, showTasks } from './views.js';
import { openNote } from './notes.js';
import { sendSchedule } from './schedule.js';

const kDueHelp = 'Try 14:30, 2pm, tomorrow 9:00, fri 10am, 2026-12-24 18:00 or in 20 min.';
const taskWrites = new Set();

export function taskMatches(task, filter, now = new Date()) {
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

// Settles once every task change sent so far has been answered.
export function taskWritesDone() {
  return Promise.allSettled([...taskWrites]);
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

export function renderTasks() {
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
    showView('tasks');
    sendSchedule();
  } catch (error) {
    toast('The task could not be added', error.message);
  }
}

export function setUpTasks() {
  drawnBy('tasks', renderTasks);
  for (const button of document.querySelectorAll('#filters button')) {
    button.addEventListener('click', () => showTasks(button.dataset.filter));
  }
  $('task-form').addEventListener('submit', addTask);
  $('note-task').addEventListener('click', () => {
    state.linkNote = state.note && state.note.path;
    showTasks(state.filter === 'done' ? 'today' : state.filter);
    $('task-title').focus();
  });
}
