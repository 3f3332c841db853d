// Small pieces every part of the page uses: elements, the banner and toasts.
export const $ = (id) => document.getElementById(id);

export function element(tag, props = {}, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(props)) {
    if (key === 'class') node.className = value;
    else if (key === 'dataset') Object.assign(node.dataset, value);
    else if (key.startsWith('on')) node.addEventListener(key.slice(2), value);
    else if (value !== undefined && value !== null && value !== false) node.setAttribute(key, value === true ? '' : value);
  }
  for (const child of children.flat()) {
    if (child !== null && child !== undefined && child !== false) node.append(child);
  }
  return node;
}

export function showBanner(text, kind = 'error') {
  const banner = $('banner');
  banner.hidden = !text;
  banner.className = `banner ${kind}`;
  banner.textContent = text || '';
}

export function toast(title, body, actions = [], timeoutMs = 8000) {
  const card = element('div', { class: 'toast', role: 'status' },
    element('div', { class: 'toast-text' }, element('b', {}, title), body ? element('span', {}, body) : null));
  const close = () => card.remove();
  const buttons = element('div', { class: 'toast-actions' });
  for (const action of actions) {
    buttons.append(element('button', { type: 'button', onclick: () => { close(); action.run(); } }, action.label));
  }
  buttons.append(element('button', { type: 'button', class: 'toast-close', 'aria-label': 'Dismiss', onclick: close }, '×'));
  card.append(buttons);
  $('toasts').append(card);
  if (timeoutMs) setTimeout(close, timeoutMs);
}
