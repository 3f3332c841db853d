// Due times as people type them: "14:30", "2pm", "tomorrow 9:00", "fri 10am", "2026-12-24 18:00",
// "in 20 min". Shared by the page and the service's tests. A day without a time means 09:00.
const kDays = ['sunday', 'monday', 'tuesday', 'wednesday', 'thursday', 'friday', 'saturday'];
const kDefaultHour = 9;

function readTime(text) {
  const match = /^(\d{1,2})(?:[:.h](\d{2}))?\s*(am|pm)?$/.exec(text);
  if (!match) return null;
  let hour = Number(match[1]);
  const minute = match[2] === undefined ? 0 : Number(match[2]);
  if (match[3]) {
    if (hour < 1 || hour > 12) return null;
    hour = (hour % 12) + (match[3] === 'pm' ? 12 : 0);
  } else if (match[2] === undefined) {
    return null;
  }
  if (hour > 23 || minute > 59) return null;
  return { hour, minute };
}

// Milliseconds since 1970, null for an empty text, undefined for a text that is not a due time.
export function parseDue(input, now = new Date()) {
  const text = String(input ?? '').trim().toLowerCase().replace(/\s+/g, ' ');
  if (!text) return null;
  const relative = /^in (\d{1,4}) ?(m|min|mins|minutes?|h|hours?)$/.exec(text);
  if (relative) {
    const amount = Number(relative[1]) * (relative[2].startsWith('h') ? 3600000 : 60000);
    return now.getTime() + amount;
  }
  let day = null;
  let rest = text;
  const iso = /^(\d{4})-(\d{2})-(\d{2})(?:[ t](.*))?$/.exec(text);
  if (iso) {
    day = new Date(Number(iso[1]), Number(iso[2]) - 1, Number(iso[3]));
    if (day.getMonth() !== Number(iso[2]) - 1 || day.getDate() !== Number(iso[3])) return undefined;
    rest = iso[4] || '';
  } else {
    const [first, ...others] = text.split(' ');
    const weekday = first.length >= 3 ? kDays.findIndex((name) => name.startsWith(first)) : -1;
    if (first === 'today' || first === 'tomorrow') {
      day = new Date(now.getFullYear(), now.getMonth(), now.getDate() + (first === 'tomorrow' ? 1 : 0));
      rest = others.join(' ');
    } else if (weekday >= 0) {
      // The next such day, a week ahead when it is today.
      const ahead = (weekday - now.getDay() + 7) % 7 || 7;
      day = new Date(now.getFullYear(), now.getMonth(), now.getDate() + ahead);
      rest = others.join(' ');
    }
  }
  rest = rest.replace(/^at /, '').trim();
  const time = rest ? readTime(rest) : { hour: kDefaultHour, minute: 0 };
  if (!time) return undefined;
  if (!day) {
    // A time alone is today's, or tomorrow's once it has passed.
    day = new Date(now.getFullYear(), now.getMonth(), now.getDate());
    const today = new Date(day.getFullYear(), day.getMonth(), day.getDate(), time.hour, time.minute);
    if (today.getTime() <= now.getTime()) day = new Date(day.getFullYear(), day.getMonth(), day.getDate() + 1);
  }
  return new Date(day.getFullYear(), day.getMonth(), day.getDate(), time.hour, time.minute).getTime();
}

// The text that reads back to the same due time.
export function dueInputText(ms) {
  const date = new Date(ms);
  const pad = (value) => String(value).padStart(2, '0');
  return `${date.getFullYear()}-${pad(date.getMonth() + 1)}-${pad(date.getDate())} ${pad(date.getHours())}:${pad(date.getMinutes())}`;
}
