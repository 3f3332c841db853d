// The level of the sound the computer plays, for the live overlay's meter: `lumory-audio capture`
// streams 24 kHz mono signed 16-bit PCM, read here while at least one overlay is listening.
'use strict';

const { EventEmitter } = require('node:events');
const childProcess = require('node:child_process');

const kSampleRate = 24000;
// One level per 20 ms, the fragment the helper asks the sound server for: a longer block would
// hold a sound's onset back by up to its length before the meter can show it.
const kBlockSamples = kSampleRate / 50;
const kRetryMs = 5000;

// Root mean square and peak of one block of samples, both from 0 to 1, and the RMS in dBFS.
function levelOf(samples) {
  let sum = 0;
  let peak = 0;
  for (const sample of samples) {
    const value = Math.abs(sample) / 32768;
    sum += value * value;
    if (value > peak) peak = value;
  }
  const rms = samples.length ? Math.sqrt(sum / samples.length) : 0;
  const db = rms > 0 ? Math.max(-90, 20 * Math.log10(rms)) : -90;
  return { rms, peak, db: Math.round(db * 10) / 10 };
}

// Cuts a byte stream into blocks of 20 ms; a sample split between two chunks is kept whole.
class PcmBlocks {
  constructor(onBlock) {
    this.onBlock = onBlock;
    this.pending = Buffer.alloc(0);
  }

  push(chunk) {
    this.pending = this.pending.length ? Buffer.concat([this.pending, chunk]) : chunk;
    const blockBytes = kBlockSamples * 2;
    while (this.pending.length >= blockBytes) {
      const block = this.pending.subarray(0, blockBytes);
      const samples = new Int16Array(kBlockSamples);
      for (let index = 0; index < kBlockSamples; index += 1) samples[index] = block.readInt16LE(index * 2);
      this.pending = this.pending.subarray(blockBytes);
      this.onBlock(samples);
    }
  }
}

class LiveLevels extends EventEmitter {
  constructor({ helperPath, env = process.env, spawn = childProcess.spawn }) {
    super();
    this.helperPath = helperPath;
    this.env = env;
    this.spawn = spawn;
    this.listeners = 0;
    this.child = null;
    this.retryTimer = null;
    this.status = helperPath
      ? { state: 'off', message: '' }
      : { state: 'unavailable', message: 'Open Lumory from the desktop to see the sound level.' };
  }

  setStatus(status) {
    this.status = status;
    this.emit('status', status);
  }

  // Capture runs only while someone listens; the returned function stops listening.
  listen() {
    this.listeners += 1;
    if (this.listeners === 1) this.startCapture();
    let done = false;
    return () => {
      if (done) return;
      done = true;
      this.listeners -= 1;
      if (this.listeners === 0) this.stopCapture();
    };
  }

  startCapture() {
    clearTimeout(this.retryTimer);
    if (!this.helperPath || this.child || this.listeners === 0) return;
    let child;
    try {
      child = this.spawn(this.helperPath, ['capture'], { env: this.env, stdio: ['ignore', 'pipe', 'pipe'] });
    } catch (error) {
      this.captureEnded(`The audio helper could not start: ${error.message}`);
      return;
    }
    this.child = child;
    this.setStatus({ state: 'starting', message: 'Listening for sound…' });
    let errors = '';
    const blocks = new PcmBlocks((samples) => {
      if (this.status.state !== 'running') this.setStatus({ state: 'running', message: '' });
      this.emit('level', levelOf(samples));
    });
    child.stdout.on('data', (chunk) => blocks.push(chunk));
    child.stderr.setEncoding('utf8');
    child.stderr.on('data', (text) => { errors = (errors + text).slice(-2000); });
    child.on('error', (error) => {
      if (this.child === child) this.captureEnded(`The audio helper could not start: ${error.message}`);
    });
    child.on('close', (code, signal) => {
      if (this.child !== child) return;
      const message = errors.trim().split('\n').pop();
      this.captureEnded(message || `The audio helper stopped (${signal || `status ${code}`}).`);
    });
  }

  captureEnded(message) {
    this.child = null;
    if (this.listeners === 0) {
      this.setStatus({ state: 'off', message: '' });
      return;
    }
    this.setStatus({ state: 'stopped', message });
    this.retryTimer = setTimeout(() => this.startCapture(), kRetryMs);
  }

  stopCapture() {
    clearTimeout(this.retryTimer);
    if (this.child) {
      const child = this.child;
      this.child = null;
      child.kill('SIGTERM');
    }
    if (this.helperPath) this.setStatus({ state: 'off', message: '' });
  }
}

module.exports = { LiveLevels, PcmBlocks, levelOf, kBlockSamples };
