// Shared pieces of the service tests: starting the service as the shell does, plain HTTP
// requests with any Host header, and throw-away folders.
'use strict';

const { spawn } = require('node:child_process');
const http = require('node:http');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const root = path.resolve(__dirname, '..', '..');
const serverFile = process.env.LUMORY_SERVER || path.join(root, 'service', 'server.js');
const fakes = path.join(root, 'tests', 'fakes');

function temporaryFolder(t) {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'lumory-service-test-'));
  t.after(() => fs.rmSync(folder, { recursive: true, force: true }));
  return folder;
}

function withTimeout(promise, ms, what) {
  let timer;
  return Promise.race([
    promise,
    new Promise((_, reject) => { timer = setTimeout(() => reject(new Error(what)), ms); }),
  ]).finally(() => clearTimeout(timer));
}

// The service as a child process with the shell's kind of environment; a given home folder lets a
// second process start on the workspace of the first.
function startProcess(t, env = {}, home = temporaryFolder(t), stdin = 'ignore') {
  const child = spawn(process.execPath, [serverFile], {
    env: { PATH: '/usr/bin:/bin', HOME: home, HOST: '127.0.0.1', PORT: '0', ...env },
    stdio: [stdin, 'pipe', 'pipe'],
  });
  t.after(() => child.kill('SIGKILL'));
  let errors = '';
  child.stderr.on('data', (chunk) => { errors += chunk; });
  const ready = new Promise((resolve, reject) => {
    let buffer = '';
    const timer = setTimeout(() => reject(new Error(`no ready line; stderr: ${errors}`)), 10000);
    child.stdout.on('data', (chunk) => {
      buffer += chunk;
      const line = buffer.split('\n').find((text) => text.includes('"ready"'));
      if (line) {
        clearTimeout(timer);
        resolve(JSON.parse(line));
      }
    });
    child.on('exit', () => {
      clearTimeout(timer);
      reject(new Error(`exited without a ready line; stderr: ${errors}`));
    });
  });
  ready.catch(() => {});
  const exited = new Promise((resolve) => child.on('exit', (code, signal) => resolve({ code, signal })));
  return { child, ready, exited, home, errors: () => errors };
}

// One request; `headers.host` may be anything, as another program could send it, or null for
// none at all.
function request(url, { method = 'GET', body, headers = {} } = {}) {
  const target = new URL(url);
  const sentHeaders = { host: target.host, ...headers };
  if (sentHeaders.host === null) delete sentHeaders.host;
  return new Promise((resolve, reject) => {
    const sent = http.request({ host: target.hostname, port: target.port, path: target.pathname + target.search,
      method, headers: sentHeaders, setHost: false, timeout: 5000 }, (response) => {
      let text = '';
      response.setEncoding('utf8');
      response.on('data', (chunk) => { text += chunk; });
      response.on('end', () => {
        let json;
        try {
          json = JSON.parse(text);
        } catch {
          json = undefined;
        }
        resolve({ status: response.statusCode, headers: response.headers, text, json });
      });
    });
    sent.on('error', reject);
    sent.on('timeout', () => sent.destroy(new Error('timed out')));
    if (body !== undefined) sent.end(typeof body === 'string' ? body : JSON.stringify(body));
    else sent.end();
  });
}

function json(url, method, body) {
  return request(url, { method, body, headers: body === undefined ? {} : { 'content-type': 'application/json' } });
}

module.exports = { root, serverFile, fakes, temporaryFolder, withTimeout, startProcess, request, json };
