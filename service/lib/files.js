// Whole-file writes that never leave half a file behind: the text goes to a temporary file in the
// same folder, reaches the disk, and only then replaces the old file by a rename.
'use strict';

const fs = require('node:fs');
const path = require('node:path');
const crypto = require('node:crypto');

// With `replaceOnly`, a file that vanished (deleted, or renamed by another program) while the text
// was on its way is not made again: the write fails with ENOENT instead.
async function writeFileAtomic(target, data, { mode, replaceOnly = false } = {}) {
  // Writing through a link keeps the link: the real file is the one replaced.
  let real = target;
  try {
    real = await fs.promises.realpath(target);
  } catch (error) {
    if (error.code !== 'ENOENT') throw error;
  }
  let fileMode = mode;
  if (fileMode === undefined) {
    try {
      fileMode = (await fs.promises.stat(real)).mode & 0o777;
    } catch {
      fileMode = 0o644;
    }
  }
  const folder = path.dirname(real);
  const temporary = path.join(folder,
    `.${path.basename(real)}.${crypto.randomBytes(6).toString('hex')}.tmp`);
  let handle;
  try {
    handle = await fs.promises.open(temporary, 'wx', fileMode);
    await handle.writeFile(data);
    await handle.sync();
    await handle.close();
    handle = undefined;
    if (replaceOnly) await fs.promises.lstat(real);
    await fs.promises.rename(temporary, real);
  } catch (error) {
    if (handle) await handle.close().catch(() => {});
    await fs.promises.unlink(temporary).catch(() => {});
    throw error;
  }
  // The rename itself reaches the disk with the folder.
  try {
    const directory = await fs.promises.open(folder, 'r');
    await directory.sync().catch(() => {});
    await directory.close();
  } catch {
    // Some file systems cannot open or sync folders; the rename has still happened.
  }
}

// Jobs given under one key run one at a time, in the order given; other keys do not wait.
class SerialQueues {
  constructor() {
    this.tails = new Map();
  }

  run(key, job) {
    const result = (this.tails.get(key) || Promise.resolve()).then(() => job());
    const tail = result.catch(() => {});
    this.tails.set(key, tail);
    tail.then(() => {
      if (this.tails.get(key) === tail) this.tails.delete(key);
    });
    return result;
  }
}

module.exports = { writeFileAtomic, SerialQueues };
