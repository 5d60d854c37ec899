// The Corvane page: forms that send the gateway's modes and show what it
// answers. Every request is a POST of a urlencoded form, so the page keeps
// working where the web server lets only POST requests reach the gateway.
//
// Nothing from a response is ever parsed into this page as HTML: answers
// are read with DOMParser as XML, and what they hold reaches the page only
// through textContent, form values and elements built here. Metadata is
// the server's raw text and may hold any markup, <script> included.
'use strict';

(() => {
  const gatewayUrl = new URL(document.body.dataset.gateway, location.origin + location.pathname).href;
  // The gateway wants a server and a node in every mode, even in those that
  // use neither.
  const ACCOUNT = { host: '-', nodeId: '-' };

  const $ = (id) => document.getElementById(id);
  const field = (id) => $(id).value.trim();
  const nodeList = (text) => text.split(',').map((s) => s.trim()).filter((s) => s !== '');

  // A failure worded for the person: the gateway's error text unchanged, or
  // what went wrong on the way to it.
  class GatewayError extends Error {}

  function encodeForm(params) {
    return Object.entries(params)
      .map(([name, value]) => `${encodeURIComponent(name)}=${encodeURIComponent(value)}`)
      .join('&');
  }

  // Sends one mode; resolves to { doc, text }: the parsed answer (null when
  // it is not well-formed, as a getMetadata of a stream that is not XML
  // is) and its raw text. Rejects with the gateway's own error text.
  async function callGateway(params) {
    let reply;
    try {
      reply = await fetch(gatewayUrl, {
        method: 'POST',
        // Exactly this type: the gateway refuses one with a charset added.
        headers: { 'Content-Type': 'application/x-www-form-urlencoded' },
        body: encodeForm(params),
        credentials: 'same-origin',
        cache: 'no-store',
      });
    } catch (e) {
      throw new GatewayError('The gateway could not be reached.');
    }
    const text = await reply.text();
    if (!reply.ok) {
      throw new GatewayError(`The web server answered ${reply.status} ${reply.statusText}`.trim() + '.');
    }
    const doc = new DOMParser().parseFromString(text, 'application/xml');
    if (doc.getElementsByTagName('parsererror').length > 0) {
      if (!text.startsWith('<response>')) throw new GatewayError('The gateway did not answer with a response.');
      return { doc: null, text };
    }
    const root = doc.documentElement;
    if (root.localName !== 'response') throw new GatewayError('The gateway did not answer with a response.');
    const error = Array.from(root.children).find((e) => e.localName === 'error');
    if (error) throw new GatewayError(error.textContent);
    return { doc, text };
  }

  // The text an answer carries between a fixed start and end. The gateway
  // writes user and node names unescaped, so the raw text is the name even
  // where a '&' or '<' in it left the answer not well-formed.
  function answerText(answer, start, end) {
    const text = answer.text.trimEnd();
    if (text.startsWith(start) && text.endsWith(end) && text.length >= start.length + end.length) {
      return text.slice(start.length, text.length - end.length);
    }
    throw new GatewayError('The gateway\'s answer is not one this page knows.');
  }

  function wellFormed(answer) {
    if (!answer.doc) throw new GatewayError('The gateway answered with XML that is not well-formed.');
    return answer.doc.documentElement;
  }

  // Shows an outcome in a form's status line: 'ok', 'error' or 'busy'.
  function showStatus(status, kind, ...content) {
    status.className = `status ${kind}`;
    status.replaceChildren(...content);
  }

  function code(text) {
    const element = document.createElement('code');
    element.textContent = text;
    return element;
  }

  // Runs one action of a form: its status line shows progress meanwhile
  // and then the outcome. The rest of the page stays usable; the same form
  // ignores a second submission until the first is answered.
  async function runAction(form, work) {
    if (form.getAttribute('aria-busy') === 'true') return;
    const status = form.querySelector(':scope > .status');
    const button = form.querySelector(':scope > .buttons > button[type=submit]');
    form.setAttribute('aria-busy', 'true');
    button.setAttribute('aria-disabled', 'true');
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
    try {
      const shown = await work();
      showStatus(status, 'ok', ...shown);
    } catch (e) {
      showStatus(status, 'error', e.message);
    } finally {
      clearInterval(timer);
      form.removeAttribute('aria-busy');
      button.removeAttribute('aria-disabled');
    }
  }

  function onSubmit(id, work) {
    $(id).addEventListener('submit', (event) => {
      event.preventDefault();
      runAction(event.currentTarget, work);
    });
  }

  // --- Who you are, and your preferences ----------------------------------

  async function showUser() {
    try {
      const answer = await callGateway({ mode: 'getUser', ...ACCOUNT });
      $('user').textContent = wellFormed(answer).textContent;
    } catch (e) {
      showStatus($('user-status'), 'error', e.message);
    }
  }

  const PREFS = [['server', 'host'], ['nodes', 'nodes'], ['stream', 'stream']];

  // Fills the fields a person has not typed into yet from the saved
  // preferences, and checks the remembered server.
  async function loadPreferences() {
    const status = $('prefs-status');
    try {
      const root = wellFormed(await callGateway({ mode: 'loadUser', ...ACCOUNT }));
      const prefs = Array.from(root.children).find((e) => e.localName === 'prefs');
      if (!prefs) return;
      for (const [name, id] of PREFS) {
        const saved = Array.from(prefs.children).find((e) => e.localName === name);
        if (saved && $(id).value === '') $(id).value = saved.textContent;
      }
      if (field('host') !== '') $('server-form').requestSubmit();
    } catch (e) {
      showStatus(status, 'error', e.message);
    }
  }

  // Saves go one at a time in the order of the reads: two reads in quick
  // succession must leave the later one's values, whichever request would
  // end first. sendPreferences never rejects, so the chain never breaks.
  let saving = Promise.resolve();

  function savePreferences(values) {
    saving = saving.then(() => sendPreferences(values));
  }

  async function sendPreferences(values) {
    const doc = document.implementation.createDocument(null, 'prefs', null);
    for (const [name] of PREFS) {
      const element = doc.createElement(name);
      element.textContent = values[name];
      doc.documentElement.appendChild(element);
    }
    const status = $('prefs-status');
    try {
      await callGateway({ mode: 'saveUser', ...ACCOUNT, corvaneMetadata: new XMLSerializer().serializeToString(doc) });
      showStatus(status, 'ok', 'Server, nodes and stream remembered for your next visit.');
    } catch (e) {
      showStatus(status, 'error', e.message);
    }
  }

  // --- Server --------------------------------------------------------------

  onSubmit('server-form', async () => {
    const host = field('host');
    const root = wellFormed(await callGateway({ mode: 'isAdmin', host, nodeId: '/' }));
    const admin = root.textContent.trim() === 'true';
    return [admin ? 'You are an administrator of ' : 'You are not an administrator of ', code(host), '.'];
  });

  // --- Metadata ------------------------------------------------------------

  // The metadata texts exactly as the server keeps them, cut from the raw
  // answer: serializing the parsed answer would rewrite them (quotes, empty
  // elements, namespaces), and a stream need not be XML at all. The answer
  // holds, for each node asked for, in order:
  // <node><nodeId>ID</nodeId><host>HOST</host>TEXT</node>, with ID and HOST
  // escaped as the gateway escapes them.
  function xmlText(value) {
    const entities = { '<': '&lt;', '>': '&gt;', '&': '&amp;', '"': '&quot;', "'": '&apos;' };
    return value.replace(/[<>&"']/g, (c) => entities[c]);
  }

  function metadataTexts(text, host, ids) {
    const head = (id) => `<node><nodeId>${xmlText(id)}</nodeId><host>${xmlText(host)}</host>`;
    const texts = [];
    let at = '<response>'.length;
    for (let i = 0; i < ids.length; i++) {
      if (!text.startsWith(head(ids[i]), at)) return null;
      const from = at + head(ids[i]).length;
      const end = i + 1 < ids.length
        ? text.indexOf(`</node>${head(ids[i + 1])}`, from)
        : text.lastIndexOf('</node></response>');
      if (end < from) return null;
      texts.push(text.slice(from, end));
      at = end + '</node>'.length;
    }
    return texts;
  }

  let cardCount = 0;

  function nodeCard(host, id, stream, text) {
    const card = $('node-card').content.firstElementChild.cloneNode(true);
    card.querySelector('.node-id').textContent = id;
    card.querySelector('.node-host').textContent = `${stream} on ${host}`;
    const textarea = card.querySelector('textarea');
    const label = card.querySelector('label');
    textarea.id = `metadata-${++cardCount}`;
    label.htmlFor = textarea.id;
    label.textContent = `Metadata of ${id}`;
    textarea.value = text;
    textarea.rows = Math.min(Math.max(text.split('\n').length + 1, 3), 20);
    card.querySelector('form').addEventListener('submit', (event) => {
      event.preventDefault();
      runAction(event.currentTarget, async () => {
        await callGateway({ mode: 'setMetadata', host, nodeId: id, streamName: stream, corvaneMetadata: textarea.value });
        return ['Saved.'];
      });
    });
    return card;
  }

  onSubmit('read-form', async () => {
    const host = field('host');
    const nodesText = $('nodes').value;
    const ids = nodeList(nodesText);
    const stream = field('stream');
    const answer = await callGateway({ mode: 'getMetadata', host, nodeId: ids.join(','), streamName: stream });
    const texts = metadataTexts(answer.text, host, ids);
    if (!texts) throw new GatewayError('The gateway\'s answer did not list the nodes asked for.');
    $('results').replaceChildren(...ids.map((id, i) => nodeCard(host, id, stream, texts[i])));
    if ($('create-parent').value === '') $('create-parent').value = ids[0];
    savePreferences({ server: host, nodes: nodesText.trim(), stream });
    return [ids.length === 1 ? 'Read 1 node.' : `Read ${ids.length} nodes.`];
  });

  // --- Create and destroy ---------------------------------------------------

  onSubmit('create-form', async () => {
    const answer = await callGateway({
      mode: 'createNode',
      host: field('host'),
      nodeId: field('create-parent'),
      displayName: $('create-name').value,
      type: field('create-type'),
    });
    const node = wellFormed(answer).firstElementChild;
    if (!node || node.localName !== 'node') throw new GatewayError('The gateway\'s answer is not one this page knows.');
    return ['Created ', code(node.textContent), '.'];
  });

  // Asks before destroying; resolves to true when the person confirmed.
  function confirmDestroy(node, host, recursive) {
    const dialog = $('confirm-destroy');
    $('confirm-text').replaceChildren('Destroy ', code(node),
      recursive ? ' and every node under it on ' : ' on ', code(host), '?');
    dialog.returnValue = '';
    dialog.showModal();
    return new Promise((resolve) => {
      dialog.addEventListener('close', () => resolve(dialog.returnValue === 'destroy'), { once: true });
    });
  }

  $('destroy-form').addEventListener('submit', async (event) => {
    event.preventDefault();
    const form = event.currentTarget;
    if (form.getAttribute('aria-busy') === 'true' || $('confirm-destroy').open) return;
    const host = field('host');
    const node = field('destroy-node');
    const recursive = $('destroy-recursive').checked;
    if (!(await confirmDestroy(node, host, recursive))) {
      showStatus(form.querySelector('.status'), 'ok', 'Nothing was destroyed.');
      return;
    }
    runAction(form, async () => {
      await callGateway({ mode: recursive ? 'destroyNodeRecursive' : 'destroyNode', host, nodeId: node });
      return ['Destroyed ', code(node), '.'];
    });
  });

  showUser();
  loadPreferences();
})();
