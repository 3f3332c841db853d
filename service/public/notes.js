// Notes: the list in the sidebar and an editor that saves as you type, one write at a time.
import * as desktop from './bridge.js';
import { state } from './state.js';
import { $, element, showBanner, toast } from './page.js';
import { showView, showTasks } from './views.js';

const kSaveDelayMs = 700;
let saveTimer = null;

export function renderNotes() {
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

export async function openNote(path) {
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
export async function saveNow() {
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

export async function newNote() {
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
export function toggleBullet() {
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

// Another program changed the workspace (`changed`: the note's path, or empty for any): the list
// follows, and so does the open note unless it has edits of its own.
export async function notesChangedOutside(changed) {
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
}

export function setUpNotes() {
  $('editor').addEventListener('input', noteEdited);
  $('new-note').addEventListener('click', newNote);
  $('note-delete').addEventListener('click', deleteNote);
  $('note-bullet').addEventListener('click', toggleBullet);

  window.addEventListener('beforeunload', (event) => {
    if (!state.dirty || !state.note) return;
    desktop.api(`api/note?path=${encodeURIComponent(state.note.path)}`,
      { method: 'PUT', body: { text: $('editor').value }, keepalive: true }).catch(() => {});
    // A browser asks before leaving; the desktop saves through its own flush instead.
    if (!desktop.hasDesktop('lumoryDesktopFlush')) event.preventDefault();
  });
}
