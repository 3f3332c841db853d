#!/usr/bin/env node
// A stand-in for `lumory-audio capture` in the service tests: a 440 Hz tone at half scale as
// 24 kHz mono s16le, written in pieces that split samples between writes.
//   FAKE_AUDIO_FAIL     a message: written to standard error, then exit 1
//   FAKE_AUDIO_PIDFILE  a file that gets this process's id
'use strict';

const fs = require('node:fs');

if (process.argv[2] !== 'capture') {
  process.stderr.write('usage: lumory-audio status|capture\n');
  process.exit(1);
}
if (process.env.FAKE_AUDIO_PIDFILE) fs.writeFileSync(process.env.FAKE_AUDIO_PIDFILE, String(process.pid));
if (process.env.FAKE_AUDIO_FAIL) {
  process.stderr.write(`${process.env.FAKE_AUDIO_FAIL}\n`);
  process.exit(1);
}
let phase = 0;
setInterval(() => {
  const samples = Buffer.alloc(1200 * 2);
  for (let index = 0; index < 1200; index += 1) {
    samples.writeInt16LE(Math.round(16384 * Math.sin(phase)), index * 2);
    phase += (2 * Math.PI * 440) / 24000;
  }
  process.stdout.write(samples.subarray(0, 1001));
  process.stdout.write(samples.subarray(1001));
}, 50);
