// What the desktop shell asks of the page: its menu commands, saving everything before it quits,
// and opening a note.
import * as desktop from './bridge.js';
import { state } from './state.js';
import { $ } from './page.js';
import { showTasks } from './views.js';
import { openNote, saveNow, toggleBullet } from './notes.js';
import { taskWritesDone } from './tasks.js';

export function listenToDesktop() {
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
      await taskWritesDone();
      desktop.answerFlush(true);
    } catch (error) {
      desktop.answerFlush(false, `“${state.note ? state.note.title : 'The note'}” could not be saved: ${error.message}`);
    }
  });

  window.addEventListener('lumory-open-note', (event) => {
    const path = event.detail && event.detail.path;
    if (typeof path === 'string') openNote(path);
  });
}
