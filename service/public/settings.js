// The settings view: notification permission, a test notification, the desktop's own settings.
import * as desktop from './bridge.js';
import { state } from './state.js';
import { $, toast } from './page.js';
import { drawnBy } from './views.js';

const kPermissionTexts = {
  granted: 'Lumory may show notifications.',
  denied: 'Notifications are turned off for Lumory.',
  notDetermined: 'Lumory has not asked yet.',
  unsupported: 'This desktop reports an unknown notification setting.',
};

async function refreshSettings() {
  $('settings-workspace').textContent = state.workspace;
  const inDesktop = desktop.hasDesktop();
  $('settings-mode').textContent = inDesktop ? ''
    : 'Running in a browser: reminders, the live overlay and saving before quitting need the Lumory app.';
  $('open-settings').disabled = !inDesktop;
  if (!inDesktop) {
    const permission = 'Notification' in window ? Notification.permission : 'unsupported';
    $('permission-text').textContent = permission === 'default' ? 'The browser has not asked yet.'
      : kPermissionTexts[permission] || kPermissionTexts.unsupported;
    return;
  }
  try {
    const answer = await desktop.askReminders('permission');
    $('permission-text').textContent = answer.error || kPermissionTexts[answer.status] || answer.status;
  } catch (error) {
    $('permission-text').textContent = error.message;
  }
}

async function askPermission() {
  if (!desktop.hasDesktop()) {
    if ('Notification' in window) await Notification.requestPermission();
    refreshSettings();
    return;
  }
  try {
    const answer = await desktop.askReminders('requestPermission');
    $('permission-text').textContent = answer.error || kPermissionTexts[answer.status] || answer.status;
  } catch (error) {
    $('permission-text').textContent = error.message;
  }
}

async function testNotification() {
  const sound = $('test-sound').checked;
  if (!desktop.hasDesktop()) {
    if ('Notification' in window && Notification.permission === 'granted') {
      setTimeout(() => new Notification('Test reminder', { body: 'Lumory notifications are ready', silent: !sound }), 1000);
    } else {
      toast('Notifications need the Lumory app', 'Or allow notifications for this page first.');
    }
    return;
  }
  try {
    await desktop.askReminders('test', { sound });
    toast('Test notification sent', 'It appears in a second.', [], 4000);
  } catch (error) {
    toast('The test notification failed', error.message);
  }
}

export function setUpSettings() {
  drawnBy('settings', refreshSettings);
  $('permission-ask').addEventListener('click', askPermission);
  $('test-notification').addEventListener('click', testNotification);
  $('open-settings').addEventListener('click', () => desktop.askReminders('openSettings').catch(() => {}));
}
