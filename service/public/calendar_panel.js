// Today's events and reminders from the desktop's calendar, beside the main pane.
import * as desktop from './bridge.js';
import { $, element, toast } from './page.js';
import { timeText, dueText } from './times.js';

export function renderCalendar(snapshot) {
  const message = $('calendar-message');
  const ready = snapshot.state === 'ready';
  message.hidden = !snapshot.message;
  message.textContent = snapshot.message || '';
  message.className = `calendar-message ${ready ? 'note' : 'warning'}`;
  $('calendar-day').textContent = new Date().toLocaleDateString([], { weekday: 'long', day: 'numeric', month: 'long' });
  const events = ready ? snapshot.events : [];
  $('event-list').replaceChildren(...(events.length ? events.map((event) => element('li', { class: 'event' },
    element('span', { class: 'dot', dataset: { color: event.color || '' } }),
    element('div', {},
      element('span', { class: 'event-time' }, event.isAllDay ? 'All day'
        : `${timeText(Date.parse(event.start))} – ${timeText(Date.parse(event.end))}`),
      element('span', { class: 'event-title' }, event.title || 'Untitled event'),
      event.location ? element('span', { class: 'event-place' }, event.location) : null)))
    : [element('li', { class: 'empty' }, ready ? 'No events today' : '—')]));
  const reminders = ready ? snapshot.reminders : [];
  $('reminder-list').replaceChildren(...(reminders.length ? reminders.map((reminder) => element('li', { class: 'reminder' },
    element('input', { type: 'checkbox', class: 'check', 'aria-label': 'Completed', disabled: !reminder.writable,
      onchange: async (event) => {
        try {
          await desktop.api('api/calendar/reminder', { method: 'PATCH', body: { id: reminder.id, completed: event.target.checked } });
        } catch (error) {
          event.target.checked = !event.target.checked;
          toast('The reminder could not be changed', error.message);
        }
      } }),
    element('div', {},
      element('span', { class: 'event-title' }, reminder.title || 'Untitled reminder'),
      element('span', { class: 'event-time' }, [reminder.list,
        reminder.dueDate && reminder.hasDueTime ? dueText(Date.parse(reminder.dueDate)) : ''].filter(Boolean).join(' · ')))))
    : [element('li', { class: 'empty' }, ready ? 'No reminders due' : '—')]));
  // Colours come from the calendars; set through the style object, which the page policy allows.
  for (const dot of document.querySelectorAll('.dot[data-color]')) {
    if (/^#[0-9A-F]{6}$/i.test(dot.dataset.color)) dot.style.background = dot.dataset.color;
  }
  $('settings-calendar').textContent = ready ? 'Connected to your calendars.' : snapshot.message;
}

export function setUpCalendarPanel() {
  $('calendar-retry').addEventListener('click', () => desktop.api('api/calendar/access', { method: 'POST', body: {} }).catch(() => {}));
  $('toggle-calendar').addEventListener('click', () => document.body.classList.toggle('no-calendar'));
}
