// The top bar's "Live" button: the desktop's floating overlay window, or a small pop-up in a
// browser.
import * as desktop from './bridge.js';
import { $ } from './page.js';

export function setUpLiveOverlay() {
  $('open-overlay').addEventListener('click', () => {
    if (!desktop.overlay('open')) window.open('./?live=overlay', 'lumory-live', 'width=520,height=460');
  });
}
