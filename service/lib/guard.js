// Who may talk to the service: only requests for the announced host and port, under the secret
// path chosen at launch, with bounded bodies. Other local users and web pages in a browser know
// neither the secret nor (through DNS rebinding) the right Host.
'use strict';

const crypto = require('node:crypto');

class RequestError extends Error {
  constructor(status, message) {
    super(message);
    this.status = status;
  }
}

function newSecret() {
  return crypto.randomBytes(18).toString('base64url');
}

function hostForUrl(host) {
  return host.includes(':') ? `[${host}]` : host;
}

// The path inside the service, or null when the request does not carry the secret prefix.
function pathInside(requestPath, secret) {
  const prefix = `/${secret}/`;
  if (requestPath.length < prefix.length) return null;
  const given = Buffer.from(requestPath.slice(0, prefix.length));
  const wanted = Buffer.from(prefix);
  if (given.length !== wanted.length || !crypto.timingSafeEqual(given, wanted)) return null;
  return requestPath.slice(prefix.length);
}

function hostAllowed(headerHost, announcedHost) {
  return typeof headerHost === 'string' && headerHost.toLowerCase() === announcedHost.toLowerCase();
}

// A page of another origin may send a request but never carries our Origin.
function originAllowed(origin, announcedOrigin) {
  return origin === undefined || origin === announcedOrigin;
}

// Past its limit a body is still read, and dropped, so that the client can finish sending and
// read the refusal; a body far past the limit ends the connection instead.
const kDrainLimit = 16 * 1024 * 1024;

function drain(request, alreadyRead) {
  let dropped = alreadyRead;
  request.on('data', (chunk) => {
    dropped += chunk.length;
    if (dropped > kDrainLimit) request.destroy();
  });
  request.resume();
}

// Reads a JSON body of at most `limit` bytes. Form and plain-text bodies, which any web page may
// send without asking, are refused by their type.
function readJson(request, limit) {
  return new Promise((resolve, reject) => {
    const type = request.headers['content-type'];
    if (type !== undefined && !/^application\/json\s*(;|$)/i.test(type)) {
      reject(new RequestError(415, 'Send JSON with the type application/json'));
      drain(request, 0);
      return;
    }
    const declared = Number(request.headers['content-length']);
    if (Number.isFinite(declared) && declared > limit) {
      reject(new RequestError(413, 'The request is too large'));
      drain(request, 0);
      return;
    }
    const chunks = [];
    let size = 0;
    request.on('data', (chunk) => {
      size += chunk.length;
      if (size > limit) {
        chunks.length = 0;
        request.removeAllListeners('data');
        request.removeAllListeners('end');
        reject(new RequestError(413, 'The request is too large'));
        drain(request, size);
        return;
      }
      chunks.push(chunk);
    });
    request.on('end', () => {
      const text = Buffer.concat(chunks).toString('utf8');
      try {
        resolve(text ? JSON.parse(text) : null);
      } catch {
        reject(new RequestError(400, 'The request body is not JSON'));
      }
    });
    request.on('error', reject);
  });
}

module.exports = { RequestError, newSecret, hostForUrl, pathInside, hostAllowed, originAllowed, readJson };
