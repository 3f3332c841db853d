// Reminders that fall due while Lumory is in front, where the desktop shows no banner of its
// own, and the actions a reminder offers (snooze, done, open).
import * as desktop from './bridge.js';
import { state } from './state.js';
import { toast } from './page.js';
import { showTasks } from './views.js';
import { openNote } from './notes.js';
import { renderTasks, taskMatches } from './tasks.js';
import { sendSchedule } from './schedule.js';

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

async function openReminder(reminder) {
  state.tasks = await desktop.api('api/tasks').catch(() => state.tasks);
  const task = taskOfReminder(reminder);
  if (typeof reminder.path === 'string') await openNote(reminder.path);
  else revealTask(task);
}

export function listenToReminders() {
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
}
