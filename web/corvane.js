// The Corvane page: a server's node tree (tree.js) with the selected node's
// details beside it, and forms for several nodes at once, all sending the
// gateway's modes and showing what it answers. Every request is a POST of
// a urlencoded form: the gateway runs its writes for nothing else. The
// address carries the server and the selected node (#host=...&node=...),
// so a link opens the same node.
//
// Nothing from a response is ever parsed into this page as HTML: answers
// are read with DOMParser as XML, and what they hold reaches the page only
// through textContent, form values and elements built here. Metadata is
// the server's raw text and may hold any markup, <script> included.
'use strict';

(() => {
  const gatewayUrl = new URL(document.body.dataset.gateway, location.origin + location.pathname).href;
  const ROOT = document.body.dataset.root || '/';
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

  // Shows progress in a status line until the returned function is called.
  function showBusy(status) {
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

  // Runs one action of a form: its status line shows progress meanwhile
  // and then the outcome. The rest of the page stays usable; the same form
  // ignores a second submission until the first is answered.
  async function runAction(form, work) {
    if (form.getAttribute('aria-busy') === 'true') return;
    const status = form.querySelector(':scope > .status');
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

  function onSubmit(id, work) {
    $(id).addEventListener('submit', (event) => {
      event.preventDefault();
      runAction(event.currentTarget, work);
    });
  }

  // The direct children of an element with a name, and the text of the first.
  const childrenNamed = (element, name) => Array.from(element.children).filter((e) => e.localName === name);
  const childNamed = (element, name) => childrenNamed(element, name)[0] || null;
  const textOf = (element, name) => {
    const child = childNamed(element, name);
    return child ? child.textContent : '';
  };
  const unknownAnswer = () => new GatewayError('The gateway\'s answer is not one this page knows.');

  // --- Who you are, and your preferences ----------------------------------

  async function showUser() {
    try {
      const answer = await callGateway({ mode: 'getUser', ...ACCOUNT });
      $('user').textContent = wellFormed(answer).textContent;
    } catch (e) {
      showStatus($('user-status'), 'error', e.message);
    }
  }

  // What is remembered for the next visit; saveUser replaces the whole
  // document, so every save writes all of it. open: the folders open in the
  // tree of that server.
  const prefs = { server: '', nodes: '', stream: '', open: [] };
  const PREFS = [['server', 'host'], ['nodes', 'nodes'], ['stream', 'stream']];
  const MAX_OPEN = 500;

  // Fills the fields a person has not typed into yet from the saved
  // preferences, and opens the remembered server unless the address named
  // one. Never rejects.
  async function loadPreferences() {
    try {
      const root = wellFormed(await callGateway({ mode: 'loadUser', ...ACCOUNT }));
      const saved = childNamed(root, 'prefs');
      if (!saved) return;
      for (const [name, id] of PREFS) {
        const element = childNamed(saved, name);
        if (element && $(id).value === '') $(id).value = element.textContent;
      }
      prefs.nodes = textOf(saved, 'nodes');
      prefs.stream = textOf(saved, 'stream');
      const server = textOf(saved, 'server');
      const open = childNamed(saved, 'open');
      const folders = open ? childrenNamed(open, 'node').map((e) => e.textContent).slice(0, MAX_OPEN) : [];
      // A server the address named is open already; its folders are
      // reopened only if it is the one remembered.
      if (browser.host === '') {
        Object.assign(prefs, { server, open: folders });
        if (field('host') !== '') $('server-form').requestSubmit();
      } else if (browser.host === server) {
        prefs.open = folders;
        for (const id of folders) browser.restore.add(id);
        restoreOpen();
      }
    } catch (e) {
      showStatus($('prefs-status'), 'error', e.message);
    }
  }

  // Saves go one at a time, in order, and only once the saved preferences
  // were read: a save before that would replace what is still to be read.
  // sendPreferences never rejects, so the chain never breaks.
  let saving = null;

  function savePreferences(report) {
    saving = saving.then(() => sendPreferences(report));
  }

  // The tree's opening and closing is saved a moment after it settles.
  let saveTimer = 0;
  function scheduleSave() {
    clearTimeout(saveTimer);
    saveTimer = setTimeout(() => savePreferences(false), 300);
  }

  // The folders to reopen next time: those open now, and those still to be
  // reopened from the last visit.
  function openFolders() {
    if (browser.host !== prefs.server || !tree.root) return prefs.open;
    const open = new Set();
    for (const node of tree.loaded()) if (node.open && node !== tree.root) open.add(node.id);
    for (const id of browser.restore) open.add(id);
    return Array.from(open).slice(0, MAX_OPEN);
  }

  // report: say so in the read's status line; otherwise only a failure is
  // shown, beside the tree.
  async function sendPreferences(report) {
    prefs.open = openFolders();
    const doc = document.implementation.createDocument(null, 'prefs', null);
    for (const [name] of PREFS) {
      const element = doc.createElement(name);
      element.textContent = prefs[name];
      doc.documentElement.appendChild(element);
    }
    const open = doc.createElement('open');
    for (const id of prefs.open) open.appendChild(doc.createElement('node')).textContent = id;
    doc.documentElement.appendChild(open);
    try {
      await callGateway({ mode: 'saveUser', ...ACCOUNT, corvaneMetadata: new XMLSerializer().serializeToString(doc) });
      if (report) showStatus($('prefs-status'), 'ok', 'Server, nodes and stream remembered for your next visit.');
    } catch (e) {
      showStatus(report ? $('prefs-status') : $('tree-status'), 'error', `Could not remember your choices: ${e.message}`);
    }
  }

  // --- Gateway modes of the tree -------------------------------------------

  // A folder's children as [{ id, name, kind }]. Their types cost the
  // gateway server calls of their own and it refuses them for a large
  // folder; the children then come without, their kind unknown.
  async function loadChildren(host, id) {
    let answer;
    let typed = true;
    try {
      answer = await callGateway({ mode: 'getChildren', host, nodeId: id, withTypes: '1' });
    } catch (e) {
      if (!(e instanceof GatewayError) || !e.message.startsWith('Too many nodes in one request')) throw e;
      typed = false;
      answer = await callGateway({ mode: 'getChildren', host, nodeId: id });
    }
    const node = childNamed(wellFormed(answer), 'node');
    if (!node) throw unknownAnswer();
    return childrenNamed(node, 'child').map((child) => {
      const childId = textOf(child, 'nodeId');
      if (childId === '') throw unknownAnswer();
      return { id: childId, name: textOf(child, 'displayName') || childId, kind: typed ? textOf(child, 'type') : '' };
    });
  }

  async function nodeInfo(host, id) {
    const node = childNamed(wellFormed(await callGateway({ mode: 'getNodeInfo', host, nodeId: id })), 'node');
    if (!node) throw unknownAnswer();
    const streams = childNamed(node, 'streams');
    return {
      type: textOf(node, 'type'),
      name: textOf(node, 'displayName'),
      parentId: textOf(node, 'parentId'),
      children: Number.parseInt(textOf(node, 'numChildren'), 10),
      streams: streams ? childrenNamed(streams, 'stream').map((e) => e.textContent) : [],
    };
  }

  // --- The tree ---------------------------------------------------------------

  // The server whose tree is shown; generation changes with each opening,
  // so that answers for an earlier tree are dropped. restore: folders of
  // the last visit still to be reopened as they come into view.
  const browser = { host: '', generation: 0, restore: new Set() };
  // A node named by the address, to be shown once its server is open.
  let wanted = null;

  const tree = new CorvaneTree($('tree'), {
    load: (node) => loadChildren(browser.host, node.id),
    select: (node) => showNode(node),
    changed: () => {
      restoreOpen();
      scheduleSave();
    },
    failed: (node, e) => showStatus($('tree-status'), 'error', `Could not open ${node.name}: ${e.message}`),
  });

  function restoreOpen() {
    if (browser.restore.size === 0) return;
    const found = [];
    for (const node of tree.loaded()) if (browser.restore.has(node.id) && !node.open) found.push(node);
    for (const node of found) {
      browser.restore.delete(node.id);
      tree.expand(node).catch(() => {});
    }
  }

  function setAddress(host, id) {
    const params = new URLSearchParams({ host });
    if (id !== null) params.set('node', id);
    history.replaceState(null, '', `#${params}`);
  }

  function readAddress() {
    const params = new URLSearchParams(location.hash.slice(1));
    return { host: (params.get('host') || '').trim(), node: params.get('node') };
  }

  // Shows a server's tree with its root open; selects the node the address
  // named, or else the root.
  function openServer(host) {
    browser.host = host;
    browser.generation++;
    if (host !== prefs.server) Object.assign(prefs, { server: host, open: [] });
    browser.restore = new Set(prefs.open);
    $('browser').hidden = false;
    $('tree-host').textContent = host;
    showStatus($('tree-status'), 'ok');
    showNode(null);
    const root = tree.reset(ROOT, ROOT);
    tree.expand(root).catch(() => {});
    const target = wanted && wanted.host === host ? wanted.node : null;
    wanted = null;
    if (target !== null && target !== ROOT) {
      nodeInfo(host, ROOT).then((info) => { if (tree.root === root) renamed(root, info); }, () => {});
      reveal(host, target);
    } else {
      tree.select(root);
    }
  }

  // Opens the folders down to a node of the tree and selects it: the
  // node's ancestors come from the server, one getNodeInfo each.
  const MAX_DEPTH = 256;
  async function reveal(host, id) {
    const generation = browser.generation;
    const stale = () => generation !== browser.generation;
    try {
      const chain = [id];
      for (let at = id; at !== ROOT;) {
        if (chain.length > MAX_DEPTH) throw new GatewayError(`It is more than ${MAX_DEPTH} levels deep.`);
        const info = await nodeInfo(host, at);
        if (stale()) return;
        if (info.parentId === '') throw new GatewayError(`It is not under the root node ${ROOT}.`);
        chain.unshift(info.parentId);
        at = info.parentId;
      }
      let node = tree.root;
      for (const next of chain.slice(1)) {
        await tree.expand(node);
        if (stale()) return;
        const child = (node.children || []).find((c) => c.id === next);
        if (!child) throw new GatewayError(`${next} is not among the children of ${node.id}.`);
        node = child;
      }
      tree.openTo(node);
      tree.select(node);
      tree.setActive(node, document.activeElement === document.body);
    } catch (e) {
      if (!stale()) showStatus($('tree-status'), 'error', `Could not show node ${id}: ${e.message}`);
    }
  }

  // --- The selected node ------------------------------------------------------

  let shownNode = null;  // the node whose details are shown
  let shownStream = null;  // { host, node, stream } in the editor
  let streamToken = 0;

  function renamed(node, info) {
    tree.update(node, { name: info.name || node.id, kind: info.type });
    if (shownNode && tree.path(shownNode).includes(node)) drawPath(shownNode);
    if (node === shownNode) $('details-heading').textContent = node.name;
  }

  function drawPath(node) {
    const path = tree.path(node);
    $('crumbs').replaceChildren(...path.map((at, i) => {
      const item = document.createElement('li');
      if (i === path.length - 1) {
        const here = item.appendChild(document.createElement('span'));
        here.setAttribute('aria-current', 'location');
        here.textContent = at.name;
      } else {
        const button = item.appendChild(document.createElement('button'));
        button.type = 'button';
        button.className = 'crumb';
        button.textContent = at.name;
        button.addEventListener('click', () => {
          if (!tree.inTree(at)) return;
          tree.openTo(at);
          tree.select(at);
          tree.setActive(at, true);
        });
      }
      return item;
    }));
  }

  // Shows a node's details: what the tree knows at once, then the rest
  // from getNodeInfo.
  async function showNode(node) {
    shownNode = node;
    shownStream = null;
    streamToken++;
    $('details-empty').hidden = node !== null;
    $('details-body').hidden = node === null;
    $('stream-form').hidden = true;
    showStatus($('stream-status'), 'ok');
    $('streams').replaceChildren();
    if (!node) {
      $('crumbs').replaceChildren();
      return;
    }
    const host = browser.host;
    setAddress(host, node.id);
    drawPath(node);
    $('details-heading').textContent = node.name;
    $('node-type').textContent = node.kind || 'unknown';
    $('node-name').textContent = node.name;
    $('node-id').textContent = node.id;
    $('node-children').textContent = '';
    const status = $('details-status');
    const stop = showBusy(status);
    try {
      const info = await nodeInfo(host, node.id);
      if (shownNode !== node) return;
      renamed(node, info);
      $('node-type').textContent = info.type;
      $('node-name').textContent = info.name;
      $('node-children').textContent = String(info.children);
      $('streams').replaceChildren(...info.streams.map((stream) => {
        const item = document.createElement('li');
        const button = item.appendChild(document.createElement('button'));
        button.type = 'button';
        button.textContent = stream;
        button.setAttribute('aria-pressed', 'false');
        button.addEventListener('click', () => readStream(host, node, stream, button));
        return item;
      }));
      showStatus(status, 'ok', info.streams.length === 0 ? 'It has no metadata streams.' : '');
    } catch (e) {
      if (shownNode === node) showStatus(status, 'error', e.message);
    } finally {
      stop();
    }
  }

  async function readStream(host, node, stream, button) {
    const token = ++streamToken;
    for (const other of $('streams').querySelectorAll('button')) {
      other.setAttribute('aria-pressed', String(other === button));
    }
    const status = $('stream-status');
    const stop = showBusy(status);
    try {
      const answer = await callGateway({ mode: 'getMetadata', host, nodeId: node.id, streamName: stream });
      const texts = metadataTexts(answer.text, host, [node.id]);
      if (!texts) throw new GatewayError('The gateway\'s answer did not name the node asked for.');
      if (token !== streamToken) return;
      shownStream = { host, node, stream };
      $('stream-label').textContent = `Metadata stream ${stream} of ${node.name}`;
      const textarea = $('stream-text');
      textarea.value = texts[0];
      textarea.rows = Math.min(Math.max(texts[0].split('\n').length + 1, 3), 20);
      showStatus($('stream-form').querySelector('.status'), 'ok');
      $('stream-form').hidden = false;
      showStatus(status, 'ok');
    } catch (e) {
      if (token === streamToken) showStatus(status, 'error', e.message);
    } finally {
      stop();
    }
  }

  onSubmit('stream-form', async () => {
    const { host, node, stream } = shownStream;
    const corvaneMetadata = $('stream-text').value;
    await callGateway({ mode: 'setMetadata', host, nodeId: node.id, streamName: stream, corvaneMetadata });
    return ['Saved ', code(stream), ' of ', code(node.id), '.'];
  });

  onSubmit('child-form', async () => {
    const node = shownNode;
    const host = browser.host;
    const answer = await callGateway({
      mode: 'createNode', host, nodeId: node.id, displayName: $('child-name').value, type: field('child-type'),
    });
    const created = wellFormed(answer).firstElementChild;
    if (!created || created.localName !== 'node') throw unknownAnswer();
    $('child-name').value = '';
    if (tree.inTree(node)) {
      await tree.reload(node);
      if (shownNode === node && node.children) $('node-children').textContent = String(node.children.length);
    }
    return ['Created ', code(created.textContent), '.'];
  });

  // Asks before destroying; resolves to true when the person confirmed.
  function confirmDestroy(...question) {
    const dialog = $('confirm-destroy');
    $('confirm-text').replaceChildren(...question);
    dialog.returnValue = '';
    dialog.showModal();
    return new Promise((resolve) => {
      dialog.addEventListener('close', () => resolve(dialog.returnValue === 'destroy'), { once: true });
    });
  }

  const childCount = (n) => (n === 0 ? 'no children' : n === 1 ? '1 child' : `${n} children`);

  // The confirmation names the node and how many children it has now.
  $('remove-form').addEventListener('submit', async (event) => {
    event.preventDefault();
    const form = event.currentTarget;
    if (form.getAttribute('aria-busy') === 'true' || $('confirm-destroy').open || !shownNode) return;
    const node = shownNode;
    const host = browser.host;
    const recursive = $('remove-recursive').checked;
    const status = form.querySelector(':scope > .status');
    let info;
    const stop = showBusy(status);
    try {
      info = await nodeInfo(host, node.id);
    } catch (e) {
      showStatus(status, 'error', e.message);
      return;
    } finally {
      stop();
    }
    showStatus(status, 'ok');
    const confirmed = await confirmDestroy('Destroy ', code(info.name), ' (', code(node.id), ')',
      recursive ? ' and every node under it' : '', ' on ', code(host), `? It has ${childCount(info.children)}.`);
    if (!confirmed) {
      showStatus(status, 'ok', 'Nothing was destroyed.');
      return;
    }
    runAction(form, async () => {
      await callGateway({ mode: recursive ? 'destroyNodeRecursive' : 'destroyNode', host, nodeId: node.id });
      const parent = node.parent;
      if (parent && tree.inTree(node)) {
        tree.remove(node);
        tree.select(parent);
      }
      return ['Destroyed ', code(node.id), '.'];
    });
  });

  // --- Server --------------------------------------------------------------

  onSubmit('server-form', async () => {
    const host = field('host');
    if (host !== '') openServer(host);
    const root = wellFormed(await callGateway({ mode: 'isAdmin', host, nodeId: ROOT }));
    const admin = root.textContent.trim() === 'true';
    return [admin ? 'You are an administrator of ' : 'You are not an administrator of ', code(host), '.'];
  });

  // A link to another node pasted into the address bar of the open page.
  window.addEventListener('hashchange', () => {
    const { host, node } = readAddress();
    if (host === '') return;
    if (host !== browser.host) {
      wanted = { host, node };
      $('host').value = host;
      $('server-form').requestSubmit();
    } else if (node !== null) {
      reveal(host, node);
    }
  });

  // --- Several nodes at once ----------------------------------------------------

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
    if (host !== prefs.server) Object.assign(prefs, { server: host, open: [] });
    Object.assign(prefs, { nodes: nodesText.trim(), stream });
    savePreferences(true);
    return [ids.length === 1 ? 'Read 1 node.' : `Read ${ids.length} nodes.`];
  });

  // The tree's node of that identifier, when the tree shows that server
  // and has loaded the node: what the forms below change shows there too.
  function loadedNode(host, id) {
    if (host !== browser.host) return null;
    for (const node of tree.loaded()) if (node.id === id && tree.inTree(node)) return node;
    return null;
  }

  onSubmit('create-form', async () => {
    const host = field('host');
    const parentId = field('create-parent');
    const answer = await callGateway({
      mode: 'createNode', host, nodeId: parentId, displayName: $('create-name').value, type: field('create-type'),
    });
    const node = wellFormed(answer).firstElementChild;
    if (!node || node.localName !== 'node') throw unknownAnswer();
    const parent = loadedNode(host, parentId);
    if (parent && parent.children) await tree.reload(parent);
    return ['Created ', code(node.textContent), '.'];
  });

  $('destroy-form').addEventListener('submit', async (event) => {
    event.preventDefault();
    const form = event.currentTarget;
    if (form.getAttribute('aria-busy') === 'true' || $('confirm-destroy').open) return;
    const host = field('host');
    const node = field('destroy-node');
    const recursive = $('destroy-recursive').checked;
    const under = recursive ? ' and every node under it on ' : ' on ';
    if (!(await confirmDestroy('Destroy ', code(node), under, code(host), '?'))) {
      showStatus(form.querySelector('.status'), 'ok', 'Nothing was destroyed.');
      return;
    }
    runAction(form, async () => {
      await callGateway({ mode: recursive ? 'destroyNodeRecursive' : 'destroyNode', host, nodeId: node });
      const gone = loadedNode(host, node);
      if (gone && gone.parent) {
        const parent = gone.parent;
        const shownGone = shownNode && tree.path(shownNode).includes(gone);
        tree.remove(gone);
        if (shownGone) tree.select(parent);
      }
      return ['Destroyed ', code(node), '.'];
    });
  });

  // --- Start ------------------------------------------------------------------

  showUser();
  const address = readAddress();
  if (address.host !== '') {
    wanted = address;
    $('host').value = address.host;
    $('server-form').requestSubmit();
  }
  saving = loadPreferences();
})();
