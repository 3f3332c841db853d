#!/usr/bin/env node
// The reference service, noting in $HOME/ready-time the monotonic time (microseconds) at which
// it writes its ready line.
'use strict';
const fs = require('fs');
const path = require('path');

const write = process.stdout.write.bind(process.stdout);
process.stdout.write = (chunk, ...rest) => {
  if (!String(chunk).includes('"ready"')) return write(chunk, ...rest);
  // Timed just before the line goes out; the file is written after it so as not to delay it.
  const micros = process.hrtime.bigint() / 1000n;
  const written = write(chunk, ...rest);
  fs.writeFileSync(path.join(process.env.HOME, 'ready-time'), micros.toString());
  return written;
};
require(path.join(__dirname, 'reference-server.js'));
