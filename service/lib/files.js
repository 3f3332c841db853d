// Whole-file writes that never leave half a file behind: the text goes to a temporary file in the
// same folder, reaches the disk, and only then replaces the old file by a rename.
'use strict';

const fs = require('node:fs');
const path = require('node:path');
const crypto = require('node:crypto');

async function writeFileAtomic(target, data, { mode } = {}) {
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

module.exports = { writeFileAtomic };
