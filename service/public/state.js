// What the page knows and shows, shared by its parts.
export const state = {
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
