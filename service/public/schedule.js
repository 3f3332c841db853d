// The desktop keeps its own copy of the timed reminders, to notify while the page is closed.
import * as desktop from './bridge.js';

// The complete list of timed reminders goes to the desktop after every change.
export async function sendSchedule() {
  if (!desktop.hasDesktop()) return;
  try {
    desktop.schedule(await desktop.api('api/schedule'));
  } catch {
    // The next change sends the list again.
  }
}
