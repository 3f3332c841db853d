// The live overlay: a small floating card with the level of the sound the computer plays and the
// next timed task. Dragged by its head; closed or made click-through from its buttons.
import * as desktop from './bridge.js';

const $ = (id) => document.getElementById(id);
const kFloorDb = -60;
// Levels come 50 times a second: the bar follows each, the figure (and what a screen reader
// hears) changes at most 10 times a second, which is as fast as anyone reads it.
const kFigureIntervalMs = 100;
let peakDb = kFloorDb;
let peakAt = 0;
let figureShownAt = -Infinity;

function percentOf(db) {
  return Math.max(0, Math.min(100, ((db - kFloorDb) / -kFloorDb) * 100));
}

function showLevel(level, { immediately = false } = {}) {
  const db = Math.max(kFloorDb, level.db);
  const peak = level.peak > 0 ? Math.max(kFloorDb, 20 * Math.log10(level.peak)) : kFloorDb;
  const now = performance.now();
  if (peak >= peakDb || now - peakAt > 1500) {
    peakDb = peak;
    peakAt = now;
  }
  $('meter-fill').style.left = `${percentOf(db)}%`;
  $('meter-peak').style.left = `${percentOf(peakDb)}%`;
  $('meter').classList.toggle('loud', db > -6);
  if (!immediately && now - figureShownAt < kFigureIntervalMs) return;
  figureShownAt = now;
  $('meter').setAttribute('aria-valuenow', String(Math.round(db)));
  $('level').textContent = db <= kFloorDb ? 'Silence' : `${db.toFixed(1)} dB`;
}

function showStatus(status) {
  const texts = { off: '', starting: 'Listening for sound…', running: '' };
  $('status').textContent = status.message || texts[status.state] || '';
  $('status').className = `status ${status.state === 'stopped' || status.state === 'unavailable' ? 'problem' : ''}`;
  if (status.state !== 'running') showLevel({ db: kFloorDb, peak: 0 }, { immediately: true });
}

async function showNextTask() {
  try {
    const tasks = await desktop.api('api/schedule');
    const next = tasks.find((task) => task.at > Date.now());
    $('next').textContent = next
      ? `Next: ${next.title} at ${new Date(next.at).toLocaleTimeString([], { hour: '2-digit', minute: '2-digit' })}`
      : 'No more timed tasks today.';
  } catch {
    $('next').textContent = '';
  }
}

function tick() {
  $('clock').textContent = new Date().toLocaleTimeString([], { hour: '2-digit', minute: '2-digit' });
}

function start() {
  const events = new EventSource('api/live');
  events.addEventListener('level', (event) => showLevel(JSON.parse(event.data)));
  events.addEventListener('live-status', (event) => showStatus(JSON.parse(event.data)));
  events.addEventListener('error', () => showStatus({ state: 'stopped', message: 'The Lumory service cannot be reached.' }));

  $('close').addEventListener('click', () => {
    if (!desktop.overlay('close')) window.close();
  });
  const clickThrough = $('click-through');
  if (!desktop.hasDesktop('lumoryDesktopOverlay')) clickThrough.hidden = true;
  clickThrough.addEventListener('click', () => desktop.overlay('clickThrough', true));

  tick();
  setInterval(tick, 10000);
  showNextTask();
  setInterval(showNextTask, 60000);
}

start();
