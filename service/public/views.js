// The main pane shows one view at a time (a note, the tasks, the settings); the top bar and the
// window title name it.
import { state } from './state.js';
import { $ } from './page.js';

export const kViewTitles = { today: 'Today', tomorrow: 'Tomorrow', upcoming: 'Upcoming', undated: 'No date',
  all: 'All tasks', done: 'Done' };

const drawers = new Map();

// `draw` brings a view up to date each time it is shown.
export function drawnBy(view, draw) {
  drawers.set(view, draw);
}

export function showView(view) {
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
  const draw = drawers.get(view);
  if (draw) draw();
}

export function showTasks(filter) {
  state.filter = filter;
  showView('tasks');
}
