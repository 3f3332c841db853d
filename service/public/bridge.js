// The desktop shell's script-message handlers, when the page runs inside it. In a plain browser
// every call reports that there is no desktop, and the page does without.
const handlers = window.webkit && window.webkit.messageHandlers;

export function hasDesktop(name = 'lumoryDesktopReminders') {
  return Boolean(handlers && handlers[name]);
}

export function post(name, body) {
  if (!hasDesktop(name)) return false;
  handlers[name].postMessage(body);
  return true;
}

let nextRequest = 1;
const waiting = new Map();

window.addEventListener('lumory-reminder-native-result', (event) => {
  const detail = event.detail || {};
  const entry = waiting.get(detail.requestId);
  if (!entry) return;
  waiting.delete(detail.requestId);
  clearTimeout(entry.timer);
  entry.resolve(detail);
});

// A reminder request that expects an answer; resolves with the answer's detail.
export function askReminders(action, fields = {}) {
  return new Promise((resolve, reject) => {
    const requestId = `page-${Date.now()}-${nextRequest++}`;
    const timer = setTimeout(() => {
      waiting.delete(requestId);
      reject(new Error('The desktop did not answer.'));
    }, 30000);
    waiting.set(requestId, { resolve, timer });
    if (!post('lumoryDesktopReminders', { ...fields, action, requestId })) {
      clearTimeout(timer);
      waiting.delete(requestId);
      reject(new Error('no desktop'));
    }
  });
}

export function schedule(notifications) {
  return post('lumoryDesktopReminders', { action: 'schedule', notifications });
}

export function overlay(action, value) {
  const body = action === 'clickThrough' ? { action, value } : { action };
  return post('lumoryDesktopOverlay', body);
}

export function answerFlush(ok, error) {
  return post('lumoryDesktopFlush', ok ? { ok: true } : { ok: false, error });
}

// Requests to the service, relative to the page (the address carries the secret path).
export async function api(path, { method = 'GET', body, keepalive = false } = {}) {
  const options = { method, headers: {}, keepalive };
  if (body !== undefined) {
    options.headers['Content-Type'] = 'application/json';
    options.body = JSON.stringify(body);
  }
  let response;
  try {
    response = await fetch(path, options);
  } catch {
    throw new Error('The Lumory service cannot be reached.');
  }
  const text = await response.text();
  let value = null;
  try {
    value = text ? JSON.parse(text) : null;
  } catch {
    value = null;
  }
  if (!response.ok) throw new Error((value && value.error) || `The service answered ${response.status}.`);
  return value;
}
