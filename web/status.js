// What an action shows while it runs and when it ends: the status line
// under its button, progress while the server is slow, and the question
// asked before anything is destroyed.

// Shows an outcome in a status line: 'ok', 'error' or 'busy'.
export function showStatus(status, kind, ...content) {
  status.className = `status ${kind}`;
  status.replaceChildren(...content);
}

export function code(text) {
  const element = document.createElement('code');
  element.textContent = text;
  return element;
}

// Shows progress in a status line until the returned function is called.
export function showBusy(status) {
  const progress = document.createElement('progress');
  progress.setAttribute('aria-label', 'Waiting for the server');
  const waited = document.createElement('span');
  const started = Date.now();
  const tick = () => {
    const seconds = Math.floor((Date.now() - started) / 1000);
    waited.textContent = seconds > 0 ? ` Waiting for the server… ${seconds} s` : ' Waiting for the server…';
  };
  tick();
  const timer = setInterval(tick, 1000);
  showStatus(status, 'busy', progress, waited);
  return () => clearInterval(timer);
}

export const isBusy = (form) => form.getAttribute('aria-busy') === 'true';
export const statusOf = (form) => form.querySelector(':scope > .status');

// Runs one action of a form: its status line shows progress meanwhile
// and then the outcome, which work() resolves to. The rest of the page
// stays usable; the same form ignores a second submission until the first
// is answered.
export async function runAction(form, work) {
  if (isBusy(form)) return;
  const status = statusOf(form);
  const button = form.querySelector(':scope > .buttons > button[type=submit]');
  form.setAttribute('aria-busy', 'true');
  button.setAttribute('aria-disabled', 'true');
  const stop = showBusy(status);
  try {
    const shown = await work();
    showStatus(status, 'ok', ...shown);
  } catch (e) {
    showStatus(status, 'error', e.message);
  } finally {
    stop();
    form.removeAttribute('aria-busy');
    button.removeAttribute('aria-disabled');
  }
}

// Runs work as the action of a form each time it is submitted.
export function onSubmit(form, work) {
  form.addEventListener('submit', (event) => {
    event.preventDefault();
    runAction(event.currentTarget, work);
  });
}

const dialog = () => document.getElementById('confirm-destroy');

export const asking = () => dialog().open;

// Asks before destroying; resolves to true when the person confirmed.
export function confirmDestroy(...question) {
  const shown = dialog();
  document.getElementById('confirm-text').replaceChildren(...question);
  shown.returnValue = '';
  shown.showModal();
  return new Promise((resolve) => {
    shown.addEventListener('close', () => resolve(shown.returnValue === 'destroy'), { once: true });
  });
}
