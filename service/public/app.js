// The notes-and-tasks page: notes in the sidebar, an editor that saves as you type, tasks with due
// times that become desktop reminders, today's calendar, and the settings for notifications.
// This module starts the page; each part lives in a module of its own.
import * as desktop from './bridge.js';
import { state } from './state.js';
import { $, showBanner } from './page.js';
import { kViewTitles, showView, showTasks } from './views.js';
import { renderNotes, openNote, saveNow, newNote, notesChangedOutside, setUpNotes } from './notes.js';
import { renderTasks, setUpTasks } from './tasks.js';
import { sendSchedule } from './schedule.js';
import { listenToReminders } from './reminders.js';
import { renderCalendar, setUpCalendarPanel } from './calendar_panel.js';
import { setUpSettings } from './settings.js';
import { setUpLiveOverlay } from './live_overlay.js';
import { listenToDesktop } from './desktop_commands.js';

function listenToService() {
  const events = new EventSource('api/events');
  events.addEventListener('tasks', (event) => {
    state.tasks = JSON.parse(event.data);
    renderTasks();
    sendSchedule();
  });
  events.addEventListener('notes', (event) => notesChangedOutside(JSON.parse(event.data).changed));
  events.addEventListener('calendar', (event) => renderCalendar(JSON.parse(event.data)));
}

async function start() {
  listenToDesktop();
  listenToReminders();
  for (const item of document.querySelectorAll('.nav-item')) {
    item.addEventListener('click', () => {
      state.navigated = true;
      if (item.dataset.view === 'tasks') showTasks(item.dataset.filter);
      else showView(item.dataset.view);
    });
  }
  setUpNotes();
  setUpTasks();
  setUpSettings();
  setUpCalendarPanel();
  setUpLiveOverlay();
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
