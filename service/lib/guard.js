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

// Reads a JSON body of at most `limit` bytes. Form and plain-text bodies, which any web page may
// send without asking, are refused by their type.
function readJson(request, limit) {
  return new Promise((resolve, reject) => {
    const type = request.headers['content-type'];
    if (type !== undefined && !/^application\/json\s*(;|$)/i.test(type)) {
      reject(new RequestError(415, 'Send JSON with the type application/json'));
      request.resume();
      return;
    }
    const declared = Number(request.headers['content-length']);
    if (Number.isFinite(declared) && declared > limit) {
      reject(new RequestError(413, 'The request is too large'));
      request.resume();
      return;
    }
    // Past the limit the rest is read and dropped, so the client gets the answer.
    const chunks = [];
    let size = 0;
    let failed = false;
    request.on('data', (chunk) => {
      if (failed) return;
      size += chunk.length;
      if (size > limit) {
        failed = true;
        chunks.length = 0;
        reject(new RequestError(413, 'The request is too large'));
        return;
      }
      chunks.push(chunk);
    });
    request.on('end', () => {
      if (failed) return;
      const text = Buffer.concat(chunks).toString('utf8');
      try {
        resolve(text ? JSON.parse(text) : null);
      } catch {
        reject(new RequestError(400, 'The request body is not JSON'));
      }
    });
    request.on('error', (error) => {
      if (!failed) reject(error);
      failed = true;
    });
  });
}

module.exports = { RequestError, newSecret, hostForUrl, pathInside, hostAllowed, originAllowed, readJson };
