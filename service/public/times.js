// Times as the page shows them, in the browser's zone and language.
export function startOfDay(date, offsetDays = 0) {
  return new Date(date.getFullYear(), date.getMonth(), date.getDate() + offsetDays).getTime();
}

export function timeText(ms) {
  return new Date(ms).toLocaleTimeString([], { hour: '2-digit', minute: '2-digit' });
}

export function dueText(ms) {
  const now = new Date();
  if (ms >= startOfDay(now) && ms < startOfDay(now, 1)) return `Today ${timeText(ms)}`;
  if (ms >= startOfDay(now, 1) && ms < startOfDay(now, 2)) return `Tomorrow ${timeText(ms)}`;
  if (ms >= startOfDay(now, -1) && ms < startOfDay(now)) return `Yesterday ${timeText(ms)}`;
  return new Date(ms).toLocaleString([], { weekday: 'short', day: 'numeric', month: 'short',
    hour: '2-digit', minute: '2-digit' });
}
