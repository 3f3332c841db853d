#!/usr/bin/env node
// The reference service, noting in $HOME/ready-time the monotonic time (microseconds) at which
// it writes its ready line.
'use strict';
const fs = require('fs');
const path = require('path');

const write = process.stdout.write.bind(process.stdout);
process.stdout.write = (chunk, ...rest) => {
  if (String(chunk).includes('"ready"')) {
    const micros = process.hrtime.bigint() / 1000n;
    fs.writeFileSync(path.join(process.env.HOME, 'ready-time'), micros.toString());
  }
  return write(chunk, ...rest);
};
require(path.join(__dirname, 'reference-server.js'));
