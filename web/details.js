// The selected node beside the tree: its facts, its path as breadcrumbs,
// its metadata streams to read, edit and save, and forms to make a node
// under it or destroy it.
import { GatewayError, getMetadata, getNodeInfo, setMetadata } from './gateway.js';
import { setAddress } from './address.js';
import { createNode, destroyNode } from './nodes.js';
import { code, onSubmit, runAction, showBusy, showStatus, statusOf } from './status.js';
import { pathTo } from './tree.js';

const $ = (id) => document.getElementById(id);

export const childCount = (n) => (n === 0 ? 'no children' : n === 1 ? '1 child' : `${n} children`);

// Rows enough for a text, within bounds.
export const rowsFor = (text) => Math.min(Math.max(text.split('\n').length + 1, 3), 20);

export class Details {
  constructor(server) {
    this.server = server;
    this.shown = null;  // the node whose details are shown
    // { host, node, stream, text, changed } in the editor: text is the
    // stream as the server last had it, as far as this page knows.
    this.stream = null;
    this.streamToken = 0;
    this.saving = null;  // a save of the editor in progress
    onSubmit($('stream-form'), () => this.saveStream());
    $('conflict-reload').addEventListener('click', () => runAction($('stream-form'), () => this.reloadStream()));
    $('conflict-overwrite').addEventListener('click', () => {
      runAction($('stream-form'), () => this.writeStream(this.stream));
    });
    onSubmit($('child-form'), () => this.createChild());
    $('remove-form').addEventListener('submit', (event) => {
      event.preventDefault();
      if (this.shown) this.destroy(event.currentTarget);
    });
  }

  // Shows a node's details, null for none: what the tree knows at once,
  // then the rest from getNodeInfo.
  async show(node) {
    this.shown = node;
    this.stream = null;
    this.streamToken++;
    $('details-empty').hidden = node !== null;
    $('details-body').hidden = node === null;
    $('stream-form').hidden = true;
    $('stream-conflict').hidden = true;
    showStatus($('stream-status'), 'ok');
    $('streams').replaceChildren();
    if (!node) {
      $('crumbs').replaceChildren();
      return;
    }
    const host = this.server.host;
    setAddress(host, node.id);
    this.drawPath(node);
    $('details-heading').textContent = node.name;
    $('node-type').textContent = node.kind || 'unknown';
    $('node-name').textContent = node.name;
    $('node-id').textContent = node.id;
    $('node-children').textContent = '';
    const status = $('details-status');
    const stop = showBusy(status);
    try {
      const info = await getNodeInfo(host, node.id);
      if (this.shown !== node) return;
      this.server.renamed(node, info);
      $('node-type').textContent = info.type;
      $('node-name').textContent = info.name;
      $('node-children').textContent = String(info.children);
      $('streams').replaceChildren(...info.streams.map((stream) => this.streamButton(host, node, stream)));
      showStatus(status, 'ok', info.streams.length === 0 ? 'It has no metadata streams.' : '');
    } catch (e) {
      if (this.shown === node) showStatus(status, 'error', e.message);
    } finally {
      stop();
    }
  }

  // A node in the path of the shown one has a new name or kind.
  renamed(node) {
    if (this.shown && pathTo(this.shown).includes(node)) this.drawPath(this.shown);
    if (node === this.shown) $('details-heading').textContent = $('node-name').textContent = node.name;
  }

  // A folder's children were asked for again.
  reloaded(node) {
    if (this.shown === node && node.children) $('node-children').textContent = String(node.children.length);
  }

  drawPath(node) {
    const path = pathTo(node);
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
        button.addEventListener('click', () => this.server.show(at));
      }
      return item;
    }));
  }

  streamButton(host, node, stream) {
    const item = document.createElement('li');
    const button = item.appendChild(document.createElement('button'));
    button.type = 'button';
    button.textContent = stream;
    button.setAttribute('aria-pressed', 'false');
    button.addEventListener('click', () => this.readStream(host, node, stream, button));
    return item;
  }

  async readStream(host, node, stream, button) {
    const token = ++this.streamToken;
    for (const other of $('streams').querySelectorAll('button')) {
      other.setAttribute('aria-pressed', String(other === button));
    }
    const status = $('stream-status');
    const stop = showBusy(status);
    try {
      const [text] = await getMetadata(host, [node.id], stream, 'The gateway\'s answer did not name the node asked for.');
      if (token !== this.streamToken) return;
      this.stream = { host, node, stream, text, changed: false };
      $('stream-conflict').hidden = true;
      $('stream-label').textContent = `Metadata stream ${stream} of ${node.name}`;
      const textarea = $('stream-text');
      textarea.value = text;
      textarea.rows = rowsFor(text);
      showStatus(statusOf($('stream-form')), 'ok');
      $('stream-form').hidden = false;
      showStatus(status, 'ok');
    } catch (e) {
      if (token === this.streamToken) showStatus(status, 'error', e.message);
    } finally {
      stop();
    }
  }

  // Never over a change made on the server since the editor was filled:
  // the stored text is read first, events or not, since a change may fall
  // between two streams of events.
  async saveStream() {
    const open = this.stream;
    if (!open.changed) {
      const [now] = await getMetadata(open.host, [open.node.id], open.stream, 'The gateway\'s answer did not name the node.');
      if (now !== open.text) this.conflict(open);
    }
    if (open.changed) throw new GatewayError('Not saved: the stream changed on the server. Reload it or overwrite it.');
    return this.writeStream(open);
  }

  async writeStream(open) {
    const text = $('stream-text').value;
    this.saving = setMetadata(open.host, open.node.id, open.stream, text).then(() => { open.text = text; });
    try {
      await this.saving;
    } finally {
      this.saving = null;
    }
    open.changed = false;
    if (this.stream === open) $('stream-conflict').hidden = true;
    return ['Saved ', code(open.stream), ' of ', code(open.node.id), '.'];
  }

  // The server says a stream changed; the editor says so when it is that
  // stream and the text is not what this page itself saved.
  async streamChanged(host, id, stream) {
    const open = this.stream;
    if (!open || open.host !== host || open.node.id !== id || open.stream !== stream || open.changed) return;
    if (this.saving) await this.saving.catch(() => {});
    const [now] = await getMetadata(host, [id], stream, 'The gateway\'s answer did not name the node.');
    if (this.stream === open && now !== open.text) this.conflict(open);
  }

  conflict(open) {
    open.changed = true;
    if (this.stream === open) $('stream-conflict').hidden = false;
  }

  // The stream as the server has it now, in place of the editor's text.
  async reloadStream() {
    const open = this.stream;
    const [text] = await getMetadata(open.host, [open.node.id], open.stream, 'The gateway\'s answer did not name the node.');
    if (this.stream === open) {
      Object.assign(open, { text, changed: false });
      $('stream-text').value = text;
      $('stream-text').rows = rowsFor(text);
      $('stream-conflict').hidden = true;
    }
    return ['Reloaded ', code(open.stream), '.'];
  }

  createChild() {
    const made = {
      host: this.server.host, parentId: this.shown.id, displayName: $('child-name').value, type: $('child-type').value.trim(),
    };
    return createNode(this.server, made, () => { $('child-name').value = ''; });
  }

  // The confirmation names the node and how many children it has now.
  destroy(form) {
    const node = this.shown;
    const host = this.server.host;
    const recursive = $('remove-recursive').checked;
    return destroyNode(form, this.server, { host, id: node.id, recursive }, async () => {
      const status = statusOf(form);
      const stop = showBusy(status);
      let info;
      try {
        info = await getNodeInfo(host, node.id);
      } catch (e) {
        showStatus(status, 'error', e.message);
        return null;
      } finally {
        stop();
      }
      showStatus(status, 'ok');
      return ['Destroy ', code(info.name), ' (', code(node.id), ')', recursive ? ' and every node under it' : '',
        ' on ', code(host), `? It has ${childCount(info.children)}.`];
    });
  }
}
