// Notes are the Markdown files directly inside the workspace folder; a note's path is its file
// name. Nothing outside that folder can be named, read or written.
'use strict';

const fs = require('node:fs');
const path = require('node:path');
const { writeFileAtomic, SerialQueues } = require('./files');

const kMaxNameBytes = 240;
const kWelcomeNote = 'Welcome.md';
const kWelcomeText = `# Welcome to Lumory

This note is a Markdown file in your workspace folder. Edit it here or in any text editor:
Lumory saves as you type and again before it quits.

- Press Ctrl+T for today's tasks and Ctrl+Shift+T for tomorrow's.
- Press Ctrl+Shift+L to make the current line a bullet.
- Give a task a due time and Lumory reminds you with a notification.
- Open the live overlay from the top bar to see the level of the sound your computer plays.
`;

class NoteError extends Error {
  constructor(status, message) {
    super(message);
    this.status = status;
  }
}

// A valid note path is a plain file name ending in .md: no folders, no hidden files.
function checkNotePath(name) {
  if (typeof name !== 'string' || !name.endsWith('.md') || name.length <= 3) {
    throw new NoteError(400, 'A note path is a file name ending in .md');
  }
  if (name.includes('/') || name.includes('\\') || name.includes('\0') || name.startsWith('.')) {
    throw new NoteError(400, 'A note path cannot name a folder or a hidden file');
  }
  if (Buffer.byteLength(name) > kMaxNameBytes) throw new NoteError(400, 'The note name is too long');
  return name;
}

function noteTitle(name, text) {
  const heading = /^#\s+(.+?)\s*#*\s*$/m.exec(text.slice(0, 4096));
  return heading ? heading[1] : name.slice(0, -3);
}

// A file name from a title: letters, digits, spaces and a few marks; the rest becomes a space.
function fileNameFor(title) {
  const cleaned = String(title || '').normalize('NFC').replace(/[^\p{L}\p{N} _\-()]+/gu, ' ')
    .replace(/\s+/g, ' ').trim().slice(0, 80);
  return cleaned || 'Untitled';
}

class NoteStore {
  constructor(folder) {
    this.folder = folder;
    // Saves, deletes and creations of one note run one at a time, in the order they came.
    this.queues = new SerialQueues();
    // Notes deleted through Lumory. The page may still send a save that was on its way: it must
    // not bring the note back.
    this.deleted = new Set();
  }

  // Creates the workspace on first use, with one note that explains it.
  async prepare() {
    let created = false;
    try {
      await fs.promises.mkdir(this.folder, { recursive: false, mode: 0o700 });
      created = true;
    } catch (error) {
      if (error.code !== 'EEXIST') {
        await fs.promises.mkdir(this.folder, { recursive: true, mode: 0o700 });
        created = true;
      }
    }
    const stat = await fs.promises.stat(this.folder);
    if (!stat.isDirectory()) throw new Error(`${this.folder} is not a folder`);
    if (created) await writeFileAtomic(path.join(this.folder, kWelcomeNote), kWelcomeText);
  }

  fileOf(name) {
    return path.join(this.folder, checkNotePath(name));
  }

  async list() {
    const entries = await fs.promises.readdir(this.folder, { withFileTypes: true });
    const notes = [];
    for (const entry of entries) {
      if (!entry.name.endsWith('.md') || entry.name.startsWith('.')) continue;
      try {
        checkNotePath(entry.name);
        const file = path.join(this.folder, entry.name);
        const stat = await fs.promises.stat(file);
        if (!stat.isFile()) continue;
        const handle = await fs.promises.open(file, 'r');
        const head = Buffer.alloc(Math.min(stat.size, 4096));
        await handle.read(head, 0, head.length, 0).finally(() => handle.close());
        notes.push({ path: entry.name, title: noteTitle(entry.name, head.toString('utf8')),
          modified: stat.mtimeMs, size: stat.size });
      } catch {
        // A file that vanished or cannot be read is simply not listed.
      }
    }
    notes.sort((a, b) => b.modified - a.modified || a.path.localeCompare(b.path));
    return notes;
  }

  async read(name) {
    const file = this.fileOf(name);
    try {
      const [text, stat] = await Promise.all([fs.promises.readFile(file, 'utf8'),
        fs.promises.stat(file)]);
      return { path: name, text, title: noteTitle(name, text), modified: stat.mtimeMs };
    } catch (error) {
      if (error.code === 'ENOENT') throw new NoteError(404, `There is no note ${name}`);
      throw error;
    }
  }

  // A save makes the note when there is none, unless Lumory deleted it; a note that another
  // program deletes or renames while the save is on its way stays gone.
  async write(name, text) {
    if (typeof text !== 'string') throw new NoteError(400, 'A note needs its text');
    const file = this.fileOf(name);
    return this.queues.run(name, async () => {
      const existed = await fs.promises.stat(file).then(() => true, (error) => {
        if (error.code === 'ENOENT') return false;
        throw error;
      });
      if (!existed && this.deleted.has(name)) throw new NoteError(404, `There is no note ${name}`);
      try {
        await writeFileAtomic(file, text, { replaceOnly: existed });
      } catch (error) {
        if (existed && error.code === 'ENOENT') {
          throw new NoteError(409, `${name} was moved or deleted while it was being saved`);
        }
        throw error;
      }
      this.deleted.delete(name);
      const stat = await fs.promises.stat(file);
      return { path: name, title: noteTitle(name, text), modified: stat.mtimeMs };
    });
  }

  // A new note under a free name made from the title; never replaces an existing file.
  async create(title) {
    const base = fileNameFor(title);
    const text = `# ${title && String(title).trim() ? String(title).trim() : 'Untitled'}\n\n`;
    for (let number = 1; number < 1000; number += 1) {
      const name = number === 1 ? `${base}.md` : `${base} ${number}.md`;
      try {
        await this.queues.run(name, async () => {
          const handle = await fs.promises.open(this.fileOf(name), 'wx', 0o644);
          await handle.writeFile(text);
          await handle.sync();
          await handle.close();
          this.deleted.delete(name);
        });
        return this.read(name);
      } catch (error) {
        if (error.code !== 'EEXIST') throw error;
      }
    }
    throw new NoteError(409, 'There are too many notes with that title');
  }

  async remove(name) {
    const file = this.fileOf(name);
    return this.queues.run(name, async () => {
      try {
        await fs.promises.unlink(file);
      } catch (error) {
        if (error.code === 'ENOENT') throw new NoteError(404, `There is no note ${name}`);
        throw error;
      }
      this.deleted.add(name);
    });
  }
}

module.exports = { NoteStore, NoteError, checkNotePath, noteTitle, kWelcomeNote };
